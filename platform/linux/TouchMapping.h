#pragma once

#include "platform/OutputPinner.h"
#include "platform/Screens.h"

#include <QByteArray>
#include <QList>
class QProcessEnvironment;
#include <QRect>
#include <QString>
#include <array>
#include <memory>

namespace tl {

// From the Qt platform ("xcb", "wayland", ...) and the session's environment.
DesktopKind detectDesktop(const QString &qtPlatform, const QProcessEnvironment &env);
QString desktopName(DesktopKind kind);
// True where one device can cover two board displays (X11 matrix, sway region).
bool spansSeveralOutputs(DesktopKind kind);

// One touch device to create: its name and product id, the window-system
// rectangle its axes cover and the board monitor(s) it serves.
struct TouchDevicePlan
{
    QByteArray name;
    quint16 product = 0x0F8C;
    QRect area;                   // window-system coordinates
    QList<MonitorInfo> outputs;   // the monitors the area covers, left to right
    double unitsPerMm = 96.0 / 25.4;
};

// The board's monitors (those holding the display rectangles, in Qt desktop
// coordinates) -> the devices to create. One device over all board monitors
// where the desktop allows it and they form one rectangle (a stroke across the
// seam stays one contact); else one device per board monitor, each with its
// own product id and a name that says which module it serves.
// `fallbackUnitsPerMm` is used for a monitor without a physical size.
QList<TouchDevicePlan> planTouchDevices(DesktopKind kind, const QList<MonitorInfo> &boardMonitors,
                                        double fallbackUnitsPerMm);

// The monitors that hold the given Qt rectangles (matched by geometry, else by
// the centre of the rectangle); duplicates removed, left to right.
QList<MonitorInfo> boardMonitorsOf(const QList<QRect> &rects, const QList<MonitorInfo> &monitors);

// ---- Output transforms ---------------------------------------------------------

// How a desktop turns a touchscreen with the output it is bound to, numbered as
// wl_output and mutter number them: 0 normal, 1/2/3 turned 90/180/270 degrees
// counter-clockwise, 4 flipped, 5/6/7 flipped and turned. mutter, KWin and
// wlroots turn a touchscreen with its output (a panel's digitiser turns with
// the panel), and so does the X11 matrix below: the device is fed positions in
// its output's unturned frame (`toDeviceFrame`).
constexpr int kTransformCount = 8;
// Row-major 2x3 matrix on positions normalised to 0..1: device -> output
// (mutter's table; xinput's transform.c spells out the same cases).
std::array<float, 6> transformMatrix(int transform);
// RandR rotation and reflection bits (RR_Rotate_0 = 1, _90 = 2, _180 = 4,
// _270 = 8, RR_Reflect_X = 16, RR_Reflect_Y = 32) -> transform; 0 for bits
// RandR does not define.
int transformFromRandr(int bits);
// sway's names in get_outputs ("normal", "90", ..., "flipped-270"); sway counts
// its turns clockwise, so its "90" is the protocol's 270. -1 for an unknown name.
int transformFromSway(const QString &name);
// The device position (in `area`, the device's axes) that a desktop turning the
// device by `transform` over `area` places at `p`; clamped to `area`.
QPoint toDeviceFrame(const QPoint &p, const QRect &area, int transform);

// ---- X11: the device's Coordinate Transformation Matrix ----------------------

// Row-major 3x3 matrix that maps the device's full range onto `area` of a root
// window of `root` size, turned by `transform` (above) as `xinput
// map-to-output` turns it for the CRTC's rotation and reflection.
std::array<float, 9> coordinateMatrix(const QRect &area, const QSize &root, int transform = 0);

// ---- GNOME ------------------------------------------------------------------

// "/org/gnome/desktop/peripherals/touchscreens/16d0:0f8c/".
QString gnomeTouchscreenPath(quint16 vendor, quint16 product);
constexpr const char *kGnomeTouchscreenSchema = "org.gnome.desktop.peripherals.touchscreen";

// ---- KDE --------------------------------------------------------------------

// "/org/kde/KWin/InputDevice/event5" for "/dev/input/event5"; empty when the
// node does not name an event device.
QString kwinDevicePath(const QString &devnode);

// ---- sway (i3 IPC) ----------------------------------------------------------

// "5840:3980:Tesselink_Driver_touch": decimal ids, the name with '_' for
// spaces and anything outside printable ASCII, as sway builds it.
QString swayIdentifier(quint16 vendor, quint16 product, const QByteArray &name);
// One i3-ipc message: "i3-ipc", payload length, type (host byte order), payload.
QByteArray i3IpcFrame(quint32 type, const QByteArray &payload);
constexpr quint32 kI3IpcRunCommand = 0;
constexpr quint32 kI3IpcGetOutputs = 3;
constexpr quint32 kI3IpcGetInputs = 100;
constexpr int kI3IpcHeaderSize = 14;

// ---- Pinning ----------------------------------------------------------------

// What a pinner is and is asked for: platform/OutputPinner.h.

// The pinner for a desktop; null where nothing can be pinned (weston, other
// Wayland compositors).
std::unique_ptr<OutputPinner> createPinner(DesktopKind kind);

} // namespace tl
