#include "platform/linux/TouchMapping.h"

#include <QProcessEnvironment>
#include <QtEndian>
#include <algorithm>
#include <cmath>
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

std::array<float, 6> transformMatrix(int transform)
{
    static const float table[kTransformCount][6] = {
        {1, 0, 0, 0, 1, 0},   // normal
        {0, -1, 1, 1, 0, 0},  // 90
        {-1, 0, 1, 0, -1, 1}, // 180
        {0, 1, 0, -1, 0, 1},  // 270
        {-1, 0, 1, 0, 1, 0},  // flipped
        {0, 1, 0, 1, 0, 0},   // flipped 90
        {1, 0, 0, 0, -1, 1},  // flipped 180
        {0, -1, 1, -1, 0, 1}, // flipped 270
    };
    const float *t = table[transform >= 0 && transform < kTransformCount ? transform : 0];
    return {t[0], t[1], t[2], t[3], t[4], t[5]};
}

int transformFromRandr(int bits)
{
    enum { R0 = 1, R90 = 2, R180 = 4, R270 = 8, RX = 16, RY = 32 };
    // The pairs xinput's transform.c treats alike.
    switch (bits & 63) {
    case R0:
    case R180 | RX | RY: return 0;
    case R90:
    case R270 | RX | RY: return 1;
    case R180:
    case R0 | RX | RY: return 2;
    case R270:
    case R90 | RX | RY: return 3;
    case R0 | RX:
    case R180 | RY: return 4;
    case R90 | RY:
    case R270 | RX: return 5;
    case R0 | RY:
    case R180 | RX: return 6;
    case R90 | RX:
    case R270 | RY: return 7;
    default: return 0;
    }
}

int transformFromSway(const QString &name)
{
    static const char *const names[kTransformCount] = {"normal", "270", "180", "90",
                                                       "flipped", "flipped-270", "flipped-180", "flipped-90"};
    for (int t = 0; t < kTransformCount; ++t)
        if (name == QLatin1String(names[t]))
            return t;
    return -1;
}

QPoint toDeviceFrame(const QPoint &p, const QRect &area, int transform)
{
    if (transform <= 0 || transform >= kTransformCount || area.isEmpty())
        return p;
    // The pixel's centre, normalised; then the inverse of the desktop's turn.
    // Every matrix of the table is its own inverse or that of its mirror turn,
    // so solve the 2x2 system directly.
    const double u = (p.x() - area.x() + 0.5) / area.width();
    const double v = (p.y() - area.y() + 0.5) / area.height();
    const auto m = transformMatrix(transform);
    const double det = double(m[0]) * m[4] - double(m[1]) * m[3];
    const double du = u - m[2], dv = v - m[5];
    const double du2 = (m[4] * du - m[1] * dv) / det;
    const double dv2 = (-m[3] * du + m[0] * dv) / det;
    const int x = area.x() + int(std::floor(du2 * area.width()));
    const int y = area.y() + int(std::floor(dv2 * area.height()));
    return QPoint(std::clamp(x, area.left(), area.right()), std::clamp(y, area.top(), area.bottom()));
}

std::array<float, 9> coordinateMatrix(const QRect &area, const QSize &root, int transform)
{
    std::array<float, 9> m = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    if (root.width() <= 0 || root.height() <= 0)
        return m;
    const float x = 1.0f * area.x() / root.width();
    const float y = 1.0f * area.y() / root.height();
    const float w = 1.0f * area.width() / root.width();
    const float h = 1.0f * area.height() / root.height();
    // The output's box times the turn. The turn's entries are 0 and +-1 and
    // each sum has one term besides the offset, so the values come out exactly
    // as xinput spells them.
    const auto t = transformMatrix(transform);
    m[0] = w * t[0];
    m[1] = w * t[1];
    m[2] = t[2] != 0 ? x + w : x;
    m[3] = h * t[3];
    m[4] = h * t[4];
    m[5] = t[5] != 0 ? y + h : y;
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
