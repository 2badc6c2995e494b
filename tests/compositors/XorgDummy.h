#pragma once

#include "Compositor.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Xlib's display, declared here so that Xlib's macros (Bool, Status) stay out
// of the headers Qt reads after this one.
struct _XDisplay;
typedef struct _XDisplay Display;

// What the tests that start their own Xorg (dummy video driver) share: a free
// display number, the wait for the server, and the two outputs they give it
// with xrandr (1920x1080 at the origin, the board's 1280x800 to its right).
namespace xorgdummy {

// Runs `program` with DISPLAY set to `display`; true when it exits with 0.
bool run(const QString &program, const QStringList &args, const QByteArray &display, QString *out = nullptr);

// ":N" for the first N from `first` with neither a socket nor a lock file.
QByteArray freeDisplay(int first);

// Opens `display` once the server `x` answers (null when it stopped first).
Display *waitForDisplay(Compositor &x, const QByteArray &display);

// The two outputs' modes, then the framebuffer `fb` ("WxH") with DUMMY0 at
// 0x0 (primary when asked) and DUMMY1 at 1920x0. False with xrandr's words.
bool setTwoOutputs(const QString &xrandr, const QByteArray &display, const QString &fb, bool primary, QString *out);

} // namespace xorgdummy
