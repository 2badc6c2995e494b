#include "FakeLogind.h"
#include "TestBus.h"
#include "platform/linux/LinuxSystemEvents.h"
#include "tests/support/DriverSpin.h"

#include <QSignalSpy>
#include <QTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <memory>

using tl::LinuxSystemEvents;
using tl::test::spinUntil;

namespace {

constexpr int kWaitMs = 10000;

// Ends the program when the test thread hangs in a system call, where no
// time-out of the event loop can reach it.
class Watchdog
{
public:
    Watchdog(int timeoutMs, const char *what)
        : m_thread([this, timeoutMs, what] {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_finished; })) {
                std::fprintf(stderr, "watchdog: %s\n", what);
                std::abort();
            }
        })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_one();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

class LogindTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(logind.start(testbus::address())); }

    FakeLogind logind;
};

} // namespace

TEST_F(LogindTest, ConnectsAndTakesADelayInhibitorForSleep)
{
    LinuxSystemEvents events;
    EXPECT_TRUE(events.sleepSignalsAvailable());
    ASSERT_EQ(logind.manager().inhibitorCount(), 1);
    const FakeLogindManager::Inhibitor inhibitor = logind.manager().inhibitor(0);
    EXPECT_EQ(inhibitor.what, "sleep");
    EXPECT_EQ(inhibitor.mode, "delay");
    EXPECT_FALSE(inhibitor.who.isEmpty());
    EXPECT_FALSE(inhibitor.why.isEmpty());
    EXPECT_FALSE(logind.inhibitorReleased(0));
}

TEST_F(LogindTest, SuspendReleasesTheInhibitorOnlyAfterTheReceiversHaveRun)
{
    LinuxSystemEvents events;
    ASSERT_EQ(logind.manager().inhibitorCount(), 1);

    int calls = 0;
    bool heldDuringSlot = false;
    QObject::connect(&events, &LinuxSystemEvents::suspending, [&] {
        ++calls;
        heldDuringSlot = !logind.inhibitorReleased(0);
    });
    QSignalSpy resumed(&events, &LinuxSystemEvents::resumed);

    ASSERT_TRUE(logind.sendPrepareForSleep(true));
    ASSERT_TRUE(spinUntil([&] { return calls > 0; }, 10000));
    EXPECT_TRUE(heldDuringSlot);
    EXPECT_TRUE(spinUntil([&] { return logind.inhibitorReleased(0); }, 10000));
    EXPECT_EQ(logind.manager().inhibitorCount(), 1);

    ASSERT_TRUE(logind.sendPrepareForSleep(false));
    ASSERT_TRUE(resumed.count() > 0 || resumed.wait(kWaitMs));
    EXPECT_EQ(resumed.count(), 1);
    // One PrepareForSleep(true) gave exactly one suspending(); the resume did not add one.
    EXPECT_EQ(calls, 1);
    ASSERT_EQ(logind.manager().inhibitorCount(), 2);
    EXPECT_EQ(logind.manager().inhibitor(1).mode, "delay");
    EXPECT_FALSE(logind.inhibitorReleased(1));
}

TEST_F(LogindTest, EveryCycleHoldsTheMachineAgain)
{
    LinuxSystemEvents events;
    QSignalSpy suspending(&events, &LinuxSystemEvents::suspending);
    QSignalSpy resumed(&events, &LinuxSystemEvents::resumed);

    for (int cycle = 0; cycle < 3; ++cycle) {
        SCOPED_TRACE(cycle);
        ASSERT_TRUE(logind.sendPrepareForSleep(true));
        ASSERT_TRUE(spinUntil([&] { return suspending.count() == cycle + 1; }, 10000));
        EXPECT_TRUE(spinUntil([&] { return logind.inhibitorReleased(cycle); }, 10000));
        ASSERT_TRUE(logind.sendPrepareForSleep(false));
        ASSERT_TRUE(spinUntil([&] { return resumed.count() == cycle + 1; }, 10000));
        ASSERT_EQ(logind.manager().inhibitorCount(), cycle + 2);
        EXPECT_FALSE(logind.inhibitorReleased(cycle + 1));
    }
    EXPECT_EQ(suspending.count(), 3);
}

TEST_F(LogindTest, DestroyingTheSourceReleasesItsInhibitor)
{
    auto events = std::make_unique<LinuxSystemEvents>();
    ASSERT_EQ(logind.manager().inhibitorCount(), 1);
    EXPECT_FALSE(logind.inhibitorReleased(0));
    events.reset();
    EXPECT_TRUE(spinUntil([&] { return logind.inhibitorReleased(0); }, 10000));
}

