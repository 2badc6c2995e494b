#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// A program of the test's own (a compositor, an X server), in a private
// runtime folder, its output in a log; stopped with the test.
class Compositor
{
public:
    ~Compositor() { stop(); }
    // Full path of `program` on PATH; empty when it is not installed.
    static QString find(const QString &program);
    // Starts `argv` with `env` added to the environment; `owner` >= 0 gives
    // the runtime folder to that uid (for a program that drops root).
    bool start(const QStringList &argv, const QStringList &env = {}, int owner = -1);
    // Waits until `busName` is owned on the session bus (the child still running).
    bool waitForBusName(const QString &busName, int waitMs = 20000);
    bool running();
    void stop();
    // Kills it at once, as a crash would.
    void kill();
    QString runtimeDir() const { return m_runtime; }
    QString log() const;

private:
    pid_t m_pid = -1;
    QString m_runtime, m_logPath;
};
