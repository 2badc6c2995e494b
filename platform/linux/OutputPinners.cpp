// GIO first: its headers use the word "signals", which Qt defines as a macro.
#include <gio/gio.h>

#include "platform/linux/OutputPinners.h"

#include "platform/Clock.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tl {

namespace {

QString outputNames(const QList<MonitorInfo> &outputs)
{
    QStringList names;
    for (const MonitorInfo &m : outputs)
        names << (m.name.isEmpty() ? QStringLiteral("(unnamed)") : m.name);
    return names.join(QStringLiteral(" + "));
}

} // namespace

// ---- GNOME ------------------------------------------------------------------

GnomeOutputPinner::GnomeOutputPinner(QDBusConnection bus) : m_bus(std::move(bus)) {}

bool GnomeOutputPinner::currentMonitors(QList<MutterMonitor> *out, QString *error)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.gnome.Mutter.DisplayConfig"),
                                                       QStringLiteral("/org/gnome/Mutter/DisplayConfig"),
                                                       QStringLiteral("org.gnome.Mutter.DisplayConfig"),
                                                       QStringLiteral("GetCurrentState"));
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, Clock::wallMs(3000));
    if (reply.type() != QDBusMessage::ReplyMessage) {
        *error = QStringLiteral("DisplayConfig.GetCurrentState: %1").arg(reply.errorMessage());
        return false;
    }
    static const QString kSignature =
        QStringLiteral("ua((ssss)a(siiddada{sv})a{sv})a(iiduba(ssss)a{sv})a{sv}");
    if (reply.signature() != kSignature) {
        *error = QStringLiteral("DisplayConfig.GetCurrentState answered \"%1\"").arg(reply.signature());
        return false;
    }
    const QList<QVariant> args = reply.arguments();
    QList<MutterMonitor> monitors;
    {
        const QDBusArgument arg = args.at(1).value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            MutterMonitor m;
            arg.beginStructure();
            arg.beginStructure();
            arg >> m.connector >> m.vendor >> m.product >> m.serial;
            arg.endStructure();
            arg.beginArray();
            while (!arg.atEnd()) {
                QString id;
                int w = 0, h = 0;
                double rate = 0, scale = 0;
                QList<double> scales;
                QVariantMap props;
                arg.beginStructure();
                arg >> id >> w >> h >> rate >> scale >> scales >> props;
                arg.endStructure();
            }
            arg.endArray();
            QVariantMap props;
            arg >> props;
            arg.endStructure();
            monitors.append(m);
        }
        arg.endArray();
    }
    {
        const QDBusArgument arg = args.at(2).value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            int x = 0, y = 0;
            double scale = 0;
            uint transform = 0;
            bool primary = false;
            QVariantMap props;
            arg.beginStructure();
            arg >> x >> y >> scale >> transform >> primary;
            arg.beginArray();
            while (!arg.atEnd()) {
                QString connector, vendor, product, serial;
                arg.beginStructure();
                arg >> connector >> vendor >> product >> serial;
                arg.endStructure();
                for (MutterMonitor &m : monitors)
                    if (m.connector == connector) {
                        m.position = QPoint(x, y);
                        m.placed = true;
                    }
            }
            arg.endArray();
            arg >> props;
            arg.endStructure();
        }
        arg.endArray();
    }
    *out = monitors;
    return true;
}

