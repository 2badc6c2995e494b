#pragma once

#include <QList>
#include <QRect>

namespace tl {

// One monitor as the window system reports it: its full area in desktop
// coordinates (not the work area) and its logical dots per inch.
struct MonitorInfo
{
    QRect geometry;
    double logicalDpi = 96.0;
};

// The source of monitors, in the window system's enumeration order. By default
// Qt's screens; tests install a fixed list to describe any monitor layout.
class ScreenSource
{
public:
    static QList<MonitorInfo> monitors();
    // Replaces the monitors for tests; an empty optional restores Qt's screens.
    static void setOverride(const QList<MonitorInfo> &monitors);
    static void clearOverride();
};

} // namespace tl
