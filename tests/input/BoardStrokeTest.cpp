// Board-wide pen scripts, as two emulated modules report them, through the
// tracking path and the injector: one contact per stroke across the seam,
// every contact released, and raw positions within a pixel of the pen.
#include "input/InputInjection.h"
#include "platform/fake/RecordingBackend.h"
#include "platform/fake/RecordingCompanionLink.h"
#include "platform/linux/BoardTouchBackend.h"
#include "sim/BoardPen.h"

#include "InputTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

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

// ---- Two board displays, a touch device each ---------------------------------

namespace {

struct DeviceCount
{
    int downs = 0;  // new tracking ids
    int ups = 0;    // tracking id -1
};

// Plays `board` on two modules through the tracking path and the injector into
// two touch devices, one per display (as on GNOME, KDE and weston), in raw or
// smoothed mode, and counts what each device wrote.
std::vector<DeviceCount> playOnTwoDevices(const tl::sim::BoardScript &board, int cycles, bool smoothed)
{
    const QRect rects[2] = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1920, 1080)};
    std::vector<tltest::Event> events[2];
    std::vector<tl::BoardTouchBackend::Device> devices;
    for (int d = 0; d < 2; ++d) {
        tl::TouchDeviceGeometry g;
        g.desktop = rects[d];
        devices.push_back({std::make_unique<tl::UinputTouchBackend>(
                               std::make_unique<tltest::RecordingSink>(&events[d]), g),
                           rects[d], 0});
    }
    const tl::DesktopSpace space =
        tl::DesktopSpace::fromMonitors({tl::MonitorInfo(rects[0], 96, true), tl::MonitorInfo(rects[1])});
    auto backend = std::make_unique<tl::BoardTouchBackend>(std::move(devices), space);
    tl::RecordingCompanionLink link;
    link.addWindow(1, true);
    InputInjection inj(std::move(backend), &link);
    inj.setDisplayLayout(rects[0], rects[1], 2);
    inj.setTargetWindow(1);
    inj.configure(smoothed ? 1 : 2, 0.8, 1);
    inj.resetTracking(0);
    inj.resetTracking(1);
    if (smoothed)
        inj.setTargetWindow(0);  // no companion: the default smoothing

    tl::sim::PenScript views[2] = {tl::sim::moduleView(board, 0, 2), tl::sim::moduleView(board, 1, 2)};
    for (int c = 0; c < cycles; ++c)
        for (int m = 0; m < 2; ++m) {
            std::vector<tltest::Rec> recs;
            for (const tl::sim::TrackPoint &p : views[m](uint64_t(c)))
                recs.push_back({p.x, p.y, p.weight});
            const auto bytes = tltest::payload(recs);
            inj.trackingEntry(bytes.data(), int(bytes.size()), m);
        }
    std::vector<DeviceCount> out(2);
    for (int d = 0; d < 2; ++d)
        for (const tltest::Event &e : events[d]) {
            if (e.type == EV_ABS && e.code == ABS_MT_TRACKING_ID)
                (e.value >= 0 ? out[size_t(d)].downs : out[size_t(d)].ups)++;
        }
    return out;
}

} // namespace

TEST(BoardStroke, APenHeldStillOnTheSeamOfTwoDevicesIsOneContact)
{
    // The pen rests on the common edge of the two displays: desktop pixel
    // 1919 is the last of the left-hand display, 1920 the first of the right-
    // hand one, and the edge between them is sensor x 4798.75 (1920 * x / 4800
    // rounded). Each module reports whole sensor units, so a pen at rest
    // wobbles by a unit from report to report; both modules see it there and
    // their reports are blended.
    for (const double at : {4798.25, 4798.75, 4799.25}) {
        for (bool smoothed : {false, true}) {
            SCOPED_TRACE(testing::Message() << "board x " << at << (smoothed ? ", smoothed" : ", raw"));
            std::mt19937 rng(uint32_t(at * 4) + smoothed);
            std::uniform_real_distribution<double> wobble(-1.0, 1.0);
            std::vector<tl::sim::BoardPoint> rest(300);
            for (tl::sim::BoardPoint &p : rest)
                p = {at + wobble(rng), 1500 + wobble(rng)};
            const tl::sim::BoardScript still = [rest](uint64_t c) -> std::vector<tl::sim::BoardPoint> {
                if (c >= rest.size())
                    return {};
                return {rest[size_t(c)]};
            };
            const std::vector<DeviceCount> n = playOnTwoDevices(still, 320, smoothed);
            EXPECT_EQ(n[0].downs + n[1].downs, 1);
            EXPECT_EQ(n[0].ups + n[1].ups, 1);
            EXPECT_EQ(n[0].downs, n[0].ups);
            EXPECT_EQ(n[1].downs, n[1].ups);
        }
    }
}

TEST(BoardStroke, AStrokeAcrossTheSeamOfTwoDevicesChangesDeviceOnce)
{
    // A contact cannot change devices: crossing, it comes up on the left one
    // and goes down on the right one, once.
    const auto stroke = tl::sim::boardStroke({3000, 1000}, {6600, 2000}, 360);
    for (bool smoothed : {false, true}) {
        SCOPED_TRACE(smoothed ? "smoothed" : "raw");
        const std::vector<DeviceCount> n = playOnTwoDevices(stroke, 380, smoothed);
        EXPECT_EQ(n[0].downs, 1);
        EXPECT_EQ(n[0].ups, 1);
        EXPECT_EQ(n[1].downs, 1);
        EXPECT_EQ(n[1].ups, 1);
    }
}