PinResult GnomeOutputPinner::pin(const PinRequest &request)
{
    PinResult result;
    if (request.outputs.size() != 1) {
        result.error = QStringLiteral("mutter pins a touchscreen to one monitor only");
        return result;
    }
    const MonitorInfo &target = request.outputs.first();
    QList<MutterMonitor> monitors;
    if (!currentMonitors(&monitors, &result.error))
        return result;
    // By connector name, else by the position of the monitor in the layout.
    const MutterMonitor *match = nullptr;
    for (const MutterMonitor &m : monitors)
        if (!target.name.isEmpty() && m.connector == target.name)
            match = &m;
    for (const MutterMonitor &m : monitors)
        if (!match && m.placed && m.position == target.nativeGeometry().topLeft())
            match = &m;
    if (!match) {
        result.error = QStringLiteral("mutter knows no monitor %1 at %2,%3")
                           .arg(target.name)
                           .arg(target.nativeGeometry().x())
                           .arg(target.nativeGeometry().y());
        return result;
    }
    QList<QByteArray> value = {match->vendor.toUtf8(), match->product.toUtf8(), match->serial.toUtf8()};
    // Two monitors with the same EDID strings are told apart by the connector
    // (a fourth value, read by newer mutter; older ones need exactly three).
    for (const MutterMonitor &m : monitors)
        if (&m != match && m.vendor == match->vendor && m.product == match->product && m.serial == match->serial) {
            value.append(match->connector.toUtf8());
            break;
        }

    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    GSettingsSchema *schema =
        source ? g_settings_schema_source_lookup(source, kGnomeTouchscreenSchema, TRUE) : nullptr;
    if (!schema) {
        result.error = QStringLiteral("the schema %1 is not installed").arg(QLatin1String(kGnomeTouchscreenSchema));
        return result;
    }
    const QByteArray path = gnomeTouchscreenPath(request.vendor, request.product).toUtf8();
    GSettings *settings = g_settings_new_full(schema, nullptr, path.constData());
    g_settings_schema_unref(schema);
    QVector<const char *> strv;
    for (const QByteArray &v : value)
        strv.append(v.constData());
    strv.append(nullptr);
    const bool written = g_settings_set_strv(settings, "output", strv.constData());
    g_settings_sync();
    // Read back: a value that did not stick is a failure, not a success.
    gchar **stored = g_settings_get_strv(settings, "output");
    bool same = stored && g_strv_length(stored) == guint(value.size());
    for (int i = 0; same && i < value.size(); ++i)
        same = value[i] == QByteArray(stored[i]);
    g_strfreev(stored);
    g_object_unref(settings);
    if (!written || !same) {
        result.error = QStringLiteral("the output key of %1 did not take the value").arg(QString::fromUtf8(path));
        return result;
    }
    result.ok = true;
    result.where = QStringLiteral("%1 (%2 %3 %4)").arg(match->connector, match->vendor, match->product, match->serial);
    return result;
}

// ---- KDE --------------------------------------------------------------------

KWinOutputPinner::KWinOutputPinner(QDBusConnection bus) : m_bus(std::move(bus)) {}