TEST_F(LogindTest, RefusedInhibitorStillDeliversSuspendAndResume)
{
    logind.manager().setRefuseInhibit(true);
    LinuxSystemEvents events;
    EXPECT_TRUE(events.sleepSignalsAvailable());
    EXPECT_EQ(logind.manager().inhibitorCount(), 0);

    QSignalSpy suspending(&events, &LinuxSystemEvents::suspending);
    QSignalSpy resumed(&events, &LinuxSystemEvents::resumed);
    ASSERT_TRUE(logind.sendPrepareForSleep(true));
    ASSERT_TRUE(suspending.wait(kWaitMs));

    // Allowed again by the time the machine wakes: the resume takes a new one.
    logind.manager().setRefuseInhibit(false);
    ASSERT_TRUE(logind.sendPrepareForSleep(false));
    ASSERT_TRUE(resumed.wait(kWaitMs));
    EXPECT_EQ(logind.manager().inhibitorCount(), 1);
    EXPECT_FALSE(logind.inhibitorReleased(0));
}

TEST(NoLogind, ReportsSleepSignalsUnavailable)
{
    LinuxSystemEvents events;
    EXPECT_FALSE(events.sleepSignalsAvailable());
}

TEST(NoLogind, LogindGoneBeforeTheSourceStarts)
{
    {
        FakeLogind logind;
        ASSERT_TRUE(logind.start(testbus::address()));
    }
    LinuxSystemEvents events;
    EXPECT_FALSE(events.sleepSignalsAvailable());
}

TEST(UnixSignals, TermAndIntEndTheSessionOncePerSignal)
{
    LinuxSystemEvents events;
    QSignalSpy ending(&events, &LinuxSystemEvents::sessionEnding);

    ASSERT_EQ(::raise(SIGTERM), 0);
    ASSERT_TRUE(ending.wait(kWaitMs));
    EXPECT_EQ(ending.count(), 1);

    ASSERT_EQ(::raise(SIGINT), 0);
    ASSERT_TRUE(spinUntil([&] { return ending.count() >= 2; }, 10000));
    EXPECT_EQ(ending.count(), 2);
}

TEST(UnixSignals, ASourceCreatedLaterStillHearsSignals)
{
    // The handler and its pipe outlive the first source; the second must still be woken.
    { LinuxSystemEvents first; }
    LinuxSystemEvents second;
    QSignalSpy ending(&second, &LinuxSystemEvents::sessionEnding);
    ASSERT_EQ(::raise(SIGTERM), 0);
    ASSERT_TRUE(ending.wait(kWaitMs));
    EXPECT_EQ(ending.count(), 1);
}

TEST(UnixSignals, TwoSourcesAtOnceShareEachSignalWithoutStallingTheEventLoop)
{
    // Both sources watch the one pipe. A reader that finds the byte already taken
    // would sit in read() for good, so a stall ends the test program instead.
    Watchdog watchdog(30000, "the event loop stalled reading the signal pipe");
    LinuxSystemEvents first;
    LinuxSystemEvents second;
    QSignalSpy endingFirst(&first, &LinuxSystemEvents::sessionEnding);
    QSignalSpy endingSecond(&second, &LinuxSystemEvents::sessionEnding);
    const auto total = [&] { return endingFirst.count() + endingSecond.count(); };

    ASSERT_EQ(::raise(SIGTERM), 0);
    ASSERT_TRUE(spinUntil([&] { return total() >= 1; }, 10000));
    bool timerRan = false;
    QTimer::singleShot(0, [&] { timerRan = true; });
    EXPECT_TRUE(spinUntil([&] { return timerRan; }, 10000));

    ASSERT_EQ(::raise(SIGINT), 0);
    ASSERT_TRUE(spinUntil([&] { return total() >= 2; }, 10000));
    EXPECT_EQ(total(), 2);
}

TEST_F(LogindTest, ShutdownEndsTheSessionOnceAndACancelledOneDoesNot)
{
    LinuxSystemEvents events;
    QSignalSpy ending(&events, &LinuxSystemEvents::sessionEnding);
    ASSERT_TRUE(logind.sendPrepareForShutdown(false));  // a shutdown that was cancelled
    ASSERT_TRUE(logind.sendPrepareForShutdown(true));
    ASSERT_TRUE(ending.count() > 0 || ending.wait(kWaitMs));
    QCoreApplication::processEvents();
    EXPECT_EQ(ending.count(), 1);
}

TEST(SessionManager, TheEndOfTheSessionIsAQuitEventToTheApplication)
{
    LinuxSystemEvents events;
    QSignalSpy ending(&events, &LinuxSystemEvents::sessionEnding);
    // What Qt's XSMP client does on the session manager's "Die".
    QEvent quit(QEvent::Quit);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
    EXPECT_EQ(ending.count(), 1);
    // Events of other kinds, or to other objects, end nothing.
    QObject other;
    QEvent quitOther(QEvent::Quit);
    QCoreApplication::sendEvent(&other, &quitOther);
    QEvent update(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &update);
    EXPECT_EQ(ending.count(), 1);
}
