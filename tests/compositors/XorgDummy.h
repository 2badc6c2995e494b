#pragma once

#include "Compositor.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Xlib's display, declared here so that Xlib's macros (Bool, Status) stay out
// of the headers Qt reads after this one.
struct _XDisplay;
typedef struct _XDisplay Display;

// What the tests that start their own Xorg (dummy video driver) share: its
// configuration, a free display number, the wait for the server, and the two
// outputs they give it with xrandr (a 1920x1080 monitor and the board's
// 1280x800, side by side).
namespace xorgdummy {

// Runs `program` with DISPLAY set to `display` and without the test's
// LD_PRELOAD (a test under umockdev's preload library starts its helpers
// without it); true when it exits with 0. `out` gets stdout, then stderr.
bool run(const QString &program, const QStringList &args, const QByteArray &display, QString *out = nullptr);

// The server configuration: the dummy video device, a screen of
// `virtualSize` ("W H") at depth 24, then `sections` as they stand (server
// flags, input classes).
QByteArray config(const char *virtualSize, const char *sections);

// ":N" for the first N from `first` with neither a socket nor a lock file.
QByteArray freeDisplay(int first);

// Opens `display` once the server `x` answers (null when it stopped first).
Display *waitForDisplay(Compositor &x, const QByteArray &display);

// The outputs' modes ("1920x1080" or "1280x800"), then the framebuffer `fb`
// ("WxH") with DUMMY0 in `mode0` at 0x0 (primary when asked) and DUMMY1 in
// `mode1` to its right. False with xrandr's words.
bool setTwoOutputs(const QString &xrandr, const QByteArray &display, const QString &fb, const QString &mode0,
                   const QString &mode1, bool primary, QString *out);

} // namespace xorgdummy
