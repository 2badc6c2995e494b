#include "tools/shotkit/ShotKit.h"

#include "resources/Resources.h"

#include <QDir>
#include <QEventLoop>
#include <QScreen>
#include <QStringList>
#include <QTimer>

#include <cstdio>

namespace tl::shots {

namespace {
// The settings folder is chosen before the application exists.
int &withHome(const QTemporaryDir &home, int &argc)
{
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    return argc;
}
} // namespace

ShotApp::ShotApp(int &argc, char **argv)
    : m_app(withHome(m_home, argc), argv)
{
    m_app.setQuitOnLastWindowClosed(false);
    tl::initResources();
}

QString ShotApp::outputDir(int index, const QString &fallback) const
{
    const QStringList args = QCoreApplication::arguments();
    const QString dir = index < args.size() ? args[index] : fallback;
    QDir().mkpath(dir);
    return dir;
}

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QPixmap grabScreen(const QRect &area)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (area.isNull())
        return screen->grabWindow(0);
    return screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
}

bool saveShot(const QPixmap &shot, const QString &path)
{
    const bool ok = !shot.isNull() && shot.save(path);
    if (ok)
        std::printf("%s: saved %dx%d\n", qPrintable(path), shot.width(), shot.height());
    else
        std::printf("%s: FAILED\n", qPrintable(path));
    std::fflush(stdout);
    return ok;
}

} // namespace tl::shots
