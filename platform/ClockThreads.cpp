#include "platform/ClockThreads.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tl::clock_detail {

ThreadStates::ThreadStates() : m_self(static_cast<int>(::syscall(SYS_gettid))) {}

ThreadStates::~ThreadStates()
{
    for (const Task &t : m_tasks)
        if (t.fd >= 0)
            ::close(t.fd);
}

bool ThreadStates::othersBlocked(std::vector<std::string> *busy)
{
    if (!m_available)
        return true;
    DIR *dir = ::opendir("/proc/self/task");
    if (!dir) {
        // No view of the threads: the clock runs as compressed wall time.
        m_available = false;
        return true;
    }
    for (Task &t : m_tasks)
        t.seen = false;
    while (const dirent *e = ::readdir(dir)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        const int tid = std::atoi(e->d_name);
        if (tid == m_self)
            continue;
        auto it = std::find_if(m_tasks.begin(), m_tasks.end(), [tid](const Task &t) { return t.tid == tid; });
        if (it == m_tasks.end()) {
            char path[64];
            std::snprintf(path, sizeof path, "/proc/self/task/%d/stat", tid);
            Task t;
            t.tid = tid;
            t.fd = ::open(path, O_RDONLY | O_CLOEXEC);
            m_tasks.push_back(t);
            it = m_tasks.end() - 1;
        }
        it->seen = true;
    }
    ::closedir(dir);

    bool blocked = true;
    for (Task &t : m_tasks) {
        if (!t.seen || t.fd < 0)
            continue;
        // "tid (name) S ...": the state follows the last parenthesis (a name
        // may hold one).
        char buf[512];
        const ssize_t n = ::pread(t.fd, buf, sizeof buf - 1, 0);
        if (n <= 0)
            continue;   // the thread has ended
        buf[n] = '\0';
        const char *close = std::strrchr(buf, ')');
        if (!close || close[1] != ' ')
            continue;
        const char state = close[2];
        if (state == 'R' || state == 'D') {
            blocked = false;
            if (!busy)
                break;
            const char *open = std::strchr(buf, '(');
            busy->emplace_back(open ? std::string(open + 1, close) : std::string());
        }
    }
    // Threads that ended: their entries go.
    m_tasks.erase(std::remove_if(m_tasks.begin(), m_tasks.end(),
                                 [](const Task &t) {
                                     if (t.seen)
                                         return false;
                                     if (t.fd >= 0)
                                         ::close(t.fd);
                                     return true;
                                 }),
                  m_tasks.end());
    return blocked;
}

} // namespace tl::clock_detail
