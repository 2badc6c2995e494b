#include "platform/linux/TouchMapping.h"

#include <QProcessEnvironment>
#include <QtEndian>
#include <algorithm>
#include <cstring>

namespace tl {

DesktopKind detectDesktop(const QString &qtPlatform, const QProcessEnvironment &env)
{
    const QString desktop = env.value(QStringLiteral("XDG_CURRENT_DESKTOP")).toUpper();
    const bool gnome = desktop.split(QLatin1Char(':')).contains(QStringLiteral("GNOME"));
    if (qtPlatform == QLatin1String("xcb"))
        return gnome ? DesktopKind::GnomeXorg : DesktopKind::X11;
    if (gnome)
        return DesktopKind::GnomeWayland;
    if (desktop.split(QLatin1Char(':')).contains(QStringLiteral("KDE")))
        return DesktopKind::KdeWayland;
    if (!env.value(QStringLiteral("SWAYSOCK")).isEmpty() || desktop.contains(QStringLiteral("SWAY")))
        return DesktopKind::Sway;
    if (desktop.contains(QStringLiteral("WESTON")))
        return DesktopKind::Weston;
    return DesktopKind::OtherWayland;
}

QString desktopName(DesktopKind kind)
{
    switch (kind) {
    case DesktopKind::X11: return QStringLiteral("X11");
    case DesktopKind::GnomeWayland: return QStringLiteral("GNOME (Wayland)");
    case DesktopKind::GnomeXorg: return QStringLiteral("GNOME (Xorg)");
    case DesktopKind::KdeWayland: return QStringLiteral("KDE (Wayland)");
    case DesktopKind::Sway: return QStringLiteral("sway");
    case DesktopKind::Weston: return QStringLiteral("weston");
    case DesktopKind::OtherWayland: return QStringLiteral("Wayland");
    }
    return QString();
}

bool spansSeveralOutputs(DesktopKind kind)
{
    return kind == DesktopKind::X11 || kind == DesktopKind::Sway;
}

QList<MonitorInfo> boardMonitorsOf(const QList<QRect> &rects, const QList<MonitorInfo> &monitors)
{
    QList<MonitorInfo> out;
    for (const QRect &r : rects) {
        if (r.isEmpty())
            continue;
        int found = -1;
        for (int i = 0; i < monitors.size() && found < 0; ++i)
            if (monitors[i].geometry == r)
                found = i;
        for (int i = 0; i < monitors.size() && found < 0; ++i)
            if (monitors[i].geometry.contains(r.center()))
                found = i;
        if (found < 0)
            continue;
        bool dup = false;
        for (const MonitorInfo &m : out)
            dup = dup || m.geometry == monitors[found].geometry;
        if (!dup)
            out.append(monitors[found]);
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const MonitorInfo &a, const MonitorInfo &b) { return a.geometry.left() < b.geometry.left(); });
    return out;
}

namespace {

double unitsPerMmOf(const MonitorInfo &m, double fallback)
{
    // A real figure of the board display when the monitor reports its size
    // (projectors often report none, or a nominal one).
    const QRect native = m.nativeGeometry();
    if (m.physicalMm.width() >= 1.0 && native.width() > 0)
        return native.width() / m.physicalMm.width();
    return fallback > 0 ? fallback : 96.0 / 25.4;
}

} // namespace

QList<TouchDevicePlan> planTouchDevices(DesktopKind kind, const QList<MonitorInfo> &boardMonitors,
                                        double fallbackUnitsPerMm)
{
    QList<TouchDevicePlan> plans;
    if (boardMonitors.isEmpty())
        return plans;
    QRect unionRect;
    long long area = 0;
    for (const MonitorInfo &m : boardMonitors) {
        unionRect = unionRect.united(m.nativeGeometry());
        area += (long long)m.nativeGeometry().width() * m.nativeGeometry().height();
    }
    const bool oneRectangle = area == (long long)unionRect.width() * unionRect.height();
    if (boardMonitors.size() == 1 || (spansSeveralOutputs(kind) && oneRectangle)) {
        TouchDevicePlan plan;
        plan.name = "Tesselink Driver touch";
        plan.product = kTouchProductBase;
        plan.area = unionRect;
        plan.outputs = boardMonitors;
        plan.unitsPerMm = unitsPerMmOf(boardMonitors.first(), fallbackUnitsPerMm);
        plans.append(plan);
        return plans;
    }
    for (int i = 0; i < boardMonitors.size() && i < 2; ++i) {
        TouchDevicePlan plan;
        plan.name = QByteArray("Tesselink Driver touch module ") + QByteArray::number(i + 1);
        plan.product = quint16(kTouchProductBase + i);
        plan.area = boardMonitors[i].nativeGeometry();
        plan.outputs = {boardMonitors[i]};
        plan.unitsPerMm = unitsPerMmOf(boardMonitors[i], fallbackUnitsPerMm);
        plans.append(plan);
    }
    return plans;
}

std::array<float, 9> coordinateMatrix(const QRect &area, const QSize &root, int rotation)
{
    std::array<float, 9> m = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    if (root.width() <= 0 || root.height() <= 0)
        return m;
    const float x = 1.0f * area.x() / root.width();
    const float y = 1.0f * area.y() / root.height();
    const float w = 1.0f * area.width() / root.width();
    const float h = 1.0f * area.height() / root.height();
    // Spelled out per rotation, as xinput does, to keep exact values.
    auto s4 = [&m](float x02, float x12, float d1, float d2, bool mainDiagonal) {
        m[2] = x02;
        m[5] = x12;
        if (mainDiagonal) {
            m[0] = d1;
            m[4] = d2;
        } else {
            m[0] = 0;
            m[4] = 0;
            m[1] = d1;
            m[3] = d2;
        }
    };
    switch (((rotation % 360) + 360) % 360) {
    case 90: s4(x + w, y, -w, h, false); break;
    case 180: s4(x + w, y + h, -w, -h, true); break;
    case 270: s4(x, y + h, w, -h, false); break;
    default: s4(x, y, w, h, true); break;
    }
    return m;
}

QString gnomeTouchscreenPath(quint16 vendor, quint16 product)
{
    return QStringLiteral("/org/gnome/desktop/peripherals/touchscreens/%1:%2/")
        .arg(vendor, 4, 16, QLatin1Char('0'))
        .arg(product, 4, 16, QLatin1Char('0'));
}

QString kwinDevicePath(const QString &devnode)
{
    const QString prefix = QStringLiteral("/dev/input/event");
    if (!devnode.startsWith(prefix))
        return QString();
    const QString number = devnode.mid(prefix.size());
    bool ok = false;
    number.toUInt(&ok);
    return ok ? QStringLiteral("/org/kde/KWin/InputDevice/event") + number : QString();
}

QString swayIdentifier(quint16 vendor, quint16 product, const QByteArray &name)
{
    QByteArray id = name.trimmed();
    for (char &c : id)
        if (c == ' ' || c < 0x20 || c > 0x7E)
            c = '_';
    return QStringLiteral("%1:%2:%3").arg(vendor).arg(product).arg(QString::fromLatin1(id));
}

QByteArray i3IpcFrame(quint32 type, const QByteArray &payload)
{
    QByteArray frame("i3-ipc");
    const quint32 length = quint32(payload.size());
    frame.append(reinterpret_cast<const char *>(&length), 4);
    frame.append(reinterpret_cast<const char *>(&type), 4);
    frame.append(payload);
    return frame;
}

} // namespace tl
