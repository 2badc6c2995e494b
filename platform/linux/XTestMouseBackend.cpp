#include "platform/linux/XTestMouseBackend.h"

#include "platform/DesktopSpace.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>

namespace tl {

std::unique_ptr<XTestMouseBackend> XTestMouseBackend::create(QString *error)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        if (error)
            *error = QStringLiteral("no X display");
        return nullptr;
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        if (error)
            *error = QStringLiteral("the X server has no XTest extension");
        XCloseDisplay(display);
        return nullptr;
    }
    return std::unique_ptr<XTestMouseBackend>(new XTestMouseBackend(display));
}

XTestMouseBackend::XTestMouseBackend(Display *display) : m_display(display)
{
    // The root window's size from the server: the connection's screen size
    // is that of its start and is not kept up to date with RandR changes.
    Window root = 0;
    int x = 0, y = 0;
    unsigned int width = 0, height = 0, border = 0, depth = 0;
    if (XGetGeometry(display, DefaultRootWindow(display), &root, &x, &y, &width, &height, &border, &depth)) {
        m_width = int(width);
        m_height = int(height);
    } else {
        const int screen = DefaultScreen(display);
        m_width = DisplayWidth(display, screen);
        m_height = DisplayHeight(display, screen);
    }
}

XTestMouseBackend::~XTestMouseBackend()
{
    XCloseDisplay(m_display);
}

int XTestMouseBackend::toPixel(int abs, int size)
{
    // The same scaling as an absolute pointer device under X (libinput):
    // value * size / (range + 1).
    return DesktopSpace::decodeAxis(abs, size);
}

bool XTestMouseBackend::sendMouse(int absX, int absY, quint32 flags)
{
    if (flags & MouseMove)
        XTestFakeMotionEvent(m_display, -1, toPixel(absX, m_width), toPixel(absY, m_height), CurrentTime);
    if (flags & MouseLeftDown)
        XTestFakeButtonEvent(m_display, 1, True, CurrentTime);
    if (flags & MouseLeftUp)
        XTestFakeButtonEvent(m_display, 1, False, CurrentTime);
    if (flags & MouseRightDown)
        XTestFakeButtonEvent(m_display, 3, True, CurrentTime);
    if (flags & MouseRightUp)
        XTestFakeButtonEvent(m_display, 3, False, CurrentTime);
    XFlush(m_display);
    return true;
}

} // namespace tl
