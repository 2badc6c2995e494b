#include "Fakes.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

bool Xvfb::start(const QSize &size)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    const std::string screen = std::to_string(size.width()) + "x" + std::to_string(size.height()) + "x24";
    m_pid = ::fork();
    if (m_pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::dup2(fds[1], 3);  // -displayfd writes the display number here
        ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", screen.c_str(), "-nolisten", "tcp",
                 static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 20000) <= 0)
            break;
        char c = 0;
        if (::read(fds[0], &c, 1) != 1 || c == '\n')
            break;
        number += c;
    }
    ::close(fds[0]);
    if (number.empty()) {
        stop();
        return false;
    }
    m_display = QByteArray(":") + QByteArray::fromStdString(number);
    return true;
}

void Xvfb::stop()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

// ---- GDBus ------------------------------------------------------------------

FakeBusObject::FakeBusObject(std::string busName, std::string path, std::string xml, Method method, Getter get,
                             Setter set)
    : m_name(std::move(busName))
{
    addObject(std::move(path), std::move(xml), std::move(method), std::move(get), std::move(set));
}

void FakeBusObject::addObject(std::string path, std::string xml, Method method, Getter get, Setter set)
{
    m_objects.push_back(std::make_unique<Object>(
        Object{std::move(path), std::move(xml), std::move(method), std::move(get), std::move(set)}));
}

bool FakeBusObject::start()
{
    m_thread = std::thread([this] { run(); });
    while (m_ready.load() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return m_ready.load() > 0;
}

FakeBusObject::~FakeBusObject()
{
    if (m_loop)
        g_main_context_invoke(
            m_context, [](gpointer loop) -> gboolean { g_main_loop_quit(static_cast<GMainLoop *>(loop)); return G_SOURCE_REMOVE; },
            m_loop);
    if (m_thread.joinable())
        m_thread.join();
}

void FakeBusObject::onCall(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *method,
                           GVariant *params, GDBusMethodInvocation *invocation, gpointer self)
{
    auto *me = static_cast<Object *>(self);
    GVariant *reply = me->method ? me->method(method, params) : nullptr;
    if (reply)
        g_dbus_method_invocation_return_value(invocation, reply);
    else
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.Failed", "refused");
}

GVariant *FakeBusObject::onGet(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *property,
                               GError **error, gpointer self)
{
    auto *me = static_cast<Object *>(self);
    GVariant *v = me->get ? me->get(property) : nullptr;
    if (!v)
        g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_FAILED, "no value");
    return v;
}

gboolean FakeBusObject::onSet(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *property,
                              GVariant *value, GError **error, gpointer self)
{
    auto *me = static_cast<Object *>(self);
    if (me->set && me->set(property, value))
        return TRUE;
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, "refused");
    return FALSE;
}

void FakeBusObject::run()
{
    m_context = g_main_context_new();
    g_main_context_push_thread_default(m_context);
    GError *error = nullptr;
    const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    GDBusConnection *conn = g_dbus_connection_new_for_address_sync(
        address,
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    static const GDBusInterfaceVTable vtable = {onCall, onGet, onSet, {}};
    std::vector<GDBusNodeInfo *> nodes;
    std::vector<guint> ids;
    bool registered = conn != nullptr;
    for (const auto &o : m_objects) {
        if (!registered)
            break;
        GDBusNodeInfo *node = g_dbus_node_info_new_for_xml(o->xml.c_str(), &error);
        const guint id = node ? g_dbus_connection_register_object(conn, o->path.c_str(), node->interfaces[0], &vtable,
                                                                  o.get(), nullptr, &error)
                              : 0;
        if (node)
            nodes.push_back(node);
        if (id)
            ids.push_back(id);
        registered = id != 0;
    }
    GVariant *owned = registered
                          ? g_dbus_connection_call_sync(conn, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                        "org.freedesktop.DBus", "RequestName",
                                                        g_variant_new("(su)", m_name.c_str(), 4u), nullptr,
                                                        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error)
                          : nullptr;
    guint32 answer = 0;
    if (owned)
        g_variant_get(owned, "(u)", &answer);
    if (!owned || answer != 1) {
        std::fprintf(stderr, "fake %s: %s\n", m_name.c_str(), error ? error->message : "name not owned");
        m_ready = -1;
        return;
    }
    g_variant_unref(owned);
    m_loop = g_main_loop_new(m_context, FALSE);
    m_ready = 1;
    g_main_loop_run(m_loop);
    for (guint id : ids)
        g_dbus_connection_unregister_object(conn, id);
    for (GDBusNodeInfo *node : nodes)
        g_dbus_node_info_unref(node);
    g_dbus_connection_close_sync(conn, nullptr, nullptr);
    g_object_unref(conn);
    g_main_loop_unref(m_loop);
    g_main_context_pop_thread_default(m_context);
    g_main_context_unref(m_context);
}

// ---- sway -------------------------------------------------------------------

FakeSway::~FakeSway()
{
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_RDWR);
    if (m_thread.joinable())
        m_thread.join();
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_path.isEmpty())
        ::unlink(m_path.toLocal8Bit().constData());
}

bool FakeSway::start()
{
    m_path = QStringLiteral("/tmp/tl-fake-sway-%1-%2.sock").arg(::getpid()).arg(reinterpret_cast<quintptr>(this));
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray p = m_path.toLocal8Bit();
    std::memcpy(addr.sun_path, p.constData(), size_t(p.size()));
    if (::bind(m_fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(m_fd, 4) != 0)
        return false;
    m_thread = std::thread([this] { serve(); });
    return true;
}

std::vector<std::string> FakeSway::commands()
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_commands;
}

std::vector<uint32_t> FakeSway::types()
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_types;
}

void FakeSway::serve()
{
    for (;;) {
        const int c = ::accept(m_fd, nullptr, nullptr);
        if (c < 0)
            return;
        std::string in;
        char buf[1024];
        uint32_t length = 0, type = 0;
        while (true) {
            if (in.size() >= 14) {
                std::memcpy(&length, in.data() + 6, 4);
                std::memcpy(&type, in.data() + 10, 4);
                if (in.size() >= 14 + length)
                    break;
            }
            const ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            in.append(buf, size_t(n));
        }
        {
            std::lock_guard<std::mutex> g(m_lock);
            if (type == 0)
                m_commands.push_back(in.size() >= 14 ? in.substr(14, length) : std::string());
            m_types.push_back(type);
        }
        bool moved = false;
        {
            std::lock_guard<std::mutex> g(m_lock);
            moved = !m_commands.empty() && !movedTreeJson.empty();
        }
        std::string payload = type == 3     ? outputsJson
                              : type == 100 ? inputsJson
                              : type == 4   ? (moved ? movedTreeJson : treeJson)
                              : m_mode == Mode::Refuse
                                  ? R"([{"success":false,"parse_error":false,"error":"Invalid output"}])"
                                  : R"([{"success":true}])";
        std::string out = "i3-ipc";
        const uint32_t len = uint32_t(payload.size());
        out.append(reinterpret_cast<const char *>(&len), 4);
        out.append(reinterpret_cast<const char *>(&type), 4);
        if (m_mode == Mode::CloseMidReply && type == 0)
            out += payload.substr(0, 5);  // then the socket closes
        else
            out += payload;
        ::send(c, out.data(), out.size(), MSG_NOSIGNAL);
        ::close(c);
    }
}
