#pragma once

#include <QtGlobal>

namespace tl::input {

// When a module has stopped reporting. A module sends one tracking report per
// report cycle, an empty one when it sees nothing, so a module that sends
// nothing for several of its own cycles has stopped (a firmware hang, a halted
// endpoint, a hub that drops transfers) and what it last reported is no longer
// on the board.
//
// The cycle is the module's own, as it shows it: the longest of its last eight
// report intervals. The bound is three such cycles, never less than 500 ms and
// never more than 6 s:
// - three cycles: one late or lost report (or two) is jitter, not silence;
// - the longest recent interval, not the mean: a module that reports late but
//   steadily (a loaded hub, a module that reports every two seconds) keeps
//   its strokes, because its usual lateness is part of its cycle;
// - at least 500 ms: a report cycle of 10 ms would otherwise lift a pen at a
//   30 ms hiccup of the bus; a stroke broken by a short stall is worse than
//   a touch held half a second too long;
// - at most 6 s (and 6 s while the module has not yet shown a cycle, after
//   tracking starts): a module reporting every two seconds is still followed,
//   and a touch that nothing lifts is never held longer than that.
// The interval that ends a silence counts as well: a module that slows down
// for good is followed at its new pace after its first late report.
//
// Times are driver milliseconds (tl::Clock). Not thread-safe: the tracking
// mutex guards it.
class SilenceWatch
{
public:
    static constexpr int kModules = 2;
    static constexpr int kIntervals = 8;
    static constexpr int kSilentCycles = 3;
    static constexpr qint64 kMinBoundMs = 500;
    static constexpr qint64 kMaxBoundMs = 6000;

    // The module starts afresh: heard now, no cycle known, not silent.
    void reset(int module, qint64 nowMs);

    // A report of `module` arrived. Returns how long the silence it ends
    // lasted, or -1 when the module was not silent.
    qint64 heard(int module, qint64 nowMs);

    // True once per silence: when `module` has just passed its bound.
    bool passedBound(int module, qint64 nowMs);

    // The module counts as silent from now on (its receive loop has ended).
    // False when it already did.
    bool markSilent(int module);

    bool silent(int module) const;
    // The module's cycle as its reports show it, -1 while none is known.
    qint64 cycleMs(int module) const;
    qint64 boundMs(int module) const;
    qint64 quietMs(int module, qint64 nowMs) const;

private:
    struct Module
    {
        qint64 lastMs = 0;
        qint64 intervals[kIntervals] = {};
        int count = 0;
        int next = 0;
        bool reported = false;
        bool silent = false;
    };
    static bool valid(int module) { return module >= 0 && module < kModules; }

    Module m_modules[kModules];
};

} // namespace tl::input
