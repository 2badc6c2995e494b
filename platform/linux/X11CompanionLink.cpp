#include "platform/linux/X11CompanionLink.h"

#include <QDebug>
#include <QTextCodec>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace tl {

namespace {

// ICCCM WM_STATE value of an iconified window.
constexpr quint32 kIconicState = 3;
// At most this many windows of the client list are looked at.
constexpr quint32 kMaxClients = 4096;

QString hex(quint32 window)
{
    return QStringLiteral("0x") + QString::number(window, 16);
}

bool validUtf8(const QByteArray &bytes)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

// WM_CLASS holds "instance\0class\0"; the class is what a window lookup by
// class name compares.
QByteArray classPart(const QByteArray &wmClass)
{
    const int end = wmClass.indexOf('\0');
    if (end < 0)
        return QByteArray();
    QByteArray rest = wmClass.mid(end + 1);
    const int classEnd = rest.indexOf('\0');
    return classEnd < 0 ? rest : rest.left(classEnd);
}

} // namespace

X11CompanionLink::X11CompanionLink(const char *display)
{
    int screenNumber = 0;
    xcb_connection_t *conn = xcb_connect(display, &screenNumber);
    if (!conn || xcb_connection_has_error(conn)) {
        qDebug() << "X11CompanionLink: no X server at" << (display ? display : std::getenv("DISPLAY"));
        if (conn)
            xcb_disconnect(conn);
        return;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(conn);
        return;
    }
    m_conn = conn;
    m_root = it.data->root;
    m_runningApp = intern(kRunningAppAtom);
    m_intelApp = intern(kIntelAppAtom);
    m_contact = intern(kContactAtom);
    m_penService = intern(kPenServiceAtom);
    m_clientList = intern("_NET_CLIENT_LIST");
    m_netWmName = intern("_NET_WM_NAME");
    m_utf8String = intern("UTF8_STRING");
    m_netWmState = intern("_NET_WM_STATE");
    m_stateHidden = intern("_NET_WM_STATE_HIDDEN");
    m_wmState = intern("WM_STATE");
}

X11CompanionLink::~X11CompanionLink()
{
    if (m_conn)
        xcb_disconnect(m_conn);
}

quint32 X11CompanionLink::intern(const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(m_conn, xcb_intern_atom(m_conn, 0, uint16_t(std::strlen(name)), name), nullptr);
    const quint32 atom = reply ? reply->atom : 0;
    std::free(reply);
    return atom;
}

QString X11CompanionLink::atomName(quint32 atom)
{
    if (!m_conn)
        return QString();
    xcb_get_atom_name_reply_t *reply = xcb_get_atom_name_reply(m_conn, xcb_get_atom_name(m_conn, atom), nullptr);
    if (!reply)
        return QStringLiteral("(atom %1)").arg(atom);
    const QString name =
        QString::fromLatin1(xcb_get_atom_name_name(reply), xcb_get_atom_name_name_length(reply));
    std::free(reply);
    return name;
}

X11CompanionLink::Property X11CompanionLink::readProperty(quint32 window, quint32 property, quint32 maxBytes)
{
    Property out;
    if (!m_conn || !window || !property)
        return out;
    // The length is asked in 32-bit units: one more than needed tells a value
    // that is too long from one that just fits.
    const quint32 units = maxBytes / 4 + 1;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        m_conn, xcb_get_property(m_conn, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, units), nullptr);
    if (!reply)
        return out;  // the window is gone
    if (reply->type != XCB_NONE) {
        const int length = xcb_get_property_value_length(reply);
        out.ok = true;
        out.type = reply->type;
        out.truncated = reply->bytes_after > 0 || quint32(length) > maxBytes;
        out.bytes = QByteArray(static_cast<const char *>(xcb_get_property_value(reply)),
                               std::min<int>(length, int(maxBytes)));
    }
    std::free(reply);
    return out;
}

