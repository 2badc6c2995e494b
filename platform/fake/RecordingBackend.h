#pragma once

#include "platform/InjectionBackend.h"

#include <vector>

namespace tl {

// Records every injection call, in order, for tests and headless demo runs.
// Not for the per-cycle hot path of a measurement: recording allocates.
class RecordingBackend : public InjectionBackend
{
public:
    struct Call
    {
        enum class Type { Touch, Mouse } type = Type::Touch;
        std::vector<TouchRecord> records;  // Touch: the records as passed
        int absX = 0;                      // Mouse
        int absY = 0;
        quint32 flags = 0;
    };

    explicit RecordingBackend(Kind kind = Kind::Touch) : m_kind(kind) {}

    Kind kind() const override { return m_kind; }
    QString name() const override { return QStringLiteral("recording"); }
    bool injectTouch(const TouchRecord *records, int count) override;
    bool sendMouse(int absX, int absY, quint32 flags) override;

    const std::vector<Call> &calls() const { return m_calls; }
    void clear() { m_calls.clear(); }

private:
    Kind m_kind;
    std::vector<Call> m_calls;
};

} // namespace tl
