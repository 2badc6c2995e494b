#include "platform/linux/PortalGlobalHotKey.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDebug>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
// A portal that does not answer within this time counts as absent.
constexpr int kCallTimeoutMs = 5000;

// One entry of BindShortcuts' a(sa{sv}).
struct PortalShortcut
{
    QString id;
    QVariantMap properties;
};
using PortalShortcutList = QList<PortalShortcut>;

QDBusArgument &operator<<(QDBusArgument &arg, const PortalShortcut &s)
{
    arg.beginStructure();
    arg << s.id << s.properties;
    arg.endStructure();
    return arg;
}

const QDBusArgument &operator>>(const QDBusArgument &arg, PortalShortcut &s)
{
    arg.beginStructure();
    arg >> s.id >> s.properties;
    arg.endStructure();
    return arg;
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)
Q_DECLARE_METATYPE(PortalShortcutList)

namespace tl {

QString PortalGlobalHotKey::portalTrigger(const QKeySequence &sequence)
{
    if (sequence.isEmpty())
        return QString();
    const int combined = sequence[0];
    QStringList parts;
    if (combined & Qt::ControlModifier)
        parts << QStringLiteral("CTRL");
    if (combined & Qt::AltModifier)
        parts << QStringLiteral("ALT");
    if (combined & Qt::ShiftModifier)
        parts << QStringLiteral("SHIFT");
    if (combined & Qt::MetaModifier)
        parts << QStringLiteral("LOGO");
    parts << QKeySequence(combined & ~int(Qt::KeyboardModifierMask)).toString(QKeySequence::PortableText);
    return parts.join('+');
}

std::unique_ptr<PortalGlobalHotKey> PortalGlobalHotKey::create(const QKeySequence &sequence,
                                                               const QDBusConnection &bus, QObject *parent)
{
    if (!bus.isConnected()) {
        qDebug() << "PortalGlobalHotKey: no session bus";
        return nullptr;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << kInterface << QStringLiteral("version");
    const QDBusMessage reply = QDBusConnection(bus).call(get, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qDebug() << "PortalGlobalHotKey: the desktop offers no" << kInterface << ":" << reply.errorMessage();
        return nullptr;
    }
    qDebug() << "PortalGlobalHotKey:" << kInterface << "version"
             << reply.arguments().value(0).value<QDBusVariant>().variant().toUInt();
    std::unique_ptr<PortalGlobalHotKey> key(new PortalGlobalHotKey(sequence, bus, parent));
    if (!key->createSession())
        return nullptr;
    return key;
}

PortalGlobalHotKey::PortalGlobalHotKey(const QKeySequence &sequence, const QDBusConnection &bus, QObject *parent)
    : GlobalHotKey(parent), m_bus(bus), m_sequence(sequence)
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<PortalShortcutList>();
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("Activated"), this,
                  SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
}

PortalGlobalHotKey::~PortalGlobalHotKey()
{
    m_bus.disconnect(kService, kPath, kInterface, QStringLiteral("Activated"), this,
                     SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    if (!m_session.isEmpty()) {
        // Closing the session gives the shortcut back.
        m_bus.call(QDBusMessage::createMethodCall(kService, m_session, QStringLiteral("org.freedesktop.portal.Session"),
                                                  QStringLiteral("Close")),
                   QDBus::NoBlock);
    }
}

// The portal announces a request's object path in advance, so that the
// Response signal can be subscribed to before the call (no race).
QString PortalGlobalHotKey::requestPath(const QString &token) const
{
    QString sender = m_bus.baseService().mid(1);
    sender.replace('.', '_');
    return kPath + QStringLiteral("/request/") + sender + '/' + token;
}

bool PortalGlobalHotKey::createSession()
{
    const QString token = QStringLiteral("tesselink_session");
    m_bus.connect(kService, requestPath(token), kRequest, QStringLiteral("Response"), this,
                  SLOT(onSessionResponse(uint, QVariantMap)));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CreateSession"));
    call << QVariantMap{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("session_handle_token"), QStringLiteral("tesselink_driver")}};
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qDebug() << "PortalGlobalHotKey: CreateSession refused:" << reply.errorMessage();
        return false;
    }
    return true;
}

void PortalGlobalHotKey::onSessionResponse(uint response, const QVariantMap &results)
{
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    m_session = handle.canConvert<QDBusObjectPath>() && handle.userType() == qMetaTypeId<QDBusObjectPath>()
        ? handle.value<QDBusObjectPath>().path()
        : handle.toString();
    qDebug() << "PortalGlobalHotKey: session response" << response << m_session;
    if (response != 0 || m_session.isEmpty()) {
        emit bindFinished(false);
        return;
    }
    bind();
}

void PortalGlobalHotKey::bind()
{
    const QString token = QStringLiteral("tesselink_bind");
    m_bus.connect(kService, requestPath(token), kRequest, QStringLiteral("Response"), this,
                  SLOT(onBindResponse(uint, QVariantMap)));
    PortalShortcutList shortcuts;
    shortcuts.append({QString::fromLatin1(kShortcutId),
                      QVariantMap{{QStringLiteral("description"), QStringLiteral("Re-sensing")},
                                  {QStringLiteral("preferred_trigger"), portalTrigger(m_sequence)}}});
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("BindShortcuts"));
    call << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariant::fromValue(shortcuts) << QString()
         << QVariantMap{{QStringLiteral("handle_token"), token}};
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qDebug() << "PortalGlobalHotKey: BindShortcuts refused:" << reply.errorMessage();
        emit bindFinished(false);
    }
}

void PortalGlobalHotKey::onBindResponse(uint response, const QVariantMap &)
{
    m_bBound = response == 0;
    qDebug() << "PortalGlobalHotKey:" << portalTrigger(m_sequence) << (m_bBound ? "bound" : "not bound")
             << "(response" << response << ")";
    emit bindFinished(m_bBound);
}

void PortalGlobalHotKey::onActivated(const QDBusObjectPath &session, const QString &id, qulonglong,
                                     const QVariantMap &)
{
    if (session.path() != m_session || id != QLatin1String(kShortcutId))
        return;
    emit activated();
}

} // namespace tl
