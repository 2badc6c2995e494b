#include "platform/Clock.h"
#include "tests/support/DriverSpin.h"
#include "tests/support/OneTimeAllocations.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

namespace {

class DriverSpinTest : public ::testing::Test
{
protected:
    void SetUp() override { tl::Clock::setCompression(50); }
    void TearDown() override { tl::Clock::setCompression(1); }
};

// The spin hands queued events to their receivers and ends as soon as the
// condition holds; when it never holds, it ends only after the driver time
// asked for has passed, and says so.
TEST_F(DriverSpinTest, EndsOnTheConditionOrAfterTheDriverTime)
{
    int fired = 0;
    QTimer::singleShot(0, [&] { ++fired; });
    EXPECT_TRUE(tl::test::spinUntil([&] { return fired > 0; }, 60000));
    EXPECT_EQ(fired, 1);

    int asked = 0;
    const qint64 start = tl::Clock::nowMs();
    EXPECT_FALSE(tl::test::spinUntil(
        [&] {
            ++asked;
            return false;
        },
        400, 20));
    EXPECT_GE(tl::Clock::nowMs() - start, 400);
    EXPECT_GE(asked, 2);

    // Already true: no turn of the event loop is taken.
    int later = 0;
    QTimer::singleShot(0, [&] { ++later; });
    EXPECT_TRUE(tl::test::spinUntil([] { return true; }, 1000));
    EXPECT_EQ(later, 0);
    tl::test::settle(1);
    EXPECT_EQ(later, 1);
}

TEST_F(DriverSpinTest, SpinForAndSettleLetDriverTimePassAndHandleEvents)
{
    int fired = 0;
    QTimer::singleShot(0, [&] { ++fired; });
    qint64 start = tl::Clock::nowMs();
    tl::test::spinFor(300);
    EXPECT_GE(tl::Clock::nowMs() - start, 300);
    EXPECT_EQ(fired, 1);

    QTimer::singleShot(0, [&] { ++fired; });
    start = tl::Clock::nowMs();
    tl::test::settle(5);
    EXPECT_GE(tl::Clock::nowMs() - start, 5 * 20);
    EXPECT_EQ(fired, 2);
}

// The form that handles no events ends when another thread makes the condition
// hold, or after the driver time, and leaves what is queued where it is.
TEST_F(DriverSpinTest, SleepUntilHandlesNoEvents)
{
    int fired = 0;
    QTimer::singleShot(0, [&] { ++fired; });
    std::atomic<bool> set{false};
    std::thread other([&] {
        tl::Clock::sleepMs(100);
        set = true;
    });
    EXPECT_TRUE(tl::test::sleepUntil([&] { return set.load(); }, 60000));
    other.join();
    EXPECT_FALSE(tl::test::sleepUntil([] { return false; }, 400, 20));
    EXPECT_EQ(fired, 0);
    tl::test::settle(1);
    EXPECT_EQ(fired, 1);
}

#ifdef TL_TEST_LSAN
// A block whose only pointer is kept masked: LeakSanitizer sees it as leaked
// until it is unmasked and freed.
__attribute__((noinline)) uintptr_t hiddenBlock()
{
    return reinterpret_cast<uintptr_t>(new char[256]) ^ UINTPTR_MAX;
}

void freeHidden(uintptr_t masked)
{
    delete[] reinterpret_cast<char *>(masked ^ UINTPTR_MAX);
}

// What is allocated inside the scope is left out of the check; what is
// allocated after it is checked again (LeakSanitizer prints its report of that
// block: the check in the middle is meant to find it).
TEST(OneTimeAllocationsTest, LeavesOutOnlyWhatIsMadeInsideTheScope)
{
    ASSERT_EQ(__lsan_do_recoverable_leak_check(), 0);
    uintptr_t inside = 0;
    {
        tl::test::OneTimeAllocations oneTime;
        inside = hiddenBlock();
    }
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
    const uintptr_t after = hiddenBlock();
    EXPECT_NE(__lsan_do_recoverable_leak_check(), 0);
    freeHidden(after);
    freeHidden(inside);
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
}
#endif

} // namespace
