#pragma once

#include <gio/gio.h>

#include <QByteArray>
#include <QSize>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// An Xvfb of the test's own, with one screen of the given size.
class Xvfb
{
public:
    bool start(const QSize &size);
    void stop();
    ~Xvfb() { stop(); }
    QByteArray display() const { return m_display; }

private:
    pid_t m_pid = -1;
    QByteArray m_display;
};

// A D-Bus object served by GDBus on a thread of its own (Qt's blocking calls
// on the test thread must not wait for the test thread's main loop).
class FakeBusObject
{
public:
    using Method = std::function<GVariant *(const std::string &method, GVariant *params)>;
    using Getter = std::function<GVariant *(const std::string &property)>;
    using Setter = std::function<bool(const std::string &property, GVariant *value)>;

    FakeBusObject(std::string busName, std::string path, std::string xml, Method method, Getter get = {},
                  Setter set = {});
    ~FakeBusObject();
    bool start();

private:
    void run();
    static void onCall(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *method,
                       GVariant *params, GDBusMethodInvocation *invocation, gpointer self);
    static GVariant *onGet(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *property,
                           GError **, gpointer self);
    static gboolean onSet(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *property,
                          GVariant *value, GError **, gpointer self);

    std::string m_name, m_path, m_xml;
    Method m_method;
    Getter m_get;
    Setter m_set;
    std::thread m_thread;
    GMainContext *m_context = nullptr;
    GMainLoop *m_loop = nullptr;
    std::mutex m_lock;
    std::atomic<int> m_ready{0};  // 1 ok, -1 failed
};

// A sway IPC socket that answers one RUN_COMMAND per connection.
class FakeSway
{
public:
    enum class Mode { Accept, Refuse, CloseMidReply };
    explicit FakeSway(Mode mode) : m_mode(mode) {}
    ~FakeSway();
    bool start();
    QString path() const { return m_path; }
    std::vector<std::string> commands();
    std::vector<uint32_t> types();

private:
    void serve();
    Mode m_mode;
    QString m_path;
    int m_fd = -1;
    std::thread m_thread;
    std::mutex m_lock;
    std::vector<std::string> m_commands;
    std::vector<uint32_t> m_types;
};
