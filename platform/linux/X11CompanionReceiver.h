#pragma once

#include "platform/CompanionLink.h"

#include <QAbstractNativeEventFilter>
#include <QObject>

namespace tl {

class X11CompanionLink;

// Receives the companion's messages on the driver's own X window: a native
// event filter on the toolkit's connection that reads client messages sent to
// that window with our atoms and reports them as signals. Anything it cannot
// trust (wrong format, a number that does not match the atom, a window that is
// already gone) is dropped with a log line. Messages with other atoms are left
// to the toolkit.
class X11CompanionReceiver : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    // `link` decodes and checks; it must outlive the receiver. Installs itself
    // on the application and removes itself on destruction.
    X11CompanionReceiver(X11CompanionLink *link, WindowHandle ownWindow, QObject *parent = nullptr);
    ~X11CompanionReceiver() override;

    bool nativeEventFilter(const QByteArray &eventType, void *message, long *result) override;

signals:
    // The companion announced its window (0: keep the old one) and mode flag.
    void runningApp(quintptr wParam, qintptr lParam);
    void intelApp(quintptr wParam, qintptr lParam);

private:
    X11CompanionLink *m_link;
    WindowHandle m_window;
};

} // namespace tl
