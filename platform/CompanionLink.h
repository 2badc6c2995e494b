#pragma once

#include <QtGlobal>

namespace tl {

// Handle of a window of another application (0 = none).
using WindowHandle = quintptr;

// What the injector needs of the window system around a companion drawing
// application: whether its window is on screen, a way to post it the contact
// messages of the mouse path, and the window under the cursor with its
// press-and-hold preference. The real link comes with the companion
// applications; the null link answers "no window" everywhere.
//
// The injector calls it from a receive thread under the tracking mutex. A
// window may disappear at any time: every call must cope with a stale handle.
class CompanionLink
{
public:
    virtual ~CompanionLink() = default;

    virtual bool isVisible(WindowHandle window) = 0;
    virtual bool isMinimised(WindowHandle window) = 0;
    // Posts (message, first, second) to the window; false when it is gone.
    virtual bool postMessage(WindowHandle window, quint32 message, quintptr first, qintptr second) = 0;
    // The window under the mouse cursor, 0 when none.
    virtual WindowHandle windowAtCursor() = 0;
    // The window's tablet/pen service property word, 0 when it has none.
    // Bit 0 set means "press and hold disabled" for that window.
    virtual quint32 penServiceProperty(WindowHandle window) = 0;
};

class NullCompanionLink : public CompanionLink
{
public:
    bool isVisible(WindowHandle) override { return false; }
    bool isMinimised(WindowHandle) override { return false; }
    bool postMessage(WindowHandle, quint32, quintptr, qintptr) override { return false; }
    WindowHandle windowAtCursor() override { return 0; }
    quint32 penServiceProperty(WindowHandle) override { return 0; }
};

} // namespace tl
