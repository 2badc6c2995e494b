#pragma once

// Running the event loop in driver time (the clock of platform/Clock.h, which
// tests and tools compress): the one spin every test, the demo, the soak and
// the screenshot tools share. Waiting for a condition is spinUntil (spinFor is
// its fixed span, sleepUntil its form that handles no events); settling, a
// number of turns of what is queued, is settle.
// A bound is driver time, so it runs out only when the threads it waits for
// had their turn (the compressed clock moves on only while they all wait).
// Header only: needs Qt Core and the clock.

#include "platform/Clock.h"

#include <QCoreApplication>

namespace tl::test {

namespace detail {

// Runs `turn`, then lets `pollMs` of driver time pass, until `done()` holds
// (true) or more than `driverMs` of driver time have passed (false). `done` is
// asked before every turn.
template <typename Pred, typename Turn>
bool until(Pred &&done, qint64 driverMs, int pollMs, Turn &&turn)
{
    const qint64 end = tl::Clock::nowMs() + driverMs;
    while (!done()) {
        if (tl::Clock::nowMs() > end)
            return false;
        turn();
        tl::Clock::sleepMs(pollMs);
    }
    return true;
}

} // namespace detail

// Handles what is queued (at most 5 ms of wall time of it), then lets `pollMs`
// of driver time pass, until `done()` holds (true) or more than `driverMs` of
// driver time have passed (false). `done` is asked before every turn.
template <typename Pred>
bool spinUntil(Pred &&done, qint64 driverMs, int pollMs = 10)
{
    return detail::until(done, driverMs, pollMs, [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); });
}

// The same without handling an event: for a test whose GUI thread is busy
// elsewhere while another thread does what `done` waits for.
template <typename Pred>
bool sleepUntil(Pred &&done, qint64 driverMs, int pollMs = 10)
{
    return detail::until(done, driverMs, pollMs, [] {});
}

// The same for a fixed span of driver time.
inline void spinFor(qint64 driverMs, int pollMs = 10)
{
    spinUntil([] { return false; }, driverMs, pollMs);
}

// `rounds` turns of everything queued, then 20 ms of driver time.
inline void settle(int rounds)
{
    for (int i = 0; i < rounds; ++i) {
        QCoreApplication::processEvents();
        tl::Clock::sleepMs(20);
    }
}

} // namespace tl::test
