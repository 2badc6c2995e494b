#include "platform/Screens.h"

#include <QGuiApplication>
#include <QMutex>
#include <QScreen>
#include <optional>

namespace tl {

namespace {
QMutex g_lock;
std::optional<QList<MonitorInfo>> g_override;
} // namespace

QList<MonitorInfo> ScreenSource::monitors()
{
    {
        QMutexLocker lock(&g_lock);
        if (g_override)
            return *g_override;
    }
    QList<MonitorInfo> list;
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return list;
    // Qt lists the primary screen first; the remaining order is the window
    // system's own, which is what "enumeration order" means here.
    for (QScreen *screen : QGuiApplication::screens())
        list.append({screen->geometry(), screen->logicalDotsPerInch()});
    return list;
}

void ScreenSource::setOverride(const QList<MonitorInfo> &monitors)
{
    QMutexLocker lock(&g_lock);
    g_override = monitors;
}

void ScreenSource::clearOverride()
{
    QMutexLocker lock(&g_lock);
    g_override.reset();
}

} // namespace tl
