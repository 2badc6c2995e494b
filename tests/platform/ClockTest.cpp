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
