#include "input/SilenceWatch.h"

#include <algorithm>

namespace tl::input {

void SilenceWatch::reset(int module, qint64 nowMs)
{
    if (!valid(module))
        return;
    m_modules[module] = Module();
    m_modules[module].lastMs = nowMs;
}

qint64 SilenceWatch::heard(int module, qint64 nowMs)
{
    if (!valid(module))
        return -1;
    Module &m = m_modules[module];
    const qint64 interval = std::max<qint64>(0, nowMs - m.lastMs);
    // The time from the start to the first report is no report interval.
    if (m.reported) {
        m.intervals[m.next] = interval;
        m.next = (m.next + 1) % kIntervals;
        m.count = std::min(m.count + 1, kIntervals);
    }
    m.reported = true;
    m.lastMs = nowMs;
    if (!m.silent)
        return -1;
    m.silent = false;
    return interval;
}

bool SilenceWatch::passedBound(int module, qint64 nowMs)
{
    if (!valid(module) || m_modules[module].silent || quietMs(module, nowMs) < boundMs(module))
        return false;
    m_modules[module].silent = true;
    return true;
}

bool SilenceWatch::markSilent(int module)
{
    if (!valid(module) || m_modules[module].silent)
        return false;
    m_modules[module].silent = true;
    return true;
}

bool SilenceWatch::silent(int module) const
{
    return valid(module) && m_modules[module].silent;
}

qint64 SilenceWatch::cycleMs(int module) const
{
    if (!valid(module) || m_modules[module].count == 0)
        return -1;
    const Module &m = m_modules[module];
    return *std::max_element(m.intervals, m.intervals + m.count);
}

qint64 SilenceWatch::boundMs(int module) const
{
    const qint64 cycle = cycleMs(module);
    if (cycle < 0)
        return kMaxBoundMs;
    return std::clamp(kSilentCycles * cycle, kMinBoundMs, kMaxBoundMs);
}

qint64 SilenceWatch::quietMs(int module, qint64 nowMs) const
{
    return valid(module) ? nowMs - m_modules[module].lastMs : 0;
}

} // namespace tl::input
