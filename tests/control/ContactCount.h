#pragma once

#include "input/InputInjection.h"
#include "platform/fake/CountingBackend.h"

#include <mutex>

// Contacts down now, as the counting backend saw them, read under the tracking
// mutex (the receive loops inject under it).
inline int contactsDown(const tl::CountingBackend &counter)
{
    std::lock_guard<std::mutex> lock(tl::input::trackingMutex());
    return counter.downNow();
}