WindowHandle X11CompanionLink::findCompanion(const QByteArray &companionName)
{
    if (!m_conn)
        return 0;
    std::vector<quint32> windows;
    const Property list = readProperty(m_root, m_clientList, kMaxClients * 4);
    if (list.ok && list.type == XCB_ATOM_WINDOW) {
        const int n = list.bytes.size() / 4;
        windows.resize(n);
        if (n > 0)  // an empty list (a session starting up) leaves nothing to copy
            std::memcpy(windows.data(), list.bytes.constData(), size_t(n) * 4);
    } else {
        // No window manager keeps a client list: the root's children are the
        // top-level windows.
        xcb_query_tree_reply_t *tree = xcb_query_tree_reply(m_conn, xcb_query_tree(m_conn, m_root), nullptr);
        if (tree) {
            const xcb_window_t *children = xcb_query_tree_children(tree);
            const int n = std::min<int>(xcb_query_tree_children_length(tree), int(kMaxClients));
            windows.assign(children, children + n);
            std::free(tree);
        }
    }

    struct Candidate
    {
        quint32 window;
        QByteArray cls;
        QByteArray title;
        bool titleOk;
    };
    std::vector<Candidate> candidates;
    for (quint32 w : windows) {
        const Property wmClass = readProperty(w, XCB_ATOM_WM_CLASS, 512);
        if (!wmClass.ok || wmClass.truncated)
            continue;
        const QByteArray cls = classPart(wmClass.bytes);
        if (cls != "TfrmCanvas" && cls != "Qt5QWindowIcon")
            continue;
        Candidate c{w, cls, QByteArray(), true};
        if (cls == "Qt5QWindowIcon") {
            Property title = readProperty(w, m_netWmName, kMaxTitleBytes);
            const bool utf8 = title.ok;
            if (!title.ok)
                title = readProperty(w, XCB_ATOM_WM_NAME, kMaxTitleBytes);
            if (title.truncated) {
                qDebug() << "X11CompanionLink::findCompanion(): window" << hex(w) << "has a title over"
                         << kMaxTitleBytes << "bytes; skipped";
                c.titleOk = false;
            } else if (utf8 && !validUtf8(title.bytes)) {
                qDebug() << "X11CompanionLink::findCompanion(): window" << hex(w)
                         << "has a title that is not UTF-8; skipped";
                c.titleOk = false;
            }
            c.title = title.bytes;
        }
        candidates.push_back(c);
    }

    const QByteArray ownTitle = QByteArray("  ") + companionName;
    auto first = [&](auto match) -> quint32 {
        for (const Candidate &c : candidates)
            if (match(c))
                return c.window;
        return 0;
    };
    quint32 found = first([](const Candidate &c) { return c.cls == "TfrmCanvas"; });
    if (!found)
        found = first([](const Candidate &c) {
            return c.cls == "Qt5QWindowIcon" && c.titleOk && c.title == "Dialog6601";
        });
    if (!found && !companionName.isEmpty())
        found = first([&](const Candidate &c) {
            return c.cls == "Qt5QWindowIcon" && c.titleOk && c.title == ownTitle;
        });
    return found;
}

bool X11CompanionLink::send(quint32 window, quint32 type, quint32 d0, quint32 d1, quint32 d2)
{
    if (!m_conn || !window)
        return false;
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    event.data.data32[0] = d0;
    event.data.data32[1] = d1;
    event.data.data32[2] = d2;
    // Event mask 0: the event goes to the client that made the window.
    xcb_generic_error_t *error = xcb_request_check(
        m_conn, xcb_send_event_checked(m_conn, 0, window, XCB_EVENT_MASK_NO_EVENT,
                                       reinterpret_cast<const char *>(&event)));
    if (error) {
        std::free(error);
        return false;
    }
    return true;
}

bool X11CompanionLink::announce(WindowHandle companion, WindowHandle driverWindow)
{
    return send(quint32(companion), m_runningApp, kRunningAppMessage, quint32(driverWindow), 0);
}

bool X11CompanionLink::windowExists(WindowHandle window)
{
    if (!m_conn || !window || window > 0xFFFFFFFFu)
        return false;
    xcb_get_window_attributes_reply_t *reply =
        xcb_get_window_attributes_reply(m_conn, xcb_get_window_attributes(m_conn, quint32(window)), nullptr);
    std::free(reply);
    return reply != nullptr;
}

X11CompanionLink::Received X11CompanionLink::decode(const xcb_client_message_event_t *event) const
{
    Received r;
    if (!event || !m_conn)
        return r;
    quint32 number = 0;
    if (event->type == m_runningApp) {
        r.kind = Received::Kind::RunningApp;
        number = kRunningAppMessage;
    } else if (event->type == m_intelApp) {
        r.kind = Received::Kind::IntelApp;
        number = kIntelAppMessage;
    } else if (event->type == m_contact) {
        r.kind = Received::Kind::Malformed;
        r.problem = QStringLiteral("a contact message is for the companion, not the driver");
        return r;
    } else {
        return r;
    }
    if (event->format != 32) {
        r.kind = Received::Kind::Malformed;
        r.problem = QStringLiteral("format %1 instead of 32").arg(event->format);
        return r;
    }
    if (event->data.data32[0] != number) {
        r.kind = Received::Kind::Malformed;
        r.problem = QStringLiteral("message number %1 instead of %2").arg(event->data.data32[0]).arg(number);
        return r;
    }
    r.first = event->data.data32[1];
    r.second = qint32(event->data.data32[2]);
    return r;
}

