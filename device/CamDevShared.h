#pragma once

#include <QRecursiveMutex>

namespace tl {

// The per-module send mutex (process-wide, index 0 or 1).
QRecursiveMutex &sendMutex(int nDevNum);

} // namespace tl
