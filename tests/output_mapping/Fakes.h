#pragma once

#include <gio/gio.h>

#include <QByteArray>
#include <QSize>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
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

// D-Bus objects served by GDBus under one name, on a thread of their own
// (Qt's blocking calls on the test thread must not wait for the test thread's
// main loop).
class FakeBusObject
{
public:
    using Method = std::function<GVariant *(const std::string &method, GVariant *params)>;
    using Getter = std::function<GVariant *(const std::string &property)>;
    using Setter = std::function<bool(const std::string &property, GVariant *value)>;

    FakeBusObject(std::string busName, std::string path, std::string xml, Method method, Getter get = {},
                  Setter set = {});
    ~FakeBusObject();
    // Another object under the same name; before start().
    void addObject(std::string path, std::string xml, Method method, Getter get = {}, Setter set = {});
    bool start();

private:
    struct Object
    {
        std::string path, xml;
        Method method;
        Getter get;
        Setter set;
    };
    void run();
    static void onCall(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *method,
                       GVariant *params, GDBusMethodInvocation *invocation, gpointer self);
    static GVariant *onGet(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *property,
                           GError **, gpointer self);
    static gboolean onSet(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *property,
                          GVariant *value, GError **, gpointer self);

    std::string m_name;
    std::vector<std::unique_ptr<Object>> m_objects;
    std::thread m_thread;
    GMainContext *m_context = nullptr;
    GMainLoop *m_loop = nullptr;
    std::mutex m_lock;
    std::atomic<int> m_ready{0};  // 1 ok, -1 failed
};

// A sway IPC socket that answers one request per connection: RUN_COMMAND as
// its mode says (sway itself answers success to a command for an output or a
// device it does not have), GET_OUTPUTS, GET_INPUTS and GET_TREE with the
// lists below (GET_TREE with `movedTreeJson`, where set, once a command came).
class FakeSway
{
public:
    enum class Mode { Accept, Refuse, CloseMidReply };
    explicit FakeSway(Mode mode) : m_mode(mode) {}
    ~FakeSway();
    bool start();
    QString path() const { return m_path; }
    // RUN_COMMAND payloads, in order.
    std::vector<std::string> commands();
    // Every request's type, in order.
    std::vector<uint32_t> types();

    // Two outputs side by side, our device listed; tests replace them.
    std::string outputsJson =
        R"([{"name":"HDMI-A-1","active":true,"transform":"normal","rect":{"x":1920,"y":0,"width":1280,"height":800}},)"
        R"({"name":"HDMI-A-2","active":true,"transform":"normal","rect":{"x":3200,"y":0,"width":1280,"height":800}},)"
        R"({"name":"eDP-1","active":true,"transform":"normal","rect":{"x":0,"y":0,"width":1920,"height":1080}}])";
    std::string inputsJson = R"([{"identifier":"5840:3980:Tesselink_Driver_touch","type":"touch"}])";
    std::string treeJson = R"({"type":"root","nodes":[]})";
    std::string movedTreeJson;

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
