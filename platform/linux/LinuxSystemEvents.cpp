#include "platform/linux/LinuxSystemEvents.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDebug>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tl {

namespace {
// Signal handlers may only write to a descriptor; the event loop reads the other end.
int g_signalPipe[2] = {-1, -1};

void onUnixSignal(int)
{
    // write() may set errno under the feet of the interrupted code.
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = savedErrno;
}
} // namespace

LinuxSystemEvents::LinuxSystemEvents(QObject *parent)
    : SystemEventSource(parent)
{
    QDBusConnection system = QDBusConnection::systemBus();
    if (system.isConnected()
        && system.connect("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                          "PrepareForSleep", this, SLOT(onPrepareForSleep(bool)))) {
        // A match rule is accepted whether or not anyone owns the name, so the
        // subscription alone says nothing about logind. The Inhibit call starts
        // logind if the bus can activate it; only a name owner afterwards counts.
        takeSleepDelay();
        m_bLogind = system.interface()->isServiceRegistered("org.freedesktop.login1");
    }
    if (!m_bLogind)
        qDebug() << "LinuxSystemEvents: logind is not reachable; suspend and resume are not seen";
    if (system.isConnected())
        system.connect("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                       "PrepareForShutdown", this, SLOT(onPrepareForShutdown(bool)));

    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::screenAdded, this, [this](QScreen *screen) {
            watchScreen(screen);
            emit displayChanged();
        });
        connect(app, &QGuiApplication::screenRemoved, this, [this](QScreen *) { emit displayChanged(); });
        for (QScreen *screen : QGuiApplication::screens())
            watchScreen(screen);
        // commitDataRequest is not an end: the X session manager (XSMP) asks for
        // it at every save of the session, a checkpoint as much as a logout,
        // and there is none on Wayland. The end itself comes as the session
        // manager's "Die", which Qt turns into a Quit event for the
        // application (seen by the filter below); on systemd-managed sessions
        // (GNOME, Plasma, also on Wayland) as SIGTERM; at shutdown as logind's
        // PrepareForShutdown.
        connect(app, &QGuiApplication::commitDataRequest, this,
                [](QSessionManager &) { qDebug() << "LinuxSystemEvents: session save requested (not an end)"; },
                Qt::DirectConnection);
        app->installEventFilter(this);
    }

    // Non-blocking at both ends: the handler must never stall in write(), and a
    // wake-up that another reader of the pipe has already consumed must not stall
    // the event loop in read().
    if (g_signalPipe[0] < 0
        && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) == 0) {
        struct sigaction sa = {};
        sa.sa_handler = onUnixSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGHUP, &sa, nullptr);
    }
    if (g_signalPipe[0] >= 0) {
        m_signalNotifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
        connect(m_signalNotifier, &QSocketNotifier::activated, this, &LinuxSystemEvents::onSignalPipe);
    }
}

LinuxSystemEvents::~LinuxSystemEvents()
{
    releaseSleepDelay();
}

void LinuxSystemEvents::takeSleepDelay()
{
    if (m_sleepDelayFd >= 0)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                                       "org.freedesktop.login1.Manager", "Inhibit");
    call << QString("sleep") << QString("Tesselink Driver") << QString("Stopping the camera modules")
         << QString("delay");
    const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        qDebug() << "LinuxSystemEvents: no sleep delay from logind:" << reply.errorMessage();
        return;
    }
    const auto fd = reply.arguments().first().value<QDBusUnixFileDescriptor>();
    // The message owns its descriptor; keep a duplicate for as long as the delay holds.
    m_sleepDelayFd = fd.isValid() ? ::fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
}

void LinuxSystemEvents::releaseSleepDelay()
{
    if (m_sleepDelayFd >= 0) {
        ::close(m_sleepDelayFd);
        m_sleepDelayFd = -1;
    }
}

void LinuxSystemEvents::watchScreen(QScreen *screen)
{
    connect(screen, &QScreen::geometryChanged, this, [this](const QRect &) { emit displayChanged(); });
}

void LinuxSystemEvents::onPrepareForSleep(bool start)
{
    if (start) {
        // Receivers on this thread have stopped the modules when the signal
        // returns; only then may the machine go to sleep.
        emit suspending();
        releaseSleepDelay();
    } else {
        takeSleepDelay();
        emit resumed();
    }
}

void LinuxSystemEvents::onPrepareForShutdown(bool start)
{
    if (start)
        endSession("logind PrepareForShutdown");
}

bool LinuxSystemEvents::eventFilter(QObject *watched, QEvent *event)
{
    // The application's own Exit never sends a Quit event (quit() ends the
    // loop directly); one that reaches the application object comes from the
    // platform: the session manager's end of the session.
    if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit)
        endSession("session manager: end of the session");
    return SystemEventSource::eventFilter(watched, event);
}

void LinuxSystemEvents::endSession(const char *why)
{
    qDebug() << "LinuxSystemEvents: session ends:" << why;
    emit sessionEnding();
}

void LinuxSystemEvents::onSignalPipe()
{
    // One byte per signal; the notifier fires again while bytes remain.
    char byte = 0;
    if (::read(g_signalPipe[0], &byte, 1) == 1)
        emit sessionEnding();
}

} // namespace tl
