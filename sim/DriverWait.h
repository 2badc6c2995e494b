#pragma once

#include "platform/Clock.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace tl::sim {

// Wall time to wait for a driver-time interval, as a steady-clock instant.
inline std::chrono::steady_clock::time_point wallDeadline(int64_t driverMs)
{
    const int64_t clamped = std::min<int64_t>(driverMs, 24LL * 3600 * 1000);
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(Clock::wallMs(static_cast<int>(clamped)));
}

} // namespace tl::sim
