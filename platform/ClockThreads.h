#pragma once

#include <string>
#include <vector>

namespace tl::clock_detail {

// Whether the process's other threads are all blocked, from the kernel's view
// of them (/proc/self/task/*/stat): a thread that can run (or is in the kernel
// on its own behalf) is at work; one that sleeps on anything (a lock, a
// condition, a read, an idle pool) waits. Used by the clock's own thread only.
class ThreadStates
{
public:
    ThreadStates();
    ~ThreadStates();
    ThreadStates(const ThreadStates &) = delete;
    ThreadStates &operator=(const ThreadStates &) = delete;

    // True when no thread but the caller can run. `busy` (may be null) gets
    // the names of those that can.
    bool othersBlocked(std::vector<std::string> *busy = nullptr);

private:
    struct Task
    {
        int tid = 0;
        int fd = -1;
        bool seen = false;
    };
    std::vector<Task> m_tasks;
    int m_self = 0;
    bool m_available = true;
};

} // namespace tl::clock_detail