PinResult KWinOutputPinner::pin(const PinRequest &request)
{
    PinResult result;
    if (request.outputs.size() != 1 || request.outputs.first().name.isEmpty()) {
        result.error = QStringLiteral("KWin binds a touchscreen to one named output");
        return result;
    }
    const QString path = kwinDevicePath(request.devnode);
    if (path.isEmpty()) {
        result.error = QStringLiteral("no event node for the device");
        return result;
    }
    const QString output = request.outputs.first().name;
    const QString iface = QStringLiteral("org.kde.KWin.InputDevice");
    QDBusMessage set = QDBusMessage::createMethodCall(QStringLiteral("org.kde.KWin"), path,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Set"));
    set << iface << QStringLiteral("outputName") << QVariant::fromValue(QDBusVariant(output));
    QDBusMessage reply;
    // KWin publishes the device object a moment after the kernel created it.
    for (int attempt = 0; attempt < 20; ++attempt) {
        reply = m_bus.call(set, QDBus::Block, Clock::wallMs(2000));
        if (reply.type() == QDBusMessage::ReplyMessage ||
            reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.UnknownObject"))
            break;
        Clock::sleepMs(100);
    }
    if (reply.type() != QDBusMessage::ReplyMessage) {
        result.error = QStringLiteral("KWin refused outputName %1: %2").arg(output, reply.errorMessage());
        return result;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(QStringLiteral("org.kde.KWin"), path,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << iface << QStringLiteral("outputName");
    const QDBusMessage back = m_bus.call(get, QDBus::Block, Clock::wallMs(2000));
    const QVariant v = back.arguments().value(0).value<QDBusVariant>().variant();
    if (back.type() != QDBusMessage::ReplyMessage || v.userType() != QMetaType::QString || v.toString() != output) {
        result.error = QStringLiteral("KWin kept outputName \"%1\" instead of %2").arg(v.toString(), output);
        return result;
    }
    result.ok = true;
    result.where = output;
    return result;
}

// ---- sway -------------------------------------------------------------------

SwayOutputPinner::SwayOutputPinner(QString socketPath) : m_path(std::move(socketPath))
{
    if (m_path.isEmpty())
        m_path = QProcessEnvironment::systemEnvironment().value(QStringLiteral("SWAYSOCK"));
}

QByteArray SwayOutputPinner::command(const PinRequest &request)
{
    const QByteArray id = swayIdentifier(request.vendor, request.product, request.name).toUtf8();
    if (request.outputs.size() == 1 && !request.outputs.first().name.isEmpty())
        return "input \"" + id + "\" map_to_output \"" + request.outputs.first().name.toUtf8() + "\"";
    return "input \"" + id + "\" map_to_region " + QByteArray::number(request.area.x()) + ' ' +
           QByteArray::number(request.area.y()) + ' ' + QByteArray::number(request.area.width()) + ' ' +
           QByteArray::number(request.area.height());
}

bool SwayOutputPinner::runCommand(const QByteArray &command, QByteArray *reply, QString *error)
{
    if (m_path.isEmpty()) {
        *error = QStringLiteral("no sway socket (SWAYSOCK is not set)");
        return false;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray path = m_path.toLocal8Bit();
    if (path.size() >= int(sizeof addr.sun_path)) {
        *error = QStringLiteral("socket path too long: %1").arg(m_path);
        return false;
    }
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        *error = QStringLiteral("%1: %2").arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    const QByteArray frame = i3IpcFrame(kI3IpcRunCommand, command);
    bool ok = ::send(fd, frame.constData(), size_t(frame.size()), MSG_NOSIGNAL) == frame.size();
    QByteArray buffer;
    auto readAtLeast = [&](int n) {
        char chunk[4096];
        while (buffer.size() < n) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, Clock::wallMs(2000)) <= 0)
                return false;
            const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
            if (got <= 0)
                return false;
            buffer.append(chunk, int(got));
        }
        return true;
    };
    if (!ok || !readAtLeast(kI3IpcHeaderSize) || !buffer.startsWith("i3-ipc")) {
        *error = QStringLiteral("sway closed the socket before a reply");
        ::close(fd);
        return false;
    }
    quint32 length = 0, type = 0;
    std::memcpy(&length, buffer.constData() + 6, 4);
    std::memcpy(&type, buffer.constData() + 10, 4);
    if (type != kI3IpcRunCommand || length > 1u << 20) {
        *error = QStringLiteral("sway answered type %1, length %2").arg(type).arg(length);
        ::close(fd);
        return false;
    }
    ok = readAtLeast(kI3IpcHeaderSize + int(length));
    ::close(fd);
    if (!ok) {
        *error = QStringLiteral("sway closed the socket in the middle of a reply");
        return false;
    }
    *reply = buffer.mid(kI3IpcHeaderSize, int(length));
    return true;
}

PinResult SwayOutputPinner::pin(const PinRequest &request)
{
    PinResult result;
    const QByteArray cmd = command(request);
    QByteArray reply;
    if (!runCommand(cmd, &reply, &result.error))
        return result;
    // [{"success": true}] or [{"success": false, "error": "..."}].
    const QJsonDocument doc = QJsonDocument::fromJson(reply);
    const QJsonObject first = doc.isArray() ? doc.array().at(0).toObject() : doc.object();
    if (!first.value(QStringLiteral("success")).toBool()) {
        result.error = QStringLiteral("sway refused '%1': %2")
                           .arg(QString::fromUtf8(cmd),
                                first.value(QStringLiteral("error")).toString(QString::fromUtf8(reply.left(200))));
        return result;
    }
    result.ok = true;
    result.where = request.outputs.size() == 1 ? request.outputs.first().name : outputNames(request.outputs);
    return result;
}

std::unique_ptr<OutputPinner> createPinner(DesktopKind kind)
{
    switch (kind) {
    case DesktopKind::X11: return std::make_unique<X11MatrixPinner>();
    case DesktopKind::GnomeWayland:
    case DesktopKind::GnomeXorg: return std::make_unique<GnomeOutputPinner>();
    case DesktopKind::KdeWayland: return std::make_unique<KWinOutputPinner>();
    case DesktopKind::Sway: return std::make_unique<SwayOutputPinner>();
    case DesktopKind::Weston:
    case DesktopKind::OtherWayland: return nullptr;
    }
    return nullptr;
}

} // namespace tl
