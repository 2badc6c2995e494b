#include "platform/DesktopSpace.h"

#include <QGuiApplication>

#include <algorithm>
#include <cmath>
#include <limits>

namespace tl {

DesktopSpace DesktopSpace::fromMonitors(const QList<MonitorInfo> &monitors, bool originIsRoot)
{
    DesktopSpace space;
    for (const MonitorInfo &m : monitors) {
        if (m.geometry.isEmpty() || space.m_count == kMaxMonitors)
            continue;
        const QRect native = m.nativeGeometry();
        space.m_monitors[size_t(space.m_count++)] = {m.geometry, native};
        space.m_box = space.m_box.united(native);
    }
    if (originIsRoot && !space.m_box.isEmpty())
        space.m_box = space.m_box.united(QRect(0, 0, 1, 1));
    return space;
}

DesktopSpace DesktopSpace::withBox(const QRect &box) const
{
    DesktopSpace space = *this;
    if (!box.isNull())
        space.m_box = box;
    return space;
}

DesktopSpace DesktopSpace::current()
{
    const bool x11 = qobject_cast<QGuiApplication *>(QCoreApplication::instance())
        && QGuiApplication::platformName() == QLatin1String("xcb");
    return fromMonitors(ScreenSource::monitors(), x11);
}

QPoint DesktopSpace::toNative(const QPoint &logical) const
{
    if (m_count == 0)
        return logical;
    // The monitor that holds the point, else the nearest one.
    int best = 0;
    long long bestDistance = std::numeric_limits<long long>::max();
    for (int i = 0; i < m_count; ++i) {
        const QRect &r = m_monitors[size_t(i)].logical;
        const long long dx = logical.x() < r.left() ? r.left() - logical.x()
                             : logical.x() > r.right() ? logical.x() - r.right() : 0;
        const long long dy = logical.y() < r.top() ? r.top() - logical.y()
                             : logical.y() > r.bottom() ? logical.y() - r.bottom() : 0;
        const long long d = dx * dx + dy * dy;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
            if (d == 0)
                break;
        }
    }
    const Monitor &m = m_monitors[size_t(best)];
    if (m.native.size() == m.logical.size())
        return logical - m.logical.topLeft() + m.native.topLeft();
    const double sx = double(m.native.width()) / m.logical.width();
    const double sy = double(m.native.height()) / m.logical.height();
    // The pixel under the logical pixel's centre.
    const int x = m.native.left() + int(std::floor((logical.x() - m.logical.left() + 0.5) * sx));
    const int y = m.native.top() + int(std::floor((logical.y() - m.logical.top() + 0.5) * sy));
    return QPoint(x, y);
}

int DesktopSpace::encodeAxis(int pixel, int size)
{
    if (size <= 0)
        return 0;
    const double v = std::floor((double(pixel) + 0.5) * 65536.0 / size);
    return int(std::clamp(v, 0.0, double(kAbsMax)));
}

int DesktopSpace::decodeAxis(int value, int size)
{
    if (size <= 0)
        return 0;
    const long long v = std::clamp(value, 0, kAbsMax);
    return int(v * size / 65536);
}

QPoint DesktopSpace::toAbsolute(const QPoint &native) const
{
    return QPoint(encodeAxis(native.x() - m_box.left(), m_box.width()),
                  encodeAxis(native.y() - m_box.top(), m_box.height()));
}

QPoint DesktopSpace::fromAbsolute(int absX, int absY) const
{
    return QPoint(m_box.left() + decodeAxis(absX, m_box.width()), m_box.top() + decodeAxis(absY, m_box.height()));
}

} // namespace tl
