#pragma once

#include <QObject>
#include <QTimer>
#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace tl {

// The one clock of the process. Every wait of the driver (sleeps between device
// commands, read time-outs, resend intervals) goes through it. A wait's value is
// always the real protocol value; tests may only compress how long it takes.
//
// In real time (a factor of 1) driver time is the monotonic wall clock and a
// wait is a plain sleep. Compressed, driver time is the process's own: it moves
// on only at moments when every other thread of the process is blocked (in a
// wait of this clock, on a lock, in a read, idle in a pool), and then at most
// `factor` times as fast as wall time. A compressed wait therefore never runs
// out while a thread it waits for is still able to run: a pool thread just
// started, a thread whose own wait has just ended, work queued for another
// thread that has not been picked up. How loaded or slowed the machine is
// changes how long a test takes, never the order of what it sees.
class Clock
{
public:
    // Blocks the calling thread for ms milliseconds of driver time.
    static void sleepMs(int ms);

    // The driver time the calling thread has asked to sleep through sleepMs so
    // far: what a sequence of steps waits, whatever the scheduler does.
    static qint64 sleptMs();

    // Driver time in milliseconds since an arbitrary start.
    static qint64 nowMs();

    // Waits on `cv` (with `lock` held, as std::condition_variable::wait does)
    // until it is notified or driver time reaches `dueMs`. Returns whether
    // driver time has reached `dueMs`. Like a condition wait it may return
    // early: callers check what they wait for and wait again.
    static bool waitUntil(std::condition_variable &cv, std::unique_lock<std::mutex> &lock, qint64 dueMs);

    // The same until `done()` holds (true) or driver time reaches `dueMs`
    // (false, unless `done()` holds then).
    template <typename Pred>
    static bool waitUntil(std::condition_variable &cv, std::unique_lock<std::mutex> &lock, qint64 dueMs, Pred done)
    {
        while (!done()) {
            if (waitUntil(cv, lock, dueMs) && !done())
                return false;
        }
        return true;
    }

    // Converts a driver-time time-out to the wall-time milliseconds a blocking
    // call outside the clock (a USB read, a D-Bus call) should be given. Never
    // returns less than 1 for a positive value.
    static int wallMs(int ms);

    // 1 = real time. A factor of 20 makes a 200 ms wait take (at least) 10 ms.
    static void setCompression(double factor);
    static double compression();

private:
    static std::atomic<double> s_factor;
};

// A timer on driver time, for the thread it lives on (it needs that thread's
// event loop, as a QTimer does). In real time it is a QTimer. Compressed, it
// fires when driver time reaches its due time, so that what it does keeps its
// place among the clock's other waits however slowly the event loop turns.
class ClockTimer : public QObject
{
public:
    explicit ClockTimer(QObject *parent = nullptr);
    ~ClockTimer() override;

    void setInterval(int ms) { m_intervalMs = ms; }
    int interval() const { return m_intervalMs; }
    void setSingleShot(bool singleShot) { m_singleShot = singleShot; }
    // What a timeout does, on the timer's thread.
    void onTimeout(std::function<void()> callback) { m_callback = std::move(callback); }

    void start();
    void start(int ms)
    {
        setInterval(ms);
        start();
    }
    void stop();
    bool isActive() const { return m_active; }

    // Runs `callback` once, `ms` of driver time from now, on the thread of
    // `context` (and not at all once `context` is gone).
    static void singleShot(int ms, QObject *context, std::function<void()> callback);

private:
    void arm();
    void fire(quint64 generation);

    QTimer m_wall;
    std::function<void()> m_callback;
    int m_intervalMs = 0;
    bool m_singleShot = false;
    bool m_active = false;
    quint64 m_generation = 0;
    struct Pending;
    Pending *m_pending = nullptr;
};

} // namespace tl
