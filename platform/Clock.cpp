#include "platform/Clock.h"

#include "platform/ClockPace.h"
#include "platform/ClockThreads.h"

#include <QElapsedTimer>
#include <QThread>

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tl {

std::atomic<double> Clock::s_factor{1.0};

namespace {

QElapsedTimer &monotonic()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer;
}

double wallNowMs()
{
    return monotonic().nsecsElapsed() / 1e6;
}

thread_local qint64 t_sleptMs = 0;

// How often the clock's thread looks at the other threads while one of them
// can run, and at most how much wall time one look that finds them all blocked
// stands for (milliseconds). A thread that was at work between two looks and
// is blocked again at the second has had its turn.
constexpr double kBusyLookMs = 0.25;
constexpr double kMaxLookSpanMs = 5.0;
// With nothing waiting on the clock, driver time still moves while the
// threads are blocked (a time-out outside the clock, a look at nowMs()).
constexpr double kIdleLookMs = 2.0;
// A thread that never blocks (a loop that spins without a wait) would hold
// driver time for good: after this long of wall time without a move, driver
// time runs at the real-time rate, and the threads at work are named once.
constexpr double kStallWallMs = 20000.0;

// Something waiting for a driver time: a thread in Clock::waitUntil (its
// mutex and condition) or a ClockTimer (its callback, run on the clock's
// thread).
struct Alarm
{
    double dueMs = 0;
    std::mutex *mutex = nullptr;
    std::condition_variable *cv = nullptr;
    std::function<void()> callback;
    std::multimap<double, Alarm *>::iterator at;
    bool queued = false;
    bool dispatching = false;
};

// Driver time. Real time (and wall-paced compression): baseDriverMs + (wall - baseWallMs)
// * factor. Compressed at Pace::Waits: driverMs, which only the clock's thread
// moves (compressed, paced by the waits).
struct Timeline
{
    std::mutex lock;              // everything below
    std::mutex dispatch;          // held while the clock's thread wakes what is due
    std::condition_variable tickerCv;
    double baseWallMs = 0;
    double baseDriverMs = 0;
    bool compressed = false;
    double driverMs = 0;
    std::multimap<double, Alarm *> alarms;
    bool tickerStarted = false;
};

// Never destroyed: the clock's thread runs until the process ends.
Timeline &timeline()
{
    static Timeline *t = new Timeline;
    return *t;
}

double nowLocked(const Timeline &t)
{
    if (!t.compressed)
        return t.baseDriverMs + (wallNowMs() - t.baseWallMs) * Clock::compression();
    return t.driverMs;
}

// Takes `a` out of the queue (it is in it).
void unqueueLocked(Timeline &t, Alarm &a)
{
    t.alarms.erase(a.at);
    a.queued = false;
}

void queueLocked(Timeline &t, Alarm &a)
{
    a.at = t.alarms.emplace(a.dueMs, &a);
    a.queued = true;
    if (a.at == t.alarms.begin())
        t.tickerCv.notify_one();
}

// Takes `a` off the clock. When the clock's thread is waking it at this
// moment, waits until it is done with it (without `held`, which it may need).
void cancel(Alarm &a, std::unique_lock<std::mutex> *held)
{
    Timeline &t = timeline();
    bool dispatching = false;
    {
        std::lock_guard<std::mutex> g(t.lock);
        if (a.queued)
            unqueueLocked(t, a);
        dispatching = a.dispatching;
    }
    if (!dispatching)
        return;
    if (held)
        held->unlock();
    { std::lock_guard<std::mutex> d(t.dispatch); }
    if (held)
        held->lock();
}

void collectDueLocked(Timeline &t, double now, std::vector<Alarm *> &due)
{
    while (!t.alarms.empty() && t.alarms.begin()->first <= now) {
        Alarm *a = t.alarms.begin()->second;
        unqueueLocked(t, *a);
        a->dispatching = true;
        due.push_back(a);
    }
}

void reportStall(const std::vector<std::string> &busy)
{
    std::string names;
    for (const std::string &n : busy)
        names += (names.empty() ? "" : ", ") + n;
    std::fprintf(stderr, "tl::Clock: threads at work for %.0f s of wall time without a wait (%s); "
                         "driver time runs in real time until they wait\n",
                 kStallWallMs / 1000, names.c_str());
}

// The clock's thread: moves compressed driver time on while every other
// thread is blocked, and wakes what has come due. The look at the threads and
// the waking happen without the timeline's lock, which waiting threads take.
// The clock's thread reads the kernel's view of the threads (and allocates)
// many times a second. A fork taken by another thread in the middle of that
// (a library starting a helper program) would leave the child with a lock it
// can never take before its exec: a fork waits until the look is over.
std::mutex &lookLock()
{
    static std::mutex m;
    return m;
}

void tickerLoop()
{
    pthread_setname_np(pthread_self(), "tl-clock");
    Timeline &t = timeline();
    clock_detail::ThreadStates threads;
    std::vector<Alarm *> due;
    std::vector<std::string> busy;
    double lastLook = wallNowMs();
    double credit = 0;        // driver time the looks so far have found blocked and not yet used
    double heldSince = -1;    // wall time since which driver time has not moved, though due
    bool stallReported = false;
    std::unique_lock<std::mutex> lk(t.lock);
    for (;;) {
        due.clear();
        if (!t.compressed) {
            const double now = nowLocked(t);
            collectDueLocked(t, now, due);
            if (due.empty()) {
                if (t.alarms.empty())
                    t.tickerCv.wait(lk);
                else
                    t.tickerCv.wait_for(lk, std::chrono::duration<double, std::milli>(
                                                (t.alarms.begin()->first - now) / Clock::compression()));
                lastLook = wallNowMs();
                credit = 0;
                heldSince = -1;
                continue;
            }
        } else {
            const double factor = Clock::compression();
            const double wall = wallNowMs();
            const double span = std::min(std::max(0.0, wall - lastLook), kMaxLookSpanMs);
            lastLook = wall;
            lk.unlock();
            busy.clear();
            const bool stalled = heldSince >= 0 && wall - heldSince > kStallWallMs;
            bool blocked;
            {
                std::lock_guard<std::mutex> look(lookLock());
                blocked = threads.othersBlocked(stalled && !stallReported ? &busy : nullptr);
            }
            lk.lock();
            if (!t.compressed)
                continue;
            if (blocked) {
                credit = std::min(credit + span * factor, kMaxLookSpanMs * factor);
                heldSince = -1;
                stallReported = false;
            } else if (stalled) {
                if (!stallReported && !busy.empty() && !t.alarms.empty()) {
                    reportStall(busy);
                    stallReported = true;
                }
                credit = span;
            } else {
                credit = 0;
                if (heldSince < 0)
                    heldSince = wall;
            }
            if (credit > 0) {
                double target = t.driverMs + credit;
                if (!t.alarms.empty())
                    target = std::min(target, t.alarms.begin()->first);
                if (target > t.driverMs) {
                    credit -= target - t.driverMs;
                    t.driverMs = target;
                }
                collectDueLocked(t, t.driverMs, due);
            }
            if (due.empty()) {
                double nextLook = kBusyLookMs;
                if (blocked)
                    nextLook = t.alarms.empty() ? kIdleLookMs
                                                : std::clamp((t.alarms.begin()->first - t.driverMs - credit) / factor,
                                                             kBusyLookMs, kMaxLookSpanMs);
                t.tickerCv.wait_for(lk, std::chrono::duration<double, std::milli>(nextLook));
                continue;
            }
        }
        // Wake what is due. A waiting thread's own mutex is taken once first:
        // it holds it from its look at the time until it waits, so the
        // notification cannot fall between the two.
        lk.unlock();
        {
            std::lock_guard<std::mutex> d(t.dispatch);
            for (Alarm *a : due) {
                if (a->cv) {
                    { std::lock_guard<std::mutex> m(*a->mutex); }
                    a->cv->notify_all();
                } else if (a->callback) {
                    a->callback();
                }
            }
            std::lock_guard<std::mutex> g(t.lock);
            for (Alarm *a : due)
                a->dispatching = false;
        }
        lk.lock();
    }
}

void startTickerLocked(Timeline &t)
{
    if (t.tickerStarted)
        return;
    t.tickerStarted = true;
    pthread_atfork([] { lookLock().lock(); }, [] { lookLock().unlock(); }, [] { lookLock().unlock(); });
    std::thread(tickerLoop).detach();
}

} // namespace

