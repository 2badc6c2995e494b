#pragma once

#include <QList>
#include <QRect>
#include <QSizeF>
#include <QString>

class QScreen;
class QWindow;

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

// Where a list of monitors comes from, in the window system's enumeration
// order.
class MonitorSource
{
public:
    virtual ~MonitorSource() = default;
    virtual QList<MonitorInfo> monitors() const = 0;
};

// The monitors the driver works with: those of the installed source, by
// default Qt's screens (the window system's monitors as Qt reports them).
class ScreenSource
{
public:
    static QList<MonitorInfo> monitors();
    // Makes `source` the one the driver reads from; null puts Qt's screens
    // back. The caller keeps `source` alive while it is installed.
    static void install(const MonitorSource *source);

    // Index in `list` of the primary monitor: the one flagged primary (Qt's
    // primaryScreen()), else the one whose top-left corner is (0, 0), else 0;
    // -1 for an empty list.
    static int primaryIndex(const QList<MonitorInfo> &list);
    // The same without the last fallback: -1 when no monitor is flagged
    // primary and none lies at (0, 0).
    static int namedPrimaryIndex(const QList<MonitorInfo> &list);

private:
    static QList<MonitorInfo> qtScreens();
};

// Putting a window on a monitor. On X11 (and XWayland) a client gives its
// window a geometry and the window lands there. A Wayland client sets neither
// its position nor, under a tiling compositor, its size: it can only ask for
// full screen on one output, which it names by the screen its window is bound
// to. Windows that cover a monitor therefore bind to that monitor's screen
// before they are shown, and ask for full screen where geometry is not obeyed.
namespace placement {

// Whether the window system ignores a client's window position (native
// Wayland). False for X11, XWayland and the offscreen platform.
bool positionIgnored();

// The Qt screen that shows `rect` (desktop coordinates): the one holding its
// centre, else the one it overlaps most; null when no screen shows any of it.
QScreen *screenShowing(const QRect &rect);

// Binds `window` (created, not yet shown) to the screen that shows `rect` and
// returns that screen (null when none; the window is left as it was). Returns
// through `fullScreen` whether the window must ask for full screen to cover
// `rect`: true only where positions are ignored and `rect` is that screen's
// whole area.
QScreen *bindToScreen(QWindow *window, const QRect &rect, bool *fullScreen);

} // namespace placement

} // namespace tl
