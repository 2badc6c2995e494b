#include "PrivateBus.h"

#include <QDir>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// Everyone may own any name and talk to anyone: the fake logind registers the
// well-known name the driver calls, which a real system bus would reserve for root.
const char kConfig[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
} // namespace

bool PrivateBus::start()
{
    char dirTemplate[] = "/tmp/tl-private-bus-XXXXXX";
    if (!::mkdtemp(dirTemplate)) {
        m_error = QString("mkdtemp: %1").arg(std::strerror(errno));
        return false;
    }
    m_dir = dirTemplate;
    const QByteArray configPath = m_dir + "/bus.conf";
    FILE *config = std::fopen(configPath.constData(), "w");
    if (!config) {
        m_error = QString("cannot write %1").arg(QString::fromLocal8Bit(configPath));
        return false;
    }
    std::fprintf(config, kConfig, m_dir.constData());
    std::fclose(config);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        m_error = QString("pipe: %1").arg(std::strerror(errno));
        return false;
    }
    const QByteArray configArg = "--config-file=" + configPath;
    m_pid = ::fork();
    if (m_pid < 0) {
        m_error = QString("fork: %1").arg(std::strerror(errno));
        ::close(out[0]);
        ::close(out[1]);
        return false;
    }
    if (m_pid == 0) {
        // The daemon must not outlive a test that crashes.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::dup2(out[1], STDOUT_FILENO);
        ::execlp("dbus-daemon", "dbus-daemon", configArg.constData(), "--print-address", "--nofork",
                 static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);

    // The daemon prints its address once it listens; wait for the whole line.
    QByteArray line;
    for (;;) {
        pollfd pfd = {out[0], POLLIN, 0};
        if (::poll(&pfd, 1, 10000) <= 0)
            break;
        char buffer[256];
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        line.append(buffer, int(n));
        if (line.contains('\n'))
            break;
    }
    ::close(out[0]);
    if (!line.contains('\n')) {
        m_error = "dbus-daemon printed no address";
        stop();
        return false;
    }
    m_address = line.left(line.indexOf('\n')).trimmed();
    return true;
}

void PrivateBus::stop()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }
    if (!m_dir.isEmpty()) {
        QDir(QString::fromLocal8Bit(m_dir)).removeRecursively();
        m_dir.clear();
    }
}