void Clock::sleepMs(int ms)
{
    if (ms <= 0)
        return;
    t_sleptMs += ms;
    bool compressed;
    {
        std::lock_guard<std::mutex> g(timeline().lock);
        compressed = timeline().compressed;
    }
    if (!compressed) {
        const double wallUs = ms * 1000.0 / s_factor.load();
        QThread::usleep(static_cast<unsigned long>(std::max(1.0, wallUs)));
        return;
    }
    // Driver time does not move while this thread can run: the due time
    // taken here is where the wait starts.
    std::mutex m;
    std::condition_variable cv;
    std::unique_lock<std::mutex> lk(m);
    const qint64 due = nowMs() + ms;
    while (!waitUntil(cv, lk, due)) {
    }
}

qint64 Clock::sleptMs()
{
    return t_sleptMs;
}

qint64 Clock::nowMs()
{
    Timeline &t = timeline();
    std::lock_guard<std::mutex> lock(t.lock);
    return static_cast<qint64>(std::floor(nowLocked(t)));
}

bool Clock::waitUntil(std::condition_variable &cv, std::unique_lock<std::mutex> &lock, qint64 dueMs)
{
    Timeline &t = timeline();
    Alarm a;
    {
        std::unique_lock<std::mutex> g(t.lock);
        const double now = nowLocked(t);
        if (now >= dueMs)
            return true;
        if (!t.compressed) {
            g.unlock();
            cv.wait_for(lock, std::chrono::milliseconds(wallMs(static_cast<int>(
                                  std::min<double>(dueMs - now, std::numeric_limits<int>::max())))));
            return nowMs() >= dueMs;
        }
        a.dueMs = static_cast<double>(dueMs);
        a.mutex = lock.mutex();
        a.cv = &cv;
        queueLocked(t, a);
    }
    cv.wait(lock);
    cancel(a, &lock);
    return nowMs() >= dueMs;
}

