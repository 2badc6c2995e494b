// GIO first: its headers use the word "signals", which Qt defines as a macro.
#include <gio/gio.h>

#include "platform/linux/OutputPinners.h"

#include "platform/Clock.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QRegularExpression>
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
                        m.transform = transform < uint(kTransformCount) ? int(transform) : 0;
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

bool GnomeOutputPinner::deviceMapping(const QString &devnode, QRect *rect, QString *error)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.gnome.Mutter.InputMapping"),
                                                       QStringLiteral("/org/gnome/Mutter/InputMapping"),
                                                       QStringLiteral("org.gnome.Mutter.InputMapping"),
                                                       QStringLiteral("GetDeviceMapping"));
    call << QVariant::fromValue(QDBusObjectPath(devnode));
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, Clock::wallMs(3000));
    if (reply.type() != QDBusMessage::ReplyMessage) {
        *error = reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
                     ? QStringLiteral("mutter offers no InputMapping (before 43): the mapping cannot be read back")
                     : QStringLiteral("InputMapping.GetDeviceMapping(%1): %2").arg(devnode, reply.errorMessage());
        return false;
    }
    if (reply.signature() != QLatin1String("(iiii)")) {
        *error = QStringLiteral("InputMapping.GetDeviceMapping answered \"%1\"").arg(reply.signature());
        return false;
    }
    const QDBusArgument arg = reply.arguments().at(0).value<QDBusArgument>();
    int x = 0, y = 0, w = 0, h = 0;
    arg.beginStructure();
    arg >> x >> y >> w >> h;
    arg.endStructure();
    *rect = QRect(x, y, w, h);
    return true;
}

bool GnomeOutputPinner::mappedTo(const QString &devnode, const QPoint &expected, QString *error)
{
    // mutter takes the key from its settings backend a moment after the write.
    QRect rect;
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (attempt)
            Clock::sleepMs(100);
        if (deviceMapping(devnode, &rect, error)) {
            if (rect.topLeft() == expected)
                return true;
            *error = QStringLiteral("mutter maps the device to the monitor at %1,%2 %3x%4")
                         .arg(rect.x())
                         .arg(rect.y())
                         .arg(rect.width())
                         .arg(rect.height());
        } else if (error->contains(QLatin1String("before 43"))) {
            return false;
        }
    }
    return false;
}

bool GnomeOutputPinner::writeKey(const PinRequest &request, const QList<QByteArray> &value, QString *error)
{
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    GSettingsSchema *schema =
        source ? g_settings_schema_source_lookup(source, kGnomeTouchscreenSchema, TRUE) : nullptr;
    if (!schema) {
        *error = QStringLiteral("the schema %1 is not installed").arg(QLatin1String(kGnomeTouchscreenSchema));
        return false;
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
        *error = QStringLiteral("the output key of %1 did not take the value").arg(QString::fromUtf8(path));
        return false;
    }
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
    if (!match->placed) {
        result.error = QStringLiteral("%1 is not part of mutter's layout").arg(match->connector);
        return result;
    }
    const QList<QByteArray> edid = {match->vendor.toUtf8(), match->product.toUtf8(), match->serial.toUtf8()};
    bool twin = false;
    for (const MutterMonitor &m : monitors)
        twin = twin || (&m != match && m.vendor == match->vendor && m.product == match->product &&
                        m.serial == match->serial);
    // Two monitors with the same EDID strings are told apart by the connector,
    // a fourth value that mutter reads from 46 on; before that mutter refuses
    // the whole key (and takes three values as the first of the twins).
    QList<QList<QByteArray>> attempts;
    if (twin)
        attempts.append(edid + QList<QByteArray>{match->connector.toUtf8()});
    attempts.append(edid);
    QStringList tried;
    for (const QList<QByteArray> &value : attempts) {
        QString error;
        if (!writeKey(request, value, &error)) {
            result.error = error;
            return result;
        }
        if (request.devnode.isEmpty()) {
            result.error = QStringLiteral("no event node for the device: the mapping cannot be read back");
            return result;
        }
        if (mappedTo(request.devnode, match->position, &error)) {
            result.ok = true;
            result.transform = match->transform;
            result.where = QStringLiteral("%1 (%2 %3 %4%5)")
                               .arg(match->connector, match->vendor, match->product, match->serial,
                                    value.size() == 4 ? QStringLiteral(", by connector") : QString());
            return result;
        }
        tried << QStringLiteral("%1 values: %2").arg(value.size()).arg(error);
        if (error.contains(QLatin1String("before 43")) || error.contains(QLatin1String("does not exist")))
            break;
    }
    result.error = QStringLiteral("mutter did not map the device to %1: %2")
                       .arg(match->connector, tried.join(QStringLiteral("; ")));
    return result;
}

