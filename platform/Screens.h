#pragma once

#include <QList>
#include <QRect>
#include <QSizeF>
#include <QString>

namespace tl {

// One monitor as the window system reports it: its full area in desktop
// coordinates (not the work area) and its logical dots per inch.
//
// `geometry` is in Qt's device-independent desktop coordinates, the space every
// window and the display layout use. `native` is the same monitor in the window
// system's own coordinates: X11 root pixels, or the compositor's layout on
// Wayland. They differ under Qt scale factors (QT_SCALE_FACTOR, per-screen
// factors): Qt keeps a screen's top-left corner and divides its size. A null
// `native` means "same as geometry".
struct MonitorInfo
{
    MonitorInfo() = default;
    MonitorInfo(const QRect &g, double dpi = 96.0, bool isPrimary = false)
        : geometry(g), logicalDpi(dpi), primary(isPrimary)
    {
    }

    QRect geometry;
    double logicalDpi = 96.0;
    bool primary = false;
    QRect native;
    QString name;           // connector ("HDMI-1", "DP-2"), as the window system names it
    QString manufacturer;   // EDID strings where known
    QString model;
    QString serial;
    QSizeF physicalMm;      // 0 x 0 when the monitor does not say

    QRect nativeGeometry() const { return native.isNull() ? geometry : native; }
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

    // Index in `list` of the primary monitor: the one flagged primary (Qt's
    // primaryScreen()), else the one whose top-left corner is (0, 0), else 0;
    // -1 for an empty list.
    static int primaryIndex(const QList<MonitorInfo> &list);
};

} // namespace tl
