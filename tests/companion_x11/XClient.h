#pragma once

#include <QByteArray>

#include <xcb/xcb.h>

#include <functional>
#include <optional>
#include <vector>

namespace tltest {

// Another X client in the test: it plays the companion application (and the
// window manager's client list), on a connection of its own.
class XClient
{
public:
    struct Message
    {
        xcb_window_t window = 0;
        xcb_atom_t type = 0;
        quint8 format = 0;
        quint32 data[5] = {};
    };

    XClient();
    ~XClient();
    XClient(const XClient &) = delete;
    XClient &operator=(const XClient &) = delete;

    xcb_connection_t *conn() const { return m_conn; }
    xcb_window_t root() const { return m_root; }
    xcb_atom_t atom(const char *name);

    // A top-level window with WM_CLASS "instance\0class\0" and, when given, a
    // _NET_WM_NAME (UTF8_STRING) and a WM_NAME (STRING).
    xcb_window_t createWindow(const QByteArray &cls, const std::optional<QByteArray> &netWmName,
                              const std::optional<QByteArray> &wmName = std::nullopt, bool map = true);
    void destroyWindow(xcb_window_t window);
    void setProperty(xcb_window_t window, const char *property, xcb_atom_t type, quint8 format,
                     const void *data, quint32 count);
    // What a window manager would publish on the root.
    void setClientList(const std::vector<xcb_window_t> &windows);
    void clearClientList();

    void send(xcb_window_t to, xcb_atom_t type, quint8 format, quint32 d0, quint32 d1, quint32 d2);
    // Waits until the server has handled everything sent so far.
    void sync();

    // Client messages to this client's windows, in order of arrival; waits up
    // to about `ms` for at least `count` of them, running `pump` meanwhile.
    std::vector<Message> messages(size_t count, int ms, const std::function<void()> &pump = {});
    void clearMessages() { m_messages.clear(); }

private:
    void drain();

    xcb_connection_t *m_conn = nullptr;
    xcb_window_t m_root = 0;
    std::vector<Message> m_messages;
};

} // namespace tltest
