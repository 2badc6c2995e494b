#include "FakeLogind.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QMutexLocker>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

FakeLogindManager::~FakeLogindManager()
{
    for (const Inhibitor &inhibitor : qAsConst(m_inhibitors))
        ::close(inhibitor.keptFd);
}

int FakeLogindManager::inhibitorCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_inhibitors.size();
}

FakeLogindManager::Inhibitor FakeLogindManager::inhibitor(int index) const
{
    QMutexLocker lock(&m_mutex);
    return m_inhibitors.value(index);
}

void FakeLogindManager::setRefuseInhibit(bool refuse)
{
    QMutexLocker lock(&m_mutex);
    m_refuse = refuse;
}

QDBusUnixFileDescriptor FakeLogindManager::Inhibit(const QString &what, const QString &who, const QString &why,
                                                   const QString &mode)
{
    QMutexLocker lock(&m_mutex);
    if (m_refuse) {
        sendErrorReply(QDBusError::AccessDenied, "Permission denied");
        return {};
    }
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        sendErrorReply(QDBusError::Failed, "socketpair failed");
        return {};
    }
    m_inhibitors.append({what, who, why, mode, pair[0]});
    // QDBusUnixFileDescriptor keeps a duplicate; the reply carries that one.
    QDBusUnixFileDescriptor handed(pair[1]);
    ::close(pair[1]);
    return handed;
}

bool FakeLogind::start(const QString &address)
{
    static int serial = 0;
    m_connectionName = QString("fake-logind-%1").arg(++serial);
    QDBusConnection connection = QDBusConnection::connectToBus(address, m_connectionName);
    if (!connection.isConnected())
        return false;
    m_thread.start();
    m_manager = new FakeLogindManager;
    m_manager->moveToThread(&m_thread);
    return connection.registerObject("/org/freedesktop/login1", m_manager, QDBusConnection::ExportAllSlots)
           && connection.registerService("org.freedesktop.login1");
}

void FakeLogind::stop()
{
    if (!m_connectionName.isEmpty()) {
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_connectionName.clear();
    }
    if (m_thread.isRunning()) {
        m_thread.quit();
        m_thread.wait();
    }
    delete m_manager;
    m_manager = nullptr;
}

bool FakeLogind::sendPrepareForSleep(bool start)
{
    QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                                     "PrepareForSleep");
    signal << start;
    return QDBusConnection(m_connectionName).send(signal);
}

bool FakeLogind::sendPrepareForShutdown(bool start)
{
    QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                                     "PrepareForShutdown");
    signal << start;
    return QDBusConnection(m_connectionName).send(signal);
}

bool FakeLogind::inhibitorReleased(int index) const
{
    const int fd = m_manager->inhibitor(index).keptFd;
    if (fd < 0)
        return false;
    char byte;
    const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0;
}
