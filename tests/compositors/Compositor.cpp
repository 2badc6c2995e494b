#include "Compositor.h"

#include "platform/Clock.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

QString Compositor::find(const QString &program)
{
    const QString onPath = QStandardPaths::findExecutable(program);
    return onPath.isEmpty() ? QStandardPaths::findExecutable(program, {QStringLiteral("/usr/lib/xorg")}) : onPath;
}

bool Compositor::start(const QStringList &argv, const QStringList &env, int owner)
{
    char dir[] = "/tmp/tl-compositor-XXXXXX";
    if (!::mkdtemp(dir))
        return false;
    ::chmod(dir, 0700);
    if (owner >= 0 && ::chown(dir, uid_t(owner), gid_t(owner)) != 0)
        return false;
    m_runtime = QString::fromLocal8Bit(dir);
    m_logPath = m_runtime + QStringLiteral("/log");
    std::vector<QByteArray> args, vars;
    for (const QString &a : argv)
        args.push_back(a.toLocal8Bit());
    vars.push_back("XDG_RUNTIME_DIR=" + m_runtime.toLocal8Bit());
    for (const QString &e : env)
        vars.push_back(e.toLocal8Bit());
    const QByteArray log = m_logPath.toLocal8Bit();
    m_pid = ::fork();
    if (m_pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::setpgid(0, 0);
        for (QByteArray &v : vars)
            ::putenv(v.data());
        const int fd = ::open(log.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        std::vector<char *> cargs;
        for (QByteArray &a : args)
            cargs.push_back(a.data());
        cargs.push_back(nullptr);
        ::execv(cargs[0], cargs.data());
        ::_exit(127);
    }
    return m_pid > 0;
}

bool Compositor::running()
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
    }
    return true;
}

bool Compositor::waitForBusName(const QString &busName, int waitMs)
{
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    for (int waited = 0; waited < waitMs && running(); waited += 100) {
        if (bus && bus->isServiceRegistered(busName))
            return true;
        tl::Clock::sleepMs(100);
    }
    return false;
}

void Compositor::stop()
{
    if (m_pid > 0) {
        ::kill(-m_pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 50 && ::waitpid(m_pid, &status, WNOHANG) == 0; ++i)
            tl::Clock::sleepMs(100);
        if (::waitpid(m_pid, &status, WNOHANG) == 0) {
            ::kill(-m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
        }
        m_pid = -1;
    }
    if (!m_runtime.isEmpty())
        QDir(m_runtime).removeRecursively();
    m_runtime.clear();
}

void Compositor::kill()
{
    if (m_pid > 0) {
        ::kill(-m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

QString Compositor::log() const
{
    QFile f(m_logPath);
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll().right(2000)) : QString();
}
