#pragma once

#include <functional>

namespace tl::test {

// Handles queued events until pred() holds or timeoutMs of wall time passed
// (a bound on how long a broken test hangs, never a measurement). Returns
// whether pred() held.
bool waitFor(const std::function<bool()> &pred, int timeoutMs = 10000);

} // namespace tl::test