int Clock::wallMs(int ms)
{
    if (ms <= 0)
        return 0;
    return std::max(1, static_cast<int>(std::lround(ms / s_factor.load())));
}

namespace {
// Set while setWallPacedCompression changes the factor.
thread_local bool t_wallPaced = false;
} // namespace

void Clock::setCompression(double factor)
{
    Timeline &t = timeline();
    std::lock_guard<std::mutex> lock(t.lock);
    // Driver time is continuous across changes of the factor: a clock that
    // jumped back would stall every due time taken before the change.
    const double now = nowLocked(t);
    factor = factor > 0 ? factor : 1.0;
    s_factor.store(factor);
    t.compressed = factor != 1.0 && !t_wallPaced;
    if (t.compressed) {
        t.driverMs = now;
        startTickerLocked(t);
    } else {
        t.baseWallMs = wallNowMs();
        t.baseDriverMs = now;
    }
    t.tickerCv.notify_one();
}

void setWallPacedCompression(double factor)
{
    t_wallPaced = true;
    Clock::setCompression(factor);
    t_wallPaced = false;
}

double Clock::compression()
{
    return s_factor.load();
}

// ---- ClockTimer ----------------------------------------------------------------

struct ClockTimer::Pending
{
    Alarm alarm;
};

ClockTimer::ClockTimer(QObject *parent) : QObject(parent)
{
    QObject::connect(&m_wall, &QTimer::timeout, this, [this] {
        if (m_singleShot)
            m_active = false;
        if (m_callback)
            m_callback();
    });
}

ClockTimer::~ClockTimer()
{
    stop();
}

void ClockTimer::start()
{
    stop();
    m_active = true;
    arm();
}

void ClockTimer::stop()
{
    m_active = false;
    ++m_generation;
    m_wall.stop();
    if (m_pending) {
        cancel(m_pending->alarm, nullptr);
        delete m_pending;
        m_pending = nullptr;
    }
}

void ClockTimer::arm()
{
    Timeline &t = timeline();
    std::lock_guard<std::mutex> g(t.lock);
    if (!t.compressed) {
        m_wall.setSingleShot(m_singleShot);
        m_wall.start(Clock::wallMs(m_intervalMs));
        return;
    }
    m_pending = new Pending;
    const quint64 generation = m_generation;
    m_pending->alarm.dueMs = nowLocked(t) + std::max(0, m_intervalMs);
    m_pending->alarm.callback = [this, generation] {
        QMetaObject::invokeMethod(this, [this, generation] { fire(generation); }, Qt::QueuedConnection);
    };
    queueLocked(t, m_pending->alarm);
}

void ClockTimer::fire(quint64 generation)
{
    if (generation != m_generation || !m_active)
        return;
    // The alarm that fired: the clock's thread may still be finishing with it.
    if (m_pending) {
        cancel(m_pending->alarm, nullptr);
        delete m_pending;
        m_pending = nullptr;
    }
    if (m_singleShot)
        m_active = false;
    else
        arm();
    if (m_callback)
        m_callback();
}

void ClockTimer::singleShot(int ms, QObject *context, std::function<void()> callback)
{
    auto *timer = new ClockTimer(context);
    timer->setSingleShot(true);
    timer->onTimeout([timer, callback = std::move(callback)] {
        callback();
        timer->deleteLater();
    });
    timer->start(ms);
}

} // namespace tl
