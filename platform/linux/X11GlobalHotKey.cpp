#include "platform/linux/X11GlobalHotKey.h"

#include <QCoreApplication>
#include <QDebug>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>

namespace tl {

namespace {

constexpr quint32 kXkF1 = 0xFFBE;
constexpr quint32 kXkNumLock = 0xFF7F;
// Bits of the key event state that are modifiers (above are the buttons).
constexpr quint16 kModifierBits = 0xFF;

} // namespace

quint32 X11GlobalHotKey::keysymOf(const QKeySequence &sequence, quint16 *modifiers)
{
    if (sequence.isEmpty())
        return 0;
    const int combined = sequence[0];
    const int key = combined & ~int(Qt::KeyboardModifierMask);
    quint16 mods = 0;
    if (combined & Qt::ShiftModifier)
        mods |= XCB_MOD_MASK_SHIFT;
    if (combined & Qt::ControlModifier)
        mods |= XCB_MOD_MASK_CONTROL;
    if (combined & Qt::AltModifier)
        mods |= XCB_MOD_MASK_1;
    if (combined & Qt::MetaModifier)
        mods |= XCB_MOD_MASK_4;
    if (modifiers)
        *modifiers = mods;
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return kXkF1 + quint32(key - Qt::Key_F1);
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return quint32(key - Qt::Key_A + 'a');
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || key == Qt::Key_Space)
        return quint32(key);
    return 0;
}

quint16 X11GlobalHotKey::numLockMask()
{
    quint16 mask = 0;
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_conn);
    xcb_keycode_t *numLock = symbols ? xcb_key_symbols_get_keycode(symbols, kXkNumLock) : nullptr;
    xcb_get_modifier_mapping_reply_t *map =
        xcb_get_modifier_mapping_reply(m_conn, xcb_get_modifier_mapping(m_conn), nullptr);
    if (numLock && map) {
        const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(map);
        const int perModifier = map->keycodes_per_modifier;
        for (int m = 0; m < 8; ++m)
            for (int k = 0; k < perModifier; ++k)
                for (const xcb_keycode_t *n = numLock; *n != XCB_NO_SYMBOL; ++n)
                    if (codes[m * perModifier + k] == *n && *n != 0)
                        mask |= quint16(1u << m);
    }
    std::free(map);
    std::free(numLock);
    if (symbols)
        xcb_key_symbols_free(symbols);
    return mask;
}

X11GlobalHotKey::X11GlobalHotKey(xcb_connection_t *conn, quint32 root, const QKeySequence &sequence, QObject *parent)
    : GlobalHotKey(parent), m_conn(conn), m_root(root), m_sequence(sequence)
{
    const QString text = sequence.toString(QKeySequence::PortableText);
    const quint32 keysym = keysymOf(sequence, &m_modifiers);
    if (!m_conn || !keysym) {
        qDebug() << "X11GlobalHotKey:" << text << "cannot be grabbed here";
        return;
    }
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_conn);
    xcb_keycode_t *codes = symbols ? xcb_key_symbols_get_keycode(symbols, keysym) : nullptr;
    if (codes && codes[0] != XCB_NO_SYMBOL)
        m_keycode = codes[0];
    std::free(codes);
    if (symbols)
        xcb_key_symbols_free(symbols);
    if (!m_keycode) {
        qDebug() << "X11GlobalHotKey:" << text << "has no key on this keyboard map";
        return;
    }

    m_lockMask = quint16(XCB_MOD_MASK_LOCK | numLockMask());
    std::vector<quint16> extras{0, XCB_MOD_MASK_LOCK};
    const quint16 numLock = m_lockMask & ~quint16(XCB_MOD_MASK_LOCK);
    if (numLock) {
        extras.push_back(numLock);
        extras.push_back(quint16(XCB_MOD_MASK_LOCK | numLock));
    }
    for (quint16 extra : extras) {
        const quint16 mods = quint16(m_modifiers | extra);
        xcb_generic_error_t *error = xcb_request_check(
            m_conn, xcb_grab_key_checked(m_conn, 1, m_root, mods, m_keycode, XCB_GRAB_MODE_ASYNC,
                                         XCB_GRAB_MODE_ASYNC));
        if (error) {
            qDebug() << "X11GlobalHotKey:" << text << "modifiers" << mods << "is held by another client (X error"
                     << error->error_code << "); not grabbed";
            std::free(error);
            continue;
        }
        m_grabbed.push_back(mods);
    }
    qDebug() << "X11GlobalHotKey:" << text << "keycode" << m_keycode << "grabbed" << m_grabbed.size() << "of"
             << extras.size() << "lock combinations";
    if (!m_grabbed.empty())
        QCoreApplication::instance()->installNativeEventFilter(this);
}

X11GlobalHotKey::~X11GlobalHotKey()
{
    // The connection belongs to the application: without it there is
    // nothing left to give back.
    if (m_grabbed.empty() || !QCoreApplication::instance())
        return;
    QCoreApplication::instance()->removeNativeEventFilter(this);
    for (quint16 mods : m_grabbed)
        xcb_ungrab_key(m_conn, m_keycode, m_root, mods);
    xcb_flush(m_conn);
}

bool X11GlobalHotKey::nativeEventFilter(const QByteArray &eventType, void *message, long *)
{
    if (eventType != "xcb_generic_event_t" || !message)
        return false;
    const auto *generic = static_cast<const xcb_generic_event_t *>(message);
    const quint8 type = generic->response_type & 0x7F;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    const auto *key = static_cast<const xcb_key_press_event_t *>(message);
    if (key->detail != m_keycode || key->root != m_root)
        return false;
    const quint16 mods = key->state & kModifierBits & ~m_lockMask;
    if (mods != m_modifiers)
        return false;
    if (type == XCB_KEY_PRESS)
        emit activated();
    return true;
}

} // namespace tl
