#include "tests/support/LogCapture.h"
#include "tests/support/DriverSpin.h"
#include "PrivateBus.h"
#include "XClient.h"

#include "platform/linux/PortalGlobalHotKey.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

using tl::PortalGlobalHotKey;
using tl::test::spinUntil;

namespace {

const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kIface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

// The desktop portal's GlobalShortcuts interface as a desktop offers it: the
// session and bind requests answer through Request objects, as the real portal
// does. Runs in a thread of its own, so the driver's blocking calls get answers.
class FakePortal : public QDBusVirtualObject
{
public:
    explicit FakePortal(QDBusConnection bus, bool bindRefused = false) : m_bus(bus), m_bindRefused(bindRefused) {}

    QString introspect(const QString &) const override { return QString(); }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QString member = message.member();
        if (member == QLatin1String("Get")) {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(uint(1)))));
            return true;
        }
        if (member == QLatin1String("Close")) {  // a session ends
            QMutexLocker lock(&m_mutex);
            m_closed << message.path();
            connection.send(message.createReply());
            return true;
        }
        if (message.arguments().isEmpty())
            return false;
        const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().constLast());
        QString sender = message.service().mid(1);
        sender.replace('.', '_');
        const QString request = kPath + "/request/" + sender + '/' + options.value("handle_token").toString();
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QVariantMap results;
        uint response = 0;
        if (member == QLatin1String("CreateSession")) {
            results["session_handle"] = kPath + "/session/" + sender + '/' +
                options.value("session_handle_token").toString();
        } else if (member == QLatin1String("BindShortcuts")) {
            const QDBusArgument list = message.arguments().at(1).value<QDBusArgument>();
            list.beginArray();
            while (!list.atEnd()) {
                QString id;
                QVariantMap props;
                list.beginStructure();
                list >> id >> props;
                list.endStructure();
                QMutexLocker lock(&m_mutex);
                m_bound << id + '=' + props.value("preferred_trigger").toString();
            }
            list.endArray();
            response = m_bindRefused ? 1 : 0;
        } else {
            return false;
        }
        QDBusMessage signal =
            QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"), "Response");
        signal << response << results;
        connection.send(signal);
        return true;
    }

    void activate(const QString &session, const QString &id)
    {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kIface, QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(1) << QVariantMap();
        m_bus.send(signal);
    }

    QStringList closed() const
    {
        QMutexLocker lock(&m_mutex);
        return m_closed;
    }
    QStringList bound() const
    {
        QMutexLocker lock(&m_mutex);
        return m_bound;
    }

private:
    QDBusConnection m_bus;
    bool m_bindRefused;
    mutable QMutex m_mutex;
    QStringList m_bound;
    QStringList m_closed;
};

class PortalHotKeyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bus.start()) << bus.error().toStdString();
        thread.start();
    }
    void TearDown() override
    {
        QDBusConnection("portal-service").unregisterObject(kPath, QDBusConnection::UnregisterTree);
        thread.quit();
        thread.wait();
        m_portal.reset();
        QDBusConnection::disconnectFromBus("portal-service");
        QDBusConnection::disconnectFromBus("driver");
    }

    // The portal's connection owns the portal's name; `portal` moves to its thread.
    void offer(FakePortal *portal)
    {
        QDBusConnection service = QDBusConnection::connectToBus(QString::fromLatin1(bus.address()), "portal-service");
        ASSERT_TRUE(service.registerVirtualObject(kPath, portal, QDBusConnection::VirtualObjectRegisterOption::SubPath));
        portal->moveToThread(&thread);
        m_portal.reset(portal);
        ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    }
    QDBusConnection driverBus() { return QDBusConnection::connectToBus(QString::fromLatin1(bus.address()), "driver"); }

    PrivateBus bus;
    QThread thread;
    std::unique_ptr<FakePortal> m_portal;
};

} // namespace

TEST_F(PortalHotKeyTest, BindsThePreferredTriggerAndReportsItsActivations)
{
    auto *portal = new FakePortal(QDBusConnection::connectToBus(QString::fromLatin1(bus.address()), "portal-service"));
    offer(portal);
    auto key = PortalGlobalHotKey::create(QKeySequence("Ctrl+Alt+Shift+F12"), driverBus());
    ASSERT_NE(key, nullptr);
    QSignalSpy bound(key.get(), &PortalGlobalHotKey::bindFinished);
    ASSERT_TRUE(spinUntil([&] { return bound.count() == 1; }, 10000));
    EXPECT_TRUE(bound.at(0).at(0).toBool());
    EXPECT_TRUE(key->isRegistered());
    EXPECT_EQ(portal->bound(), QStringList{"resensing=CTRL+ALT+SHIFT+F12"});

    QSignalSpy activated(key.get(), &tl::GlobalHotKey::activated);
    // Another session's shortcut and another id of ours are not this key.
    portal->activate(kPath + "/session/other/x", "resensing");
    portal->activate(key->sessionHandle(), "something-else");
    portal->activate(key->sessionHandle(), "resensing");
    ASSERT_TRUE(spinUntil([&] { return activated.count() >= 1; }, 10000));
    tl::test::spinFor(200);
    EXPECT_EQ(activated.count(), 1);
    // Giving the key up closes the session.
    const QString session = key->sessionHandle();
    key.reset();
    EXPECT_TRUE(spinUntil([&] { return portal->closed() == QStringList{session}; }, 10000));
}

TEST_F(PortalHotKeyTest, RefusedBindIsNotRegistered)
{
    auto *portal = new FakePortal(QDBusConnection::connectToBus(QString::fromLatin1(bus.address()), "portal-service"), true);
    offer(portal);
    auto key = PortalGlobalHotKey::create(QKeySequence("Ctrl+Alt+Shift+F12"), driverBus());
    ASSERT_NE(key, nullptr);
    QSignalSpy bound(key.get(), &PortalGlobalHotKey::bindFinished);
    ASSERT_TRUE(spinUntil([&] { return bound.count() == 1; }, 10000));
    EXPECT_FALSE(bound.at(0).at(0).toBool());
    EXPECT_FALSE(key->isRegistered());
    key.reset();
}

TEST_F(PortalHotKeyTest, DesktopWithoutThePortalGivesNoKeyAndOneLine)
{
    tl::test::LogCapture log;
    auto key = PortalGlobalHotKey::create(QKeySequence("Ctrl+Alt+Shift+F12"), driverBus());
    EXPECT_EQ(key, nullptr);
    EXPECT_TRUE(log.contains("PortalGlobalHotKey: the desktop offers no"));
}
