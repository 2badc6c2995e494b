#pragma once

#include "platform/InjectionBackend.h"
#include "platform/linux/UinputDevice.h"

#include <memory>

namespace tl {

// The mouse path's backend: an absolute pointer (ABS_X/ABS_Y 0..65535, left
// and right buttons, and a middle one it never presses). The injector's
// normalised positions and mouse flags go over one to one. A button that goes
// down and up in one input is written as two frames, so that nothing reading
// the device can lose the click.
class UinputMouseBackend : public InjectionBackend
{
public:
    static constexpr int kAbsMax = 65535;

    static EvdevDescription describe();
    static std::unique_ptr<UinputMouseBackend> create(const QString &uinputPath, QString *error);

    explicit UinputMouseBackend(std::unique_ptr<EvdevSink> sink);

    Kind kind() const override { return Kind::Mouse; }
    QString name() const override { return QStringLiteral("uinput pointer"); }
    bool injectTouch(const TouchRecord *, int) override { return false; }
    bool sendMouse(int absX, int absY, quint32 flags) override;

private:
    std::unique_ptr<EvdevSink> m_sink;
};

} // namespace tl
