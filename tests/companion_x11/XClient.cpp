#include "XClient.h"

#include "tests/support/DriverSpin.h"


#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace tltest {

XClient::XClient()
{
    m_conn = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(m_conn))
        throw std::runtime_error("no X server");
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_conn)).data->root;
}

XClient::~XClient()
{
    xcb_disconnect(m_conn);
}

xcb_atom_t XClient::atom(const char *name)
{
    xcb_intern_atom_reply_t *r =
        xcb_intern_atom_reply(m_conn, xcb_intern_atom(m_conn, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : XCB_NONE;
    std::free(r);
    return a;
}

xcb_window_t XClient::createWindow(const QByteArray &cls, const std::optional<QByteArray> &netWmName,
                                   const std::optional<QByteArray> &wmName, bool map)
{
    const xcb_window_t w = xcb_generate_id(m_conn);
    xcb_create_window(m_conn, XCB_COPY_FROM_PARENT, w, m_root, 100, 100, 300, 200, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_change_property(m_conn, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        quint32(cls.size()), cls.constData());
    if (netWmName)
        xcb_change_property(m_conn, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8,
                            quint32(netWmName->size()), netWmName->constData());
    if (wmName)
        xcb_change_property(m_conn, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            quint32(wmName->size()), wmName->constData());
    if (map)
        xcb_map_window(m_conn, w);
    sync();
    return w;
}

void XClient::destroyWindow(xcb_window_t window)
{
    xcb_destroy_window(m_conn, window);
    sync();
}

void XClient::setProperty(xcb_window_t window, const char *property, xcb_atom_t type, quint8 format,
                          const void *data, quint32 count)
{
    xcb_change_property(m_conn, XCB_PROP_MODE_REPLACE, window, atom(property), type, format, count, data);
    sync();
}

void XClient::setClientList(const std::vector<xcb_window_t> &windows)
{
    setProperty(m_root, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW, 32, windows.data(), quint32(windows.size()));
}

void XClient::clearClientList()
{
    xcb_delete_property(m_conn, m_root, atom("_NET_CLIENT_LIST"));
    sync();
}

void XClient::send(xcb_window_t to, xcb_atom_t type, quint8 format, quint32 d0, quint32 d1, quint32 d2)
{
    xcb_client_message_event_t e;
    std::memset(&e, 0, sizeof e);
    e.response_type = XCB_CLIENT_MESSAGE;
    e.format = format;
    e.window = to;
    e.type = type;
    e.data.data32[0] = d0;
    e.data.data32[1] = d1;
    e.data.data32[2] = d2;
    xcb_send_event(m_conn, 0, to, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&e));
    sync();
}

void XClient::sync()
{
    std::free(xcb_get_input_focus_reply(m_conn, xcb_get_input_focus(m_conn), nullptr));
}

void XClient::drain()
{
    while (xcb_generic_event_t *e = xcb_poll_for_event(m_conn)) {
        if ((e->response_type & 0x7F) == XCB_CLIENT_MESSAGE) {
            const auto *cm = reinterpret_cast<xcb_client_message_event_t *>(e);
            Message m;
            m.window = cm->window;
            m.type = cm->type;
            m.format = cm->format;
            std::memcpy(m.data, cm->data.data32, sizeof m.data);
            m_messages.push_back(m);
        }
        std::free(e);
    }
}

std::vector<XClient::Message> XClient::messages(size_t count, int ms, const std::function<void()> &pump)
{
    tl::test::sleepUntil(
        [&] {
            drain();
            if (m_messages.size() >= count)
                return true;
            if (pump)
                pump();
            return false;
        },
        ms, 10);
    drain();
    return m_messages;
}

} // namespace tltest
