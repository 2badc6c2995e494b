#include "platform/Clock.h"

#include <QElapsedTimer>
#include <QThread>
#include <cmath>
#include <mutex>

namespace tl {

std::atomic<double> Clock::s_factor{1.0};

namespace {
QElapsedTimer &monotonic()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer;
}

// Driver time is continuous across changes of the compression factor: it
// advances from the driver time reached at the change, at the new rate. A clock
// that jumped back would stall every due time taken before the change.
std::mutex g_baseLock;
double g_baseWallMs = 0.0;
double g_baseDriverMs = 0.0;

thread_local qint64 t_sleptMs = 0;

double wallNowMs()
{
    return monotonic().nsecsElapsed() / 1e6;
}
} // namespace

void Clock::sleepMs(int ms)
{
    if (ms <= 0)
        return;
    t_sleptMs += ms;
    const double wallUs = ms * 1000.0 / s_factor.load();
    QThread::usleep(static_cast<unsigned long>(std::max(1.0, wallUs)));
}

qint64 Clock::sleptMs()
{
    return t_sleptMs;
}

qint64 Clock::nowMs()
{
    std::lock_guard<std::mutex> lock(g_baseLock);
    return static_cast<qint64>(g_baseDriverMs + (wallNowMs() - g_baseWallMs) * s_factor.load());
}

int Clock::wallMs(int ms)
{
    if (ms <= 0)
        return 0;
    return std::max(1, static_cast<int>(std::lround(ms / s_factor.load())));
}

void Clock::setCompression(double factor)
{
    std::lock_guard<std::mutex> lock(g_baseLock);
    const double wall = wallNowMs();
    g_baseDriverMs += (wall - g_baseWallMs) * s_factor.load();
    g_baseWallMs = wall;
    s_factor.store(factor > 0 ? factor : 1.0);
}

double Clock::compression()
{
    return s_factor.load();
}

} // namespace tl
