#include "platform/linux/UinputMouseBackend.h"

#include <libevdev/libevdev.h>

#include <algorithm>

namespace tl {

EvdevDescription UinputMouseBackend::describe()
{
    EvdevDescription dev = newDriverDevice("Tesselink Driver pointer");
    if (!dev)
        return dev;
    libevdev_enable_event_type(dev.get(), EV_SYN);
    libevdev_enable_event_type(dev.get(), EV_KEY);
    libevdev_enable_event_code(dev.get(), EV_KEY, BTN_LEFT, nullptr);
    libevdev_enable_event_code(dev.get(), EV_KEY, BTN_RIGHT, nullptr);
    // Never pressed, but without it libinput (every Wayland compositor and
    // Xorg's libinput driver) emulates a middle button from left and right and
    // holds each left press back up to 50 ms to see whether a right one
    // follows: the press then lands where the pen has moved to.
    libevdev_enable_event_code(dev.get(), EV_KEY, BTN_MIDDLE, nullptr);
    input_absinfo abs{};
    abs.minimum = 0;
    abs.maximum = kAbsMax;
    libevdev_enable_event_type(dev.get(), EV_ABS);
    libevdev_enable_event_code(dev.get(), EV_ABS, ABS_X, &abs);
    libevdev_enable_event_code(dev.get(), EV_ABS, ABS_Y, &abs);
    return dev;
}

std::unique_ptr<UinputMouseBackend> UinputMouseBackend::create(const QString &uinputPath, QString *error)
{
    std::unique_ptr<UinputDevice> device = UinputDevice::create(describe(), uinputPath, error);
    if (!device)
        return nullptr;
    return std::make_unique<UinputMouseBackend>(std::move(device));
}

UinputMouseBackend::UinputMouseBackend(std::unique_ptr<EvdevSink> sink) : m_sink(std::move(sink)) {}

bool UinputMouseBackend::sendMouse(int absX, int absY, quint32 flags)
{
    bool ok = true;
    auto put = [&](unsigned type, unsigned code, int value) { ok = m_sink->write(type, code, value) && ok; };
    bool pending = false;
    if (flags & MouseMove) {
        put(EV_ABS, ABS_X, std::clamp(absX, 0, kAbsMax));
        put(EV_ABS, ABS_Y, std::clamp(absY, 0, kAbsMax));
        pending = true;
    }
    const struct
    {
        quint32 flag;
        unsigned code;
        int value;
    } buttons[] = {
        {MouseLeftDown, BTN_LEFT, 1},
        {MouseLeftUp, BTN_LEFT, 0},
        {MouseRightDown, BTN_RIGHT, 1},
        {MouseRightUp, BTN_RIGHT, 0},
    };
    for (const auto &b : buttons) {
        if (!(flags & b.flag))
            continue;
        // Down and up of the same button in one frame would cancel out.
        if (pending && (b.value == 0) && ((b.code == BTN_LEFT && (flags & MouseLeftDown)) ||
                                          (b.code == BTN_RIGHT && (flags & MouseRightDown)))) {
            put(EV_SYN, SYN_REPORT, 0);
            pending = false;
        }
        put(EV_KEY, b.code, b.value);
        pending = true;
    }
    if (pending)
        put(EV_SYN, SYN_REPORT, 0);
    return ok;
}

} // namespace tl
