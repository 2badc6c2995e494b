#pragma once

// The input devices of the touch path's model test: the backends the
// platform's chooser would make (a touch device over the desktop, one per
// board display, or an absolute pointer), on sinks that keep what the kernel
// would be written, for the kernel models of InputTestSupport.h.
#include "platform/DesktopSpace.h"
#include "platform/InjectionChooser.h"
#include "platform/Screens.h"
#include "platform/linux/BoardTouchBackend.h"
#include "platform/linux/UinputMouseBackend.h"
#include "platform/linux/UinputTouchBackend.h"
#include "tests/input/InputTestSupport.h"

#include <QRect>

#include <memory>
#include <vector>

namespace touchmodel {

struct DeviceLog
{
    bool touch = true;
    QRect area;  // window-system rectangle a touch device covers
    std::vector<tltest::Event> pending;
    tltest::TouchStreamCheck touchCheck;
    tltest::PointerStreamCheck pointerCheck;
    bool closed = false;
    bool closedChecked = false;
};

class LogSink : public tl::EvdevSink
{
public:
    explicit LogSink(std::shared_ptr<DeviceLog> log) : m_log(std::move(log)) {}
    ~LogSink() override { m_log->closed = true; }
    bool write(unsigned type, unsigned code, int value) override
    {
        m_log->pending.push_back({type, code, value});
        return true;
    }

private:
    std::shared_ptr<DeviceLog> m_log;
};

// Makes the backends as the platform's chooser does, on sinks of our own: a
// touch device over the whole desktop (or one per board display), or an
// absolute pointer.
class ModelChooser : public tl::InjectionChooser
{
public:
    bool mouse = false;
    bool perDisplay = false;
    mutable std::vector<std::shared_ptr<DeviceLog>> logs;

    tl::InjectionSetup currentSetup() const override
    {
        tl::InjectionSetup setup;
        setup.monitors = tl::ScreenSource::monitors();
        for (const tl::MonitorInfo &m : setup.monitors)
            setup.desktop |= m.nativeGeometry();
        setup.managed = perDisplay;
        return setup;
    }

    tl::InjectionChoice choose(const tl::InjectionSetup &setup) const override
    {
        tl::InjectionChoice choice;
        if (mouse) {
            choice.backend = std::make_unique<tl::UinputMouseBackend>(std::make_unique<LogSink>(newLog(false, {})));
            return choice;
        }
        QList<QRect> areas;
        if (perDisplay)
            for (const QRect &board : setup.board)
                for (const tl::MonitorInfo &m : setup.monitors)
                    if (!board.isEmpty() && m.geometry.contains(board.center()))
                        areas << m.nativeGeometry();
        if (areas.isEmpty())
            areas << setup.desktop;
        std::vector<tl::BoardTouchBackend::Device> devices;
        for (const QRect &area : areas) {
            auto sink = std::make_unique<LogSink>(newLog(true, area));
            devices.push_back({std::make_unique<tl::UinputTouchBackend>(std::move(sink),
                                                                        tl::TouchDeviceGeometry{area}),
                               area, 0});
        }
        choice.backend = std::make_unique<tl::BoardTouchBackend>(std::move(devices),
                                                                 tl::DesktopSpace::fromMonitors(setup.monitors));
        return choice;
    }

private:
    std::shared_ptr<DeviceLog> newLog(bool touch, QRect area) const
    {
        auto log = std::make_shared<DeviceLog>();
        log->touch = touch;
        log->area = area;
        logs.push_back(log);
        return log;
    }
};

} // namespace touchmodel
