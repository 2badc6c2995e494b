#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusUnixFileDescriptor>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>
#include <QVector>

// logind's manager object as the driver sees it: Inhibit() hands out one end of a
// socket pair and keeps the other, so a test can tell when the driver let go of
// its inhibitor (the kept end reads end-of-file once every copy of the other end
// is closed), and PrepareForSleep is sent on request.
class FakeLogindManager : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    struct Inhibitor
    {
        QString what;
        QString who;
        QString why;
        QString mode;
        int keptFd = -1;
    };

    ~FakeLogindManager() override;

    // Called from the test thread while the object serves calls on its own thread.
    int inhibitorCount() const;
    Inhibitor inhibitor(int index) const;
    void setRefuseInhibit(bool refuse);

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &who, const QString &why,
                                    const QString &mode);

private:
    mutable QMutex m_mutex;
    QVector<Inhibitor> m_inhibitors;
    bool m_refuse = false;
};

// The fake on the bus. It talks over a connection of its own, so it is a separate
// bus peer from the driver's system bus connection, and it serves calls on a
// thread of its own: the driver's Inhibit call blocks the test thread.
class FakeLogind
{
public:
    FakeLogind() = default;
    ~FakeLogind() { stop(); }
    FakeLogind(const FakeLogind &) = delete;
    FakeLogind &operator=(const FakeLogind &) = delete;

    // Registers "org.freedesktop.login1" on the bus at address.
    bool start(const QString &address);
    // Leaves the bus; the name goes away with the connection.
    void stop();

    FakeLogindManager &manager() { return *m_manager; }
    bool sendPrepareForSleep(bool start);
    bool sendPrepareForShutdown(bool start);

    // True once every copy of the descriptor handed out by the given Inhibit call
    // has been closed.
    bool inhibitorReleased(int index) const;

private:
    QThread m_thread;
    FakeLogindManager *m_manager = nullptr;
    QString m_connectionName;
};
