#pragma once

#include <QKeySequence>
#include <QObject>

#include <memory>

namespace tl {

// One system-wide hot key. The platform's backend registers the key when it is
// made and gives it up when it is destroyed; `activated` fires on every press,
// whichever window has the focus.
class GlobalHotKey : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~GlobalHotKey() override = default;

    // True when the system accepted the key for this program (a portal may
    // still be asking the user when this returns false).
    virtual bool isRegistered() const = 0;
    virtual QKeySequence shortcut() const = 0;

signals:
    void activated();
};

// The backend for the running session: X11 key grabs under the xcb platform,
// the desktop portal's global shortcuts under Wayland where the desktop offers
// them, otherwise none (null, with one log line). Defined by the platform's
// backends.
std::unique_ptr<GlobalHotKey> createGlobalHotKey(const QKeySequence &sequence, QObject *parent = nullptr);

} // namespace tl