bool X11CompanionLink::isVisible(WindowHandle window)
{
    if (!m_conn || !window || window > 0xFFFFFFFFu)
        return false;
    xcb_get_window_attributes_reply_t *reply =
        xcb_get_window_attributes_reply(m_conn, xcb_get_window_attributes(m_conn, quint32(window)), nullptr);
    if (!reply)
        return false;
    const bool viewable = reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return viewable;
}

bool X11CompanionLink::isMinimised(WindowHandle window)
{
    if (!m_conn || !window || window > 0xFFFFFFFFu)
        return false;
    // Both properties are asked for before either answer is awaited: one
    // round trip to the server per tracking cycle instead of two.
    const quint32 w = quint32(window);
    const xcb_get_property_cookie_t icccm =
        xcb_get_property(m_conn, 0, w, m_wmState, XCB_GET_PROPERTY_TYPE_ANY, 0, 2);
    const xcb_get_property_cookie_t ewmh = xcb_get_property(m_conn, 0, w, m_netWmState, XCB_ATOM_ATOM, 0, 64);
    bool minimised = false;
    if (xcb_get_property_reply_t *r = xcb_get_property_reply(m_conn, icccm, nullptr)) {
        if (r->format == 32 && xcb_get_property_value_length(r) >= 4)
            minimised = static_cast<const quint32 *>(xcb_get_property_value(r))[0] == kIconicState;
        std::free(r);
    }
    if (xcb_get_property_reply_t *r = xcb_get_property_reply(m_conn, ewmh, nullptr)) {
        const auto *atoms = static_cast<const quint32 *>(xcb_get_property_value(r));
        const int n = r->format == 32 ? xcb_get_property_value_length(r) / 4 : 0;
        for (int i = 0; i < n; ++i)
            minimised = minimised || atoms[i] == m_stateHidden;
        std::free(r);
    }
    return minimised;
}

bool X11CompanionLink::postMessage(WindowHandle window, quint32 message, quintptr first, qintptr second)
{
    if (!m_conn || !window || window > 0xFFFFFFFFu)
        return false;
    // Contact messages go out once per contact and cycle under the tracking
    // mutex: they are sent without waiting for the server. An error for a
    // window that went away comes back later as an event and is read here.
    drainErrors();
    if (quint32(window) == m_goneWindow.load())
        return false;
    const quint32 type = message == kRunningAppMessage ? m_runningApp
        : message == kIntelAppMessage                  ? m_intelApp
                                                       : m_contact;
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = quint32(window);
    event.type = type;
    event.data.data32[0] = message;
    event.data.data32[1] = quint32(first);
    event.data.data32[2] = quint32(second);
    xcb_send_event(m_conn, 0, quint32(window), XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    return xcb_flush(m_conn) > 0;
}

void X11CompanionLink::drainErrors()
{
    // This connection selects no events: all that arrives are the errors of
    // the unchecked sends.
    while (xcb_generic_event_t *e = xcb_poll_for_event(m_conn)) {
        if (e->response_type == 0) {
            const auto *error = reinterpret_cast<const xcb_generic_error_t *>(e);
            if (error->error_code == XCB_WINDOW)
                m_goneWindow.store(error->resource_id);
        }
        std::free(e);
    }
}

bool X11CompanionLink::hasWmState(quint32 window)
{
    return readProperty(window, m_wmState, 8).ok;
}

WindowHandle X11CompanionLink::windowAtCursor()
{
    if (!m_conn)
        return 0;
    xcb_query_pointer_reply_t *pointer = xcb_query_pointer_reply(m_conn, xcb_query_pointer(m_conn, m_root), nullptr);
    if (!pointer)
        return 0;
    const quint32 top = pointer->child;
    std::free(pointer);
    if (!top || hasWmState(top))
        return top;
    // A window manager's frame: the client window is one of its children.
    xcb_query_tree_reply_t *tree = xcb_query_tree_reply(m_conn, xcb_query_tree(m_conn, top), nullptr);
    quint32 client = top;
    if (tree) {
        const xcb_window_t *children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i)
            if (hasWmState(children[i])) {
                client = children[i];
                break;
            }
        std::free(tree);
    }
    return client;
}

quint32 X11CompanionLink::penServiceProperty(WindowHandle window)
{
    if (window > 0xFFFFFFFFu)
        return 0;
    const Property p = readProperty(quint32(window), m_penService, 4);
    if (!p.ok || p.type != XCB_ATOM_CARDINAL || p.bytes.size() < 4)
        return 0;
    quint32 value = 0;
    std::memcpy(&value, p.bytes.constData(), 4);
    return value;
}

} // namespace tl
