#pragma once

#include "platform/GlobalHotKey.h"

#include <QAbstractNativeEventFilter>

#include <vector>

struct xcb_connection_t;

namespace tl {

// A hot key grabbed on the root window of the toolkit's X connection. The key
// is grabbed once for every combination of the lock modifiers (Caps Lock, Num
// Lock), which X treats as modifiers like any other; a press arrives as a key
// event through a native event filter. A grab that another client holds fails
// with BadAccess: logged, the remaining grabs stay.
class X11GlobalHotKey : public GlobalHotKey, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    // `conn`/`root`: the toolkit's connection and root window.
    X11GlobalHotKey(xcb_connection_t *conn, quint32 root, const QKeySequence &sequence, QObject *parent = nullptr);
    ~X11GlobalHotKey() override;

    bool isRegistered() const override { return !m_grabbed.empty(); }
    QKeySequence shortcut() const override { return m_sequence; }
    // How many of the lock-modifier combinations were grabbed (4 when all).
    int grabCount() const { return int(m_grabbed.size()); }

    bool nativeEventFilter(const QByteArray &eventType, void *message, long *result) override;

    // X keysym and modifier mask (Shift, Control, Mod1 for Alt, Mod4 for Meta)
    // of the first key of a sequence; keysym 0 when the key has no X name here.
    static quint32 keysymOf(const QKeySequence &sequence, quint16 *modifiers);

private:
    quint16 numLockMask();

    xcb_connection_t *m_conn;
    quint32 m_root;
    QKeySequence m_sequence;
    quint8 m_keycode = 0;
    quint16 m_modifiers = 0;
    quint16 m_lockMask = 0;
    std::vector<quint16> m_grabbed;
};

} // namespace tl
