#include "platform/Clock.h"

#include <gtest/gtest.h>

namespace {

struct CompressionGuard
{
    ~CompressionGuard() { tl::Clock::setCompression(1); }
};

TEST(Clock, CompressionShortensWaitsButKeepsTheirValue)
{
    CompressionGuard guard;
    tl::Clock::setCompression(50);
    const qint64 before = tl::Clock::nowMs();
    const qint64 sleptBefore = tl::Clock::sleptMs();
    tl::Clock::sleepMs(1000);
    EXPECT_GE(tl::Clock::nowMs() - before, 1000); // a full second of driver time passed
    EXPECT_EQ(tl::Clock::sleptMs() - sleptBefore, 1000);  // the wait kept its value
    tl::Clock::sleepMs(0);
    tl::Clock::sleepMs(-5);                       // no wait, and nothing counted
    EXPECT_EQ(tl::Clock::sleptMs() - sleptBefore, 1000);
    EXPECT_EQ(tl::Clock::wallMs(1000), 20);
    EXPECT_EQ(tl::Clock::wallMs(1), 1);           // a positive time-out never becomes "no wait"
    EXPECT_EQ(tl::Clock::wallMs(0), 0);
}

TEST(Clock, DriverTimeNeverRunsBackwardsWhenTheFactorChanges)
{
    CompressionGuard guard;
    tl::Clock::setCompression(100);
    tl::Clock::sleepMs(2000);
    const qint64 fast = tl::Clock::nowMs();
    tl::Clock::setCompression(1);
    EXPECT_GE(tl::Clock::nowMs(), fast);
    tl::Clock::setCompression(0); // nonsense factors fall back to real time
    EXPECT_DOUBLE_EQ(tl::Clock::compression(), 1.0);
    EXPECT_GE(tl::Clock::nowMs(), fast);
}

} // namespace

// ---- compressed time against threads that are still at work ---------------------

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Keeps a core busy for `wallMs` of wall time without waiting on anything: a
// thread whose work takes longer than the scheduler gives it.
void workFor(int wallMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(wallMs);
    volatile unsigned sink = 0;
    while (std::chrono::steady_clock::now() < end)
        sink = sink + 1;
}

TEST(Clock, ACompressedWaitDoesNotRunOutWhileAnotherThreadIsAtWork)
{
    CompressionGuard guard;
    tl::Clock::setCompression(1000);
    // 10 ms of driver time is 10 us of wall time; the worker needs 50 ms.
    std::atomic<bool> done{false};
    std::thread worker([&] {
        workFor(50);
        done = true;
    });
    tl::Clock::sleepMs(10);
    EXPECT_TRUE(done.load());
    worker.join();
}

TEST(Clock, AThreadJustStartedRunsBeforeACompressedWaitEnds)
{
    CompressionGuard guard;
    tl::Clock::setCompression(1000);
    // The start of a thread is what a pool does when work is queued: the wait
    // that follows must give it its turn, however slowly it is scheduled.
    for (int round = 0; round < 20; ++round) {
        std::atomic<bool> started{false};
        std::thread t([&] { started = true; });
        tl::Clock::sleepMs(1);
        EXPECT_TRUE(started.load()) << "round " << round;
        t.join();
    }
}

TEST(Clock, AConditionWaitOnDriverTimeEndsAtItsDueTimeAndNotBefore)
{
    CompressionGuard guard;
    tl::Clock::setCompression(1000);
    std::mutex m;
    std::condition_variable cv;
    std::unique_lock<std::mutex> lk(m);
    const qint64 due = tl::Clock::nowMs() + 500;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        workFor(50);
        done = true;
    });
    EXPECT_FALSE(tl::Clock::waitUntil(cv, lk, due, [] { return false; }));
    EXPECT_TRUE(done.load());
    EXPECT_GE(tl::Clock::nowMs(), due);
    worker.join();
    // A condition that holds ends the wait at once.
    EXPECT_TRUE(tl::Clock::waitUntil(cv, lk, tl::Clock::nowMs() + 100000, [] { return true; }));
}

TEST(Clock, AClockTimerFiresOnlyOnceItsDriverTimeHasPassed)
{
    CompressionGuard guard;
    int argc = 1;
    char name[] = "test_platform";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    tl::Clock::setCompression(1000);
    // A worker holds driver time still for 50 ms of wall time; a timer of
    // 100 ms of driver time (0.1 ms of wall time) waits for it.
    std::atomic<bool> done{false};
    tl::ClockTimer timer;
    timer.setSingleShot(true);
    bool fired = false;
    bool workerDoneAtFire = false;
    timer.onTimeout([&] {
        fired = true;
        workerDoneAtFire = done.load();
    });
    std::thread worker([&] {
        workFor(50);
        done = true;
    });
    timer.start(100);
    while (!fired)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    EXPECT_TRUE(workerDoneAtFire);
    EXPECT_FALSE(timer.isActive());
    worker.join();

    // Repeating: it fires again and again until stopped.
    int shots = 0;
    timer.setSingleShot(false);
    timer.onTimeout([&] { ++shots; });
    timer.start(20);
    while (shots < 3)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    timer.stop();
    EXPECT_FALSE(timer.isActive());
}

} // namespace
