#pragma once

#include "platform/InjectionBackend.h"

#include <atomic>
#include <bitset>

namespace tl {

// A touch backend that keeps only which contacts are down and counts its
// calls (no allocation per call): for the fuzzer's and the soak's "contacts
// left down" check.
class CountingBackend : public InjectionBackend
{
public:
    Kind kind() const override { return Kind::Touch; }
    QString name() const override { return QStringLiteral("counting"); }
    bool injectTouch(const TouchRecord *records, int count) override
    {
        for (int i = 0; i < count; ++i) {
            const TouchRecord &r = records[i];
            if (r.pointerId < 0 || r.pointerId >= 64)
                continue;
            if (r.flags & TouchDown)
                m_down.set(static_cast<size_t>(r.pointerId));
            if (r.flags & TouchUp)
                m_down.reset(static_cast<size_t>(r.pointerId));
        }
        m_calls.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    bool sendMouse(int, int, quint32) override { return false; }
    // Read under the tracking mutex, or once the receive loops have stopped.
    int downNow() const { return static_cast<int>(m_down.count()); }
    long calls() const { return m_calls.load(); }

private:
    std::bitset<64> m_down;
    std::atomic<long> m_calls{0};
};

} // namespace tl
