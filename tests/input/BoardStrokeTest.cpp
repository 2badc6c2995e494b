// Board-wide pen scripts, as two emulated modules report them, through the
// tracking path and the injector: one contact per stroke across the seam,
// every contact released, and raw positions within a pixel of the pen.
#include "input/InputInjection.h"
#include "platform/fake/RecordingBackend.h"
#include "platform/fake/RecordingCompanionLink.h"
#include "sim/BoardPen.h"

#include "InputTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using tl::RecordingBackend;
using tl::input::InputInjection;

namespace {

struct StrokeRun
{
    int downs = 0;
    int ups = 0;
    double maxError = 0;
    std::vector<int> pointersDown;
};

// Plays `board` for `cycles` reports on `modules` modules into a recording
// touch backend in raw mode, and compares every injected position with where
// the pen really is.
StrokeRun play(const tl::sim::BoardScript &board, int cycles, int modules)
{
    const QRect rects[2] = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1920, 1080)};
    auto backend = std::make_unique<RecordingBackend>(tl::InjectionBackend::Kind::Touch);
    RecordingBackend *rec = backend.get();
    tl::RecordingCompanionLink link;
    link.addWindow(1, true);
    InputInjection inj(std::move(backend), &link);
    inj.setDisplayLayout(rects[0], rects[1], modules);
    inj.setTargetWindow(1);
    inj.configure(2, 0.8, 1);  // raw, as with a companion registered with its flag set
    inj.resetTracking(0);
    inj.resetTracking(1);

    tl::sim::PenScript views[2] = {tl::sim::moduleView(board, 0, modules), tl::sim::moduleView(board, 1, modules)};
    StrokeRun run;
    int pointerDown[10] = {};
    for (int c = 0; c < cycles; ++c) {
        const size_t before = rec->calls().size();
        for (int m = 0; m < modules; ++m) {
            std::vector<tltest::Rec> recs;
            for (const tl::sim::TrackPoint &p : views[m](uint64_t(c)))
                recs.push_back({p.x, p.y, p.weight});
            const auto bytes = tltest::payload(recs);
            inj.trackingEntry(bytes.data(), int(bytes.size()), m);
        }
        const std::vector<tl::sim::BoardPoint> truth = board(uint64_t(c));
        for (size_t k = before; k < rec->calls().size(); ++k) {
            for (const tl::TouchRecord &r : rec->calls()[k].records) {
                if (r.flags == tl::kTouchFlagsDown) {
                    ++run.downs;
                    ++pointerDown[r.pointerId];
                    run.pointersDown.push_back(r.pointerId);
                }
                if (r.flags == tl::kTouchFlagsUp && pointerDown[r.pointerId] > 0) {
                    ++run.ups;
                    --pointerDown[r.pointerId];
                }
                if (!(r.flags & tl::TouchInContact) || truth.empty())
                    continue;
                // The nearest true contact, in desktop pixels.
                double best = 1e9;
                for (const tl::sim::BoardPoint &p : truth) {
                    const int k2 = p.x < 4800 ? 0 : 1;
                    const double ex = rects[k2].left() + rects[k2].width() * (p.x - 4800 * k2) / 4800.0;
                    const double ey = rects[k2].top() + rects[k2].height() * p.y / 3000.0;
                    best = std::min(best, std::hypot(r.x - ex, r.y - ey));
                }
                run.maxError = std::max(run.maxError, best);
            }
        }
    }
    return run;
}

} // namespace

TEST(BoardStroke, AStrokeAcrossTheSeamIsOneContact)
{
    const auto stroke = tl::sim::boardStroke({300, 400}, {9300, 2600}, 400);
    const StrokeRun run = play(stroke, 410, 2);
    EXPECT_EQ(run.downs, 1);
    EXPECT_EQ(run.ups, 1);
    EXPECT_LE(run.maxError, 1.0);
    EXPECT_GT(run.maxError, 0.0);  // positions were compared at all
}

TEST(BoardStroke, StrokesOnOneModuleAndAlongTheSeam)
{
    // Straight down the common edge: both modules see the pen all the way.
    const auto seam = tl::sim::boardStroke({4790, 100}, {4810, 2900}, 300);
    StrokeRun run = play(seam, 310, 2);
    EXPECT_EQ(run.downs, 1);
    EXPECT_EQ(run.ups, 1);
    EXPECT_LE(run.maxError, 1.0);

    const auto one = tl::sim::boardStroke({100, 100}, {4700, 2900}, 300);
    run = play(one, 310, 1);
    EXPECT_EQ(run.downs, 1);
    EXPECT_EQ(run.ups, 1);
    EXPECT_LE(run.maxError, 1.0);
}

TEST(BoardStroke, TwoFingerGestureIsTwoContactsBothReleased)
{
    const auto spread = tl::sim::sequence(
        {{tl::sim::twoFingerSpread({4800, 1500}, 600, 3000, 120), 120},
         {tl::sim::boardStroke({2000, 1000}, {7000, 1000}, 200), 200}},
        10);
    const StrokeRun run = play(spread, 400, 2);
    EXPECT_EQ(run.downs, 3);
    EXPECT_EQ(run.ups, 3);
    ASSERT_EQ(run.pointersDown.size(), 3u);
    EXPECT_NE(run.pointersDown[0], run.pointersDown[1]);
    EXPECT_LE(run.maxError, 1.0);
}