// ---- KDE --------------------------------------------------------------------

KWinOutputPinner::KWinOutputPinner(QDBusConnection bus) : m_bus(std::move(bus)) {}

QList<KWinOutputPinner::KWinOutput> KWinOutputPinner::parseOutputs(const QString &text)
{
    // "Screen 0:\n---------\nName: Virtual-0\nEnabled: 1\nGeometry: 0,0,1920x1080\n..."
    QList<KWinOutput> out;
    static const QRegularExpression geometry(QStringLiteral("^(-?\\d+),(-?\\d+),(\\d+)x(\\d+)$"));
    bool inScreen = false;
    for (const QString &raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1String("Screen ")) && line.endsWith(QLatin1Char(':'))) {
            out.append(KWinOutput());
            inScreen = true;
        } else if (inScreen && line.startsWith(QLatin1String("Name: "))) {
            out.last().name = line.mid(6);
        } else if (inScreen && line.startsWith(QLatin1String("Enabled: "))) {
            out.last().enabled = line.mid(9) == QLatin1String("1");
        } else if (inScreen && line.startsWith(QLatin1String("Geometry: "))) {
            const QRegularExpressionMatch m = geometry.match(line.mid(10));
            if (m.hasMatch())
                out.last().geometry = QRect(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                                            m.captured(4).toInt());
        } else if (line.isEmpty()) {
            inScreen = false;
        }
    }
    return out;
}

bool KWinOutputPinner::outputs(QList<KWinOutput> *out, QString *error)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.kde.KWin"), QStringLiteral("/KWin"),
                                                       QStringLiteral("org.kde.KWin"),
                                                       QStringLiteral("supportInformation"));
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, Clock::wallMs(5000));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("s")) {
        *error = QStringLiteral("KWin.supportInformation: %1")
                     .arg(reply.type() == QDBusMessage::ReplyMessage ? QStringLiteral("answered \"%1\"").arg(reply.signature())
                                                                     : reply.errorMessage());
        return false;
    }
    *out = parseOutputs(reply.arguments().at(0).toString());
    if (out->isEmpty()) {
        *error = QStringLiteral("KWin's support information lists no output");
        return false;
    }
    return true;
}

PinResult KWinOutputPinner::pin(const PinRequest &request)
{
    PinResult result;
    if (request.outputs.size() != 1) {
        result.error = QStringLiteral("KWin binds a touchscreen to one output");
        return result;
    }
    const QString path = kwinDevicePath(request.devnode);
    if (path.isEmpty()) {
        result.error = QStringLiteral("no event node for the device");
        return result;
    }
    QList<KWinOutput> known;
    if (!outputs(&known, &result.error))
        return result;
    // By name, else by the rectangle (Qt may name a screen its own way).
    const MonitorInfo &target = request.outputs.first();
    QString output;
    for (const KWinOutput &o : known)
        if (o.enabled && !target.name.isEmpty() && o.name == target.name)
            output = o.name;
    for (const KWinOutput &o : known)
        if (output.isEmpty() && o.enabled && o.geometry == target.nativeGeometry())
            output = o.name;
    if (output.isEmpty()) {
        QStringList names;
        for (const KWinOutput &o : known)
            if (o.enabled)
                names << o.name;
        result.error = QStringLiteral("KWin has no output %1 at %2,%3 (it has %4)")
                           .arg(target.name.isEmpty() ? QStringLiteral("(unnamed)") : target.name)
                           .arg(target.nativeGeometry().x())
                           .arg(target.nativeGeometry().y())
                           .arg(names.join(QStringLiteral(", ")));
        return result;
    }
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
    return request(kI3IpcRunCommand, command, reply, error);
}

bool SwayOutputPinner::runAccepted(const QByteArray &command, QString *error)
{
    QByteArray reply;
    if (!runCommand(command, &reply, error))
        return false;
    // [{"success": true}] or [{"success": false, "error": "..."}].
    const QJsonDocument doc = QJsonDocument::fromJson(reply);
    const QJsonObject first = doc.isArray() ? doc.array().at(0).toObject() : doc.object();
    if (first.value(QStringLiteral("success")).toBool())
        return true;
    *error = QStringLiteral("sway refused '%1': %2")
                 .arg(QString::fromUtf8(command),
                      first.value(QStringLiteral("error")).toString(QString::fromUtf8(reply.left(200))));
    return false;
}

