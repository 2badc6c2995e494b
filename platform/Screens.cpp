#include "platform/Screens.h"

#include <QGuiApplication>
#include <QMutex>
#include <QScreen>
#include <QWindow>
#include <qpa/qplatformscreen.h>

namespace tl {

namespace {
// The installed source of monitors; null for Qt's screens. Read from the GUI
// thread and from the threads that set up injection.
QMutex g_lock;
const MonitorSource *g_source = nullptr;
} // namespace

QList<MonitorInfo> ScreenSource::monitors()
{
    {
        QMutexLocker lock(&g_lock);
        if (g_source)
            return g_source->monitors();
    }
    return qtScreens();
}

QList<MonitorInfo> ScreenSource::qtScreens()
{
    QList<MonitorInfo> list;
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return list;
    // Qt lists the primary screen first; the remaining order is the window
    // system's own, which is what "enumeration order" means here.
    const QScreen *primary = QGuiApplication::primaryScreen();
    for (QScreen *screen : QGuiApplication::screens()) {
        MonitorInfo m;
        m.geometry = screen->geometry();
        m.logicalDpi = screen->logicalDotsPerInch();
        m.primary = screen == primary;
        // The platform screen's geometry is the window system's own: root
        // pixels on X11, the compositor's logical layout on Wayland.
        if (const QPlatformScreen *handle = screen->handle())
            m.native = handle->geometry();
        m.name = screen->name();
        m.manufacturer = screen->manufacturer();
        m.model = screen->model();
        m.serial = screen->serialNumber();
        m.physicalMm = screen->physicalSize();
        list.append(m);
    }
    return list;
}

void ScreenSource::install(const MonitorSource *source)
{
    QMutexLocker lock(&g_lock);
    g_source = source;
}

int ScreenSource::namedPrimaryIndex(const QList<MonitorInfo> &list)
{
    for (int i = 0; i < list.size(); ++i)
        if (list[i].primary)
            return i;
    for (int i = 0; i < list.size(); ++i)
        if (list[i].geometry.topLeft() == QPoint(0, 0))
            return i;
    return -1;
}

int ScreenSource::primaryIndex(const QList<MonitorInfo> &list)
{
    const int named = namedPrimaryIndex(list);
    return named >= 0 || list.isEmpty() ? named : 0;
}

namespace placement {

bool positionIgnored()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

QScreen *screenShowing(const QRect &rect)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()) || rect.isEmpty())
        return nullptr;
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (QScreen *screen : screens)
        if (screen->geometry().contains(rect.center()))
            return screen;
    QScreen *best = nullptr;
    qint64 bestArea = 0;
    for (QScreen *screen : screens) {
        const QRect common = screen->geometry().intersected(rect);
        const qint64 area = qint64(common.width()) * common.height();
        if (!common.isEmpty() && area > bestArea) {
            best = screen;
            bestArea = area;
        }
    }
    return best;
}

QScreen *bindToScreen(QWindow *window, const QRect &rect, bool *fullScreen)
{
    if (fullScreen)
        *fullScreen = false;
    QScreen *screen = screenShowing(rect);
    if (!window || !screen)
        return screen;
    if (window->screen() != screen)
        window->setScreen(screen);
    if (fullScreen)
        *fullScreen = positionIgnored() && screen->geometry() == rect;
    return screen;
}

} // namespace placement

} // namespace tl
