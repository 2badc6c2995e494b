#pragma once

#include "platform/InjectionBackend.h"

#include <memory>

struct _XDisplay;

namespace tl {

// The mouse path under X11 when /dev/uinput cannot be opened: pointer motion
// and button events through the XTest extension, on a connection of its own.
// Normalised positions cover the root window, as an absolute pointer device
// does under X: the whole X screen, which may be larger than its monitors.
class XTestMouseBackend : public InjectionBackend
{
public:
    // Null (with the reason) when no X server answers or it lacks XTest.
    static std::unique_ptr<XTestMouseBackend> create(QString *error);
    ~XTestMouseBackend() override;

    Kind kind() const override { return Kind::Mouse; }
    QString name() const override { return QStringLiteral("XTest pointer"); }
    bool injectTouch(const TouchRecord *, int) override { return false; }
    bool sendMouse(int absX, int absY, quint32 flags) override;
    // The root window, as it was when the backend was made.
    QRect absoluteArea() const override { return QRect(0, 0, m_width, m_height); }

    // Root-window pixel of a normalised position (0..65535).
    static int toPixel(int abs, int size);

private:
    explicit XTestMouseBackend(_XDisplay *display);

    _XDisplay *m_display;
    int m_width = 0;
    int m_height = 0;
};

} // namespace tl