bool SwayOutputPinner::request(quint32 type, const QByteArray &payload, QByteArray *reply, QString *error)
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
    const QByteArray frame = i3IpcFrame(type, payload);
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
    quint32 length = 0, replyType = 0;
    std::memcpy(&length, buffer.constData() + 6, 4);
    std::memcpy(&replyType, buffer.constData() + 10, 4);
    if (replyType != type || length > 1u << 20) {
        *error = QStringLiteral("sway answered type %1, length %2").arg(replyType).arg(length);
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

bool SwayOutputPinner::outputs(QList<SwayOutput> *out, QString *error)
{
    QByteArray reply;
    if (!request(kI3IpcGetOutputs, QByteArray(), &reply, error))
        return false;
    const QJsonDocument doc = QJsonDocument::fromJson(reply);
    if (!doc.isArray()) {
        *error = QStringLiteral("sway's get_outputs is not a list: %1").arg(QString::fromUtf8(reply.left(200)));
        return false;
    }
    out->clear();
    for (const QJsonValue &v : doc.array()) {
        const QJsonObject o = v.toObject();
        const QJsonObject r = o.value(QStringLiteral("rect")).toObject();
        SwayOutput s;
        s.name = o.value(QStringLiteral("name")).toString();
        s.active = o.value(QStringLiteral("active")).toBool();
        s.rect = QRect(r.value(QStringLiteral("x")).toInt(), r.value(QStringLiteral("y")).toInt(),
                       r.value(QStringLiteral("width")).toInt(), r.value(QStringLiteral("height")).toInt());
        s.transform = transformFromSway(o.value(QStringLiteral("transform")).toString(QStringLiteral("normal")));
        out->append(s);
    }
    return true;
}

PinResult SwayOutputPinner::pin(const PinRequest &request)
{
    PinResult result;
    QList<SwayOutput> known;
    if (!outputs(&known, &result.error))
        return result;
    // Each board monitor as sway names it: by name, else by its rectangle.
    PinRequest resolved = request;
    QList<const SwayOutput *> targets;
    for (MonitorInfo &m : resolved.outputs) {
        const SwayOutput *found = nullptr;
        for (const SwayOutput &o : known)
            if (o.active && !m.name.isEmpty() && o.name == m.name)
                found = &o;
        for (const SwayOutput &o : known)
            if (!found && o.active && o.rect == m.nativeGeometry())
                found = &o;
        if (!found) {
            QStringList names;
            for (const SwayOutput &o : known)
                if (o.active)
                    names << o.name;
            result.error = QStringLiteral("sway has no output %1 at %2,%3 (it has %4)")
                               .arg(m.name.isEmpty() ? QStringLiteral("(unnamed)") : m.name)
                               .arg(m.nativeGeometry().x())
                               .arg(m.nativeGeometry().y())
                               .arg(names.isEmpty() ? QStringLiteral("none") : names.join(QStringLiteral(", ")));
            return result;
        }
        if (found->transform < 0) {
            result.error = QStringLiteral("sway reports a transform of %1 this driver does not know").arg(found->name);
            return result;
        }
        m.name = found->name;
        targets.append(found);
    }
    if (targets.isEmpty()) {
        result.error = QStringLiteral("no board monitor to map to");
        return result;
    }
    if (targets.size() > 1) {
        // A region does not turn with its outputs; the device would be fed
        // in the wrong frame on a turned one.
        for (const SwayOutput *o : targets)
            if (o->transform != 0) {
                result.error = QStringLiteral("%1 is turned; one device cannot span it with others").arg(o->name);
                return result;
            }
    }
    // sway applies a command to a device it does not list to nothing; a
    // created device shows up a moment after the kernel made it.
    const QString id = swayIdentifier(request.vendor, request.product, request.name);
    bool listed = false;
    QString inputsError;
    for (int attempt = 0; attempt < 20 && !listed; ++attempt) {
        if (attempt)
            Clock::sleepMs(100);
        QByteArray reply;
        if (!this->request(kI3IpcGetInputs, QByteArray(), &reply, &inputsError))
            continue;
        const QJsonDocument doc = QJsonDocument::fromJson(reply);
        for (const QJsonValue &v : doc.array())
            listed = listed || v.toObject().value(QStringLiteral("identifier")).toString() == id;
    }
    if (!listed) {
        result.error = inputsError.isEmpty() ? QStringLiteral("sway lists no input device %1").arg(id) : inputsError;
        return result;
    }
    const QByteArray cmd = command(resolved);
    if (!runAccepted(cmd, &result.error))
        return result;
    result.ok = true;
    // map_to_output turns the device with its output; a region does not.
    result.transform = resolved.outputs.size() == 1 ? targets.first()->transform : 0;
    result.where = (resolved.outputs.size() == 1 ? resolved.outputs.first().name : outputNames(resolved.outputs)) +
                   QStringLiteral(" (output and device checked; sway does not report a device's mapping)");
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
