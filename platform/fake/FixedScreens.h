#pragma once

#include "platform/Screens.h"

#include <QList>
#include <QMutex>

namespace tl {

// A fixed list of monitors in place of the window system's: tests and tools
// describe any monitor layout with it, on any display (or none).
class FixedScreens : public MonitorSource
{
public:
    QList<MonitorInfo> monitors() const override;
    void setMonitors(const QList<MonitorInfo> &monitors);

    // The process's one fixed layout: install() shows `monitors` to the driver
    // from now on (an empty list is a desktop without monitors), uninstall()
    // gives it Qt's screens again.
    static void install(const QList<MonitorInfo> &monitors);
    static void uninstall();

private:
    mutable QMutex m_lock;
    QList<MonitorInfo> m_monitors;
};

} // namespace tl
