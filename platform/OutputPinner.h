#pragma once

#include "platform/Screens.h"

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QString>

namespace tl {

// Which desktop decides where our touch devices go. Each maps an injected
// touchscreen differently (see the README's table):
// - X11: the device spans the root window; its Coordinate Transformation Matrix
//   narrows it to the board's monitors.
// - GNOME (Wayland and Xorg): mutter pins a touchscreen to one monitor through
//   the `output` key of the device's GSettings path; unmatched, it goes to the
//   laptop panel.
// - KDE Wayland: KWin binds each touchscreen to one output (`outputName`).
// - sway: the device spans the layout unless told map_to_output/map_to_region.
// - weston and other Wayland compositors: nothing a client can set.
enum class DesktopKind { X11, GnomeWayland, GnomeXorg, KdeWayland, Sway, Weston, OtherWayland };

// The vendor id of our touch devices and the product id of the first one.
constexpr quint16 kTouchVendor = 0x16D0;
constexpr quint16 kTouchProductBase = 0x0F8C;

// ---- Pinning ----------------------------------------------------------------

// What a pinner needs of one created device.
struct PinRequest
{
    QString devnode;     // /dev/input/eventN
    QByteArray name;
    quint16 vendor = kTouchVendor;
    quint16 product = kTouchProductBase;
    QRect area;          // window-system coordinates
    QList<MonitorInfo> outputs;
};

struct PinResult
{
    bool ok = false;
    QString where;   // the monitor(s) the device went to, for the log
    QString error;   // why not, for the log
    // How the desktop turns the device with its output (above); the device's
    // positions go through toDeviceFrame with it.
    int transform = 0;
};

// Pins a touch device to its board monitor(s) through one desktop's interface.
class OutputPinner
{
public:
    virtual ~OutputPinner() = default;
    virtual QString name() const = 0;
    virtual PinResult pin(const PinRequest &request) = 0;
};

} // namespace tl
