#pragma once

#include <mutex>

namespace tl {

// The per-module send mutex (process-wide, index 0 or 1). Standard mutexes
// throughout the device layer: ThreadSanitizer sees every hand-over through them.
std::recursive_mutex &sendMutex(int nDevNum);

} // namespace tl
