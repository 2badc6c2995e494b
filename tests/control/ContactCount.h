#pragma once

#include "input/InputInjection.h"
#include "platform/fake/RecordingBackend.h"

#include <map>
#include <mutex>

// Contacts down now, from the injections a recording backend saw: +1 at a
// down, -1 at an up of the same pointer.
inline int contactsDown(const tl::RecordingBackend &recorder)
{
    std::lock_guard<std::mutex> lock(tl::input::trackingMutex());
    std::map<int, bool> down;
    for (const auto &call : recorder.calls())
        for (const tl::TouchRecord &r : call.records) {
            if (r.flags & tl::TouchDown)
                down[r.pointerId] = true;
            if (r.flags & tl::TouchUp)
                down[r.pointerId] = false;
        }
    int n = 0;
    for (const auto &entry : down)
        n += entry.second;
    return n;
}
