#include "input/NqUtils.h"

#include "platform/Screens.h"

#include <QDebug>

#include <algorithm>

namespace NqUtils {

namespace {

// Monitors in enumeration order, then ordered by left edge with the pairwise
// exchange the display list has always used (equal left edges keep their order
// relative to each other only as far as that exchange does).
QList<QRect> enumerate(int *primary = nullptr)
{
    const QList<tl::MonitorInfo> monitors = tl::ScreenSource::monitors();
    // The primary monitor is the window system's primary (Qt's primaryScreen()),
    // wherever it lies; it need not be the one at (0, 0). Without one, the
    // monitor at (0, 0); without that either, the first of the left-to-right
    // list (set after the ordering below).
    int primaryAt = tl::ScreenSource::namedPrimaryIndex(monitors);
    QList<QRect> rects;
    for (int i = 0; i < monitors.size(); ++i) {
        // A screen's QRect already has inclusive edges: right() = x + width - 1.
        rects.append(monitors[i].geometry);
        qDebug() << "NqUtils::enumerate():" << i << rects.last();
    }
    for (int i = 0; i + 1 < rects.size(); ++i)
        for (int j = i + 1; j < rects.size(); ++j)
            if (rects[j].left() < rects[i].left()) {
                rects.swapItemsAt(i, j);
                if (primaryAt == i)
                    primaryAt = j;
                else if (primaryAt == j)
                    primaryAt = i;
            }
    if (primary)
        *primary = primaryAt < 0 && !rects.isEmpty() ? 0 : primaryAt;
    return rects;
}

int trunc(double v)
{
    return static_cast<int>(v);
}

} // namespace

void getWindowRect(QRect rects[2])
{
    const QList<QRect> list = enumerate();
    qDebug() << "NqUtils::getWindowRect() - nNumberOfDisplays =" << list.size();
    rects[0] = list.size() > 0 ? list[0] : QRect();
    rects[1] = list.size() > 1 ? list[1] : QRect();
}

void getWindowRectAll(QList<QRect> &rects)
{
    rects = enumerate();
    qDebug() << "NqUtils::getWindowRectAll() - nNumberOfDisplays =" << rects.size();
    for (int i = 0; i < rects.size(); ++i)
        qDebug() << "->" << i << rects[i];
}

void getMonitorRect(QRect &rect, int n)
{
    int primary = -1;
    const QList<QRect> list = enumerate(&primary);
    rect = QRect();
    if (list.isEmpty())
        return;
    if (list.size() == 1) {
        rect = list[0];
        return;
    }
    if (n < 0 || n >= list.size()) {
        rect = list[std::max(primary, 0)];
        return;
    }
    rect = list[n];
}

int primaryMonitorIndex()
{
    int primary = -1;
    enumerate(&primary);
    return std::max(primary, 0);
}

void getTargetSize(int w, int h, int &sizeA, int &sizeB)
{
    sizeA = std::max(trunc(w * 50.0 / 1280 + 0.5), trunc(h * 50.0 / 800 + 0.5));
    sizeB = std::max(trunc(w * 40.0 / 1280 + 0.5), trunc(h * 40.0 / 800 + 0.5));
}

double getTargetSpacing(int w, int h, bool flag, int mcPointCount)
{
    const bool wide1610 = static_cast<qint64>(w) * 800 == static_cast<qint64>(h) * 1280;
    if (!flag && mcPointCount == 25)
        return wide1610 ? w * 10.0 / 1280 : 10.0;
    if (wide1610)
        return w * 70.0 / 1280;
    int a = 0, b = 0;
    getTargetSize(w, h, a, b);
    if (w > 1280)
        return w * 20.0 / 1280 + a;
    return a + 10;
}

double getMonitorScale(int left, int top, int right, int bottom)
{
    for (const tl::MonitorInfo &m : tl::ScreenSource::monitors()) {
        const QRect g = m.geometry;
        if (g.left() == left && g.top() == top && g.right() == right && g.bottom() == bottom)
            return m.logicalDpi / 96.0;
    }
    return 1.0;
}

} // namespace NqUtils
