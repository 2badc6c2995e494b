#include "platform/Clock.h"

#include <QElapsedTimer>
#include <QThread>
#include <cmath>

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
} // namespace

void Clock::sleepMs(int ms)
{
    if (ms <= 0)
        return;
    const double wallUs = ms * 1000.0 / s_factor.load();
    QThread::usleep(static_cast<unsigned long>(std::max(1.0, wallUs)));
}

qint64 Clock::nowMs()
{
    return static_cast<qint64>(monotonic().nsecsElapsed() / 1e6 * s_factor.load());
}

int Clock::wallMs(int ms)
{
    if (ms <= 0)
        return 0;
    return std::max(1, static_cast<int>(std::lround(ms / s_factor.load())));
}

void Clock::setCompression(double factor)
{
    s_factor.store(factor > 0 ? factor : 1.0);
}

double Clock::compression()
{
    return s_factor.load();
}

} // namespace tl
