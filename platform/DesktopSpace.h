#pragma once

#include "platform/Screens.h"

#include <QPoint>
#include <QRect>
#include <array>

namespace tl {

// The desktop as injected input sees it. The driver computes positions in Qt's
// desktop coordinates (where its windows and the display layout live); pointer
// devices land in the window system's own coordinates, spread over the whole
// desktop: an absolute pointer's 0..65535 covers the bounding box of all
// monitors (X11: the root window), not one monitor.
//
// Absolute units follow the convention of the input stack (libinput,
// xf86-input-libinput, mutter, wlroots): a value v of an axis 0..65535 lands on
// pixel floor(v * size / 65536) of a box of `size` pixels. Encoding aims at the
// middle of the pixel, so the decoded pixel is exact for any box narrower than
// 32768 pixels.
class DesktopSpace
{
public:
    static constexpr int kMaxMonitors = 16;
    static constexpr int kAbsMax = 65535;

    DesktopSpace() = default;
    // `originIsRoot`: the box starts at (0, 0) whatever the monitors say (X11,
    // where the root window begins at the origin).
    static DesktopSpace fromMonitors(const QList<MonitorInfo> &monitors, bool originIsRoot = false);

    // The running desktop: the monitors of ScreenSource; under X11 (xcb) the
    // box starts at the root window's origin.
    static DesktopSpace current();

    // The same monitors with absolute units over `box` (window-system
    // coordinates) instead of their bounding box; a null box changes nothing.
    DesktopSpace withBox(const QRect &box) const;

    bool isEmpty() const { return m_box.isEmpty(); }
    // Bounding box of all monitors in window-system coordinates.
    QRect box() const { return m_box; }

    // Qt desktop point -> window-system point. A point on no monitor keeps the
    // scale of the nearest one. Does not allocate.
    QPoint toNative(const QPoint &logical) const;
    // Window-system point -> absolute units over the box (clamped).
    QPoint toAbsolute(const QPoint &native) const;
    // Absolute units -> window-system point (what the compositor does).
    QPoint fromAbsolute(int absX, int absY) const;

    static int encodeAxis(int pixel, int size);
    static int decodeAxis(int value, int size);

private:
    struct Monitor
    {
        QRect logical;
        QRect native;
    };
    std::array<Monitor, kMaxMonitors> m_monitors{};
    int m_count = 0;
    QRect m_box;
};

} // namespace tl
