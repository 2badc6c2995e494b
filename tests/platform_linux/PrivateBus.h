#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// A dbus-daemon of our own, listening in a temporary folder. The system bus of
// a test machine (if any) is never touched: the test points DBUS_SYSTEM_BUS_ADDRESS
// here before Qt opens its first bus connection.
class PrivateBus
{
public:
    PrivateBus() = default;
    ~PrivateBus() { stop(); }
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    // Starts the daemon and waits for it to print its address. False, with a reason
    // in error(), when the daemon cannot be started.
    bool start();
    void stop();

    QByteArray address() const { return m_address; }
    QString error() const { return m_error; }

private:
    pid_t m_pid = -1;
    QByteArray m_address;
    QByteArray m_dir;
    QString m_error;
};
