#pragma once

#include "platform/Clock.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>

namespace tl::sim {

// The driver time `driverMs` from now: the due time of a time-out, for
// tl::Clock::waitUntil. Long ones are bounded at a day.
inline int64_t dueIn(int64_t driverMs)
{
    return Clock::nowMs() + std::min<int64_t>(driverMs, 24LL * 3600 * 1000);
}

} // namespace tl::sim
