// Invariants over the event stream a uinput touch device would receive: every
// tracking id that goes down comes up (also when tracking stops, a module goes
// silent or the system suspends), ids are unique across both modules, and one
// injection call is one SYN_REPORT frame. The same for the button of the mouse
// path.
#include "input/InputInjection.h"
#include "platform/fake/RecordingCompanionLink.h"
#include "platform/linux/UinputMouseBackend.h"
#include "platform/linux/UinputTouchBackend.h"

#include "InputTestSupport.h"
#include "platform/Clock.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>
#include <set>
#include <thread>
#include <atomic>

using tl::input::InputInjection;
using tltest::Event;
using tltest::Rec;
using tltest::TouchStreamCheck;

namespace {

// Counts the injection calls on their way to the real backend (what the
// shared counting backend of the fakes cannot do: it stands in for one).
class CallCounter : public tl::InjectionBackend
{
public:
    explicit CallCounter(std::unique_ptr<tl::InjectionBackend> inner, int *touchCalls, int *mouseCalls)
        : m_inner(std::move(inner)), m_touch(touchCalls), m_mouse(mouseCalls)
    {
    }
    Kind kind() const override { return m_inner->kind(); }
    QString name() const override { return m_inner->name(); }
    bool injectTouch(const tl::TouchRecord *r, int n) override
    {
        ++*m_touch;
        return m_inner->injectTouch(r, n);
    }
    bool sendMouse(int x, int y, quint32 f) override
    {
        ++*m_mouse;
        return m_inner->sendMouse(x, y, f);
    }

private:
    std::unique_ptr<tl::InjectionBackend> m_inner;
    int *m_touch;
    int *m_mouse;
};

class Lifecycle : public ::testing::TestWithParam<bool /* raw */>
{
protected:
    void make(int modules)
    {
        auto touch = std::make_unique<tl::UinputTouchBackend>(std::make_unique<tltest::RecordingSink>(&events),
                                                              tl::TouchDeviceGeometry{QRect(0, 0, 3840, 1080), 4});
        inj = std::make_unique<InputInjection>(
            std::make_unique<CallCounter>(std::move(touch), &touchCalls, &mouseCalls), &link);
        inj->setDisplayLayout(QRect(0, 0, 1920, 1080), QRect(1920, 0, 1920, 1080), modules);
        inj->resetTracking(0);
        inj->resetTracking(1);
        if (GetParam()) {
            link.addWindow(0x99, true);
            inj->setTargetWindow(0x99);
            inj->configure(2, 0.8, 1);
        }
    }

    void report(int module, const std::vector<Rec> &recs)
    {
        const auto bytes = tltest::payload(recs);
        inj->trackingEntry(bytes.data(), int(bytes.size()), module);
    }

    // Random fingers for `cycles` report cycles of both modules: fingers come,
    // move (sometimes jumping), cross the seam and go.
    void play(std::mt19937 &rng, int cycles, int modules)
    {
        struct Finger { int x, y; };
        std::vector<Finger> fingers;
        std::uniform_int_distribution<int> pct(0, 99);
        std::uniform_int_distribution<int> step(-60, 60);
        const int width = 4800 * modules;
        for (int c = 0; c < cycles; ++c) {
            if (pct(rng) < 8 && fingers.size() < 11)
                fingers.push_back({std::uniform_int_distribution<int>(0, width - 1)(rng),
                                   std::uniform_int_distribution<int>(0, 2999)(rng)});
            if (pct(rng) < 6 && !fingers.empty())
                fingers.erase(fingers.begin() + std::uniform_int_distribution<size_t>(0, fingers.size() - 1)(rng));
            for (Finger &f : fingers) {
                if (pct(rng) < 3) {
                    f.x = std::uniform_int_distribution<int>(0, width - 1)(rng);  // a jump
                } else {
                    f.x = std::clamp(f.x + step(rng), -40, width + 39);
                    f.y = std::clamp(f.y + step(rng), -40, 3039);
                }
            }
            std::vector<Rec> side[2];
            for (const Finger &f : fingers) {
                // Near the seam both modules see the finger.
                if (f.x < 4800 + 150)
                    side[0].push_back({f.x, f.y, 50});
                if (modules == 2 && f.x >= 4800 - 150)
                    side[1].push_back({f.x - 4800, f.y + 3, 40});
            }
            report(0, side[0]);
            if (modules == 2)
                report(1, side[1]);
        }
    }

    void expectAllUp()
    {
        TouchStreamCheck check;
        check.feed(events);
        EXPECT_TRUE(check.faults.empty()) << check.faults.front();
        EXPECT_TRUE(check.idOfSlot.empty()) << check.idOfSlot.size() << " contacts still down";
        EXPECT_EQ(check.downs, check.ups);
        EXPECT_FALSE(check.btnTouch);
        EXPECT_GT(check.downs, 0);
        EXPECT_EQ(tltest::countSyn(events), touchCalls);
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(inj->touchState(i), tl::input::TouchInjector::TouchUp);
    }

    tl::RecordingCompanionLink link;
    std::vector<Event> events;
    int touchCalls = 0;
    int mouseCalls = 0;
    std::unique_ptr<InputInjection> inj;
};

} // namespace

TEST_P(Lifecycle, EveryContactComesUpWhenTheFingersLeave)
{
    for (int modules : {1, 2}) {
        SCOPED_TRACE(modules);
        events.clear();
        touchCalls = 0;
        make(modules);
        std::mt19937 rng(1234 + modules);
        play(rng, 3000, modules);
        report(0, {});
        if (modules == 2)
            report(1, {});
        expectAllUp();
    }
}

TEST_P(Lifecycle, StopReleasesWhatIsDown)
{
    make(2);
    std::mt19937 rng(99);
    play(rng, 400, 2);
    report(0, {{1000, 1000}, {2000, 1000}});
    report(1, {{1000, 1000}});
    // Tracking stops (stop, unplug, suspend all go through the controller's
    // StopDevice).
    inj->releaseAllContacts();
    expectAllUp();
}

// A module that stops reporting while it stays on the bus (a firmware hang, a
// halted endpoint, a hub that drops its transfers) must not hold what it last
// reported down: after its silence bound it counts as reporting nothing, so its
// contacts come up and the other module's half goes on; its next report ends
// the silence. The receive loops look at every read, also one that timed out
// (checkSilence once per second here, their read time-out). Driver time is
// compressed; each wait keeps its value.
TEST_P(Lifecycle, ASilentModuleLiftsItsContactsAndComesBack)
{
    struct Compressed
    {
        Compressed() { tl::Clock::setCompression(500); }
        ~Compressed() { tl::Clock::setCompression(1); }
    } compressed;
    tl::test::LogCapture log;
    make(2);
    // One report cycle of the given modules (nullopt: that one says nothing),
    // then the module's 10 ms cycle passes.
    auto cycle = [&](std::optional<std::vector<Rec>> m0, std::optional<std::vector<Rec>> m1) {
        if (m0)
            report(0, *m0);
        if (m1)
            report(1, *m1);
        tl::Clock::sleepMs(10);
    };
    // The receive loops' reads time out after a second of silence.
    auto quiet = [&](int ms) {
        for (int t = 0; t < ms; t += 1000) {
            tl::Clock::sleepMs(1000);
            inj->checkSilence(0);
            inj->checkSilence(1);
        }
    };
    auto down = [&] {
        TouchStreamCheck check;
        check.feed(events);
        EXPECT_TRUE(check.faults.empty()) << check.faults.front();
        return check;
    };

    // A stroke on each half.
    for (int k = 0; k < 50; ++k)
        cycle(std::vector<Rec>{{1000 + k, 1000}}, std::vector<Rec>{{1000 - k, 2000}});
    ASSERT_EQ(down().idOfSlot.size(), 2u);

    // Module 1 falls silent mid-stroke; module 0's stroke goes on for two
    // seconds and keeps being injected, without a break.
    const int callsBefore = touchCalls;
    for (int k = 0; k < 200; ++k)
        cycle(std::vector<Rec>{{1050 + k, 1000}}, std::nullopt);
    {
        const TouchStreamCheck check = down();
        EXPECT_EQ(check.idOfSlot.size(), 1u) << "the silent module's contact is still down";
        EXPECT_EQ(check.downs, 2);
        EXPECT_EQ(check.ups, 1);
    }
    EXPECT_GT(touchCalls - callsBefore, 100) << "the other module's half stopped while one module was silent";
    EXPECT_EQ(log.count("module 1 has not reported for"), 1);

    // Module 1 reports again: one new contact, module 0's stroke still one.
    for (int k = 0; k < 50; ++k)
        cycle(std::vector<Rec>{{1250 + k, 1000}}, std::vector<Rec>{{2000, 2000}});
    {
        const TouchStreamCheck check = down();
        EXPECT_EQ(check.idOfSlot.size(), 2u);
        EXPECT_EQ(check.downs, 3);
    }
    EXPECT_EQ(log.count("module 1 reports again after"), 1);

    // Both fall silent with their pens down: no packet arrives, the loops'
    // time-outs find it.
    quiet(3000);
    expectAllUp();
    EXPECT_EQ(log.count("module 0 has not reported for"), 1);
    EXPECT_EQ(log.count("module 1 has not reported for"), 2);

    // Module 1's bound is its own even when module 0, slow after a long gap,
    // is quiet as well and still within its longer bound: module 1's
    // contact comes up after module 1's bound, module 0's stays down.
    for (int k = 0; k < 20; ++k)
        cycle(std::vector<Rec>{{1000, 1000}}, std::vector<Rec>{{1000, 2000}});
    tl::Clock::sleepMs(3000);  // module 1 reports, module 0 says nothing for 3 s
    for (int k = 0; k < 300; ++k)
        cycle(std::nullopt, std::vector<Rec>{{1000, 2000}});
    cycle(std::vector<Rec>{{1000, 1000}}, std::vector<Rec>{{1000, 2000}});
    cycle(std::vector<Rec>{{1000, 1000}}, std::vector<Rec>{{1000, 2000}});
    int module0Y = 0;  // module 0's pen is the higher one
    {
        const TouchStreamCheck check = down();
        ASSERT_EQ(check.idOfSlot.size(), 2u);
        module0Y = std::min(check.posY[check.idOfSlot.begin()->first], check.posY[check.idOfSlot.rbegin()->first]);
    }
    quiet(2000);  // both stop; module 1's bound is half a second, module 0's 6 s
    {
        const TouchStreamCheck check = down();
        ASSERT_EQ(check.idOfSlot.size(), 1u) << "module 1's contact waits for module 0's bound";
        EXPECT_EQ(check.posY[check.idOfSlot.begin()->first], module0Y) << "module 0's contact is the one left";
    }
    quiet(6000);
    expectAllUp();

    // A module that reports late but steadily keeps its strokes: a pen held
    // through reports every two seconds, and through a flood of a thousand a
    // second, is one contact until it lifts; then silence lifts nothing more.
    for (int period : {2000, 1}) {
        SCOPED_TRACE(period);
        inj.reset();
        events.clear();
        touchCalls = 0;
        make(1);
        for (int k = 0; k < 5000 / period + 10; ++k) {
            report(0, {{3000, 1500 + k % 3}});
            for (int t = 0; t < period; t += 1000) {
                tl::Clock::sleepMs(std::min(1000, period));
                inj->checkSilence(0);
            }
        }
        {
            const TouchStreamCheck check = down();
            EXPECT_EQ(check.downs, 1);
            EXPECT_EQ(check.ups, 0);
        }
        // It stops mid-stroke: the contact comes up within its bound.
        quiet(int(tl::input::SilenceWatch::kMaxBoundMs) + 1000);
        expectAllUp();
        EXPECT_EQ(down().downs, 1);
    }
}

TEST_P(Lifecycle, DestroyingTheInjectionReleasesWhatIsDown)
{
    make(1);
    report(0, {{1000, 1000}, {3000, 2000}});
    inj.reset();
    TouchStreamCheck check;
    check.feed(events);
    EXPECT_TRUE(check.idOfSlot.empty());
    EXPECT_FALSE(check.btnTouch);
}

INSTANTIATE_TEST_SUITE_P(Modes, Lifecycle, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "raw" : "smoothed"; });

TEST(MouseLifecycle, EveryLeftPressIsReleased)
{
    // The last touch ends as the pen lifts (0), as tracking stops (1), or as the
    // module falls silent with the pen down (2).
    tl::Clock::setCompression(500);
    for (int end : {0, 1, 2}) {
        SCOPED_TRACE(end);
        std::vector<Event> events;
        tl::RecordingCompanionLink link;
        InputInjection inj(
            std::make_unique<tl::UinputMouseBackend>(std::make_unique<tltest::RecordingSink>(&events)), &link);
        inj.setDisplayLayout(QRect(0, 0, 1920, 1080), QRect(), 1);
        inj.setScreenSize(1920, 1080);
        inj.resetTracking(0);
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> pct(0, 99);
        bool down = false;
        int x = 2000, y = 1500;
        for (int c = 0; c < 3000; ++c) {
            if (pct(rng) < 5)
                down = !down;
            x = std::clamp(x + std::uniform_int_distribution<int>(-3, 3)(rng), 0, 4799);
            const auto bytes = down ? tltest::payload({{x, y}}) : tltest::payload({});
            inj.trackingEntry(bytes.data(), int(bytes.size()), 0);
        }
        if (end > 0) {
            const auto bytes = tltest::payload({{x, y}});
            for (int k = 0; k < 4; ++k)
                inj.trackingEntry(bytes.data(), int(bytes.size()), 0);
            if (end == 1) {
                inj.releaseAllContacts();
            } else {
                for (int t = 0; t < tl::input::SilenceWatch::kMaxBoundMs + 1000; t += 1000) {
                    tl::Clock::sleepMs(1000);
                    inj.checkSilence(0);
                }
            }
        } else {
            const auto bytes = tltest::payload({});
            inj.trackingEntry(bytes.data(), int(bytes.size()), 0);
        }
        tltest::PointerStreamCheck pointer;
        pointer.feed(events);
        EXPECT_TRUE(pointer.faults.empty()) << pointer.faults.front();
        EXPECT_GT(pointer.leftPresses, 5);
        EXPECT_FALSE(pointer.left);
    }
    tl::Clock::setCompression(1);
}

// Two receive threads and the controller's thread at once: the tracking mutex
// keeps the slots whole, and stop still brings every contact up.
TEST(ConcurrentTracking, TwoReceiveThreadsAndTheController)
{
    std::vector<Event> events;
    tl::RecordingCompanionLink link;
    InputInjection inj(std::make_unique<tl::UinputTouchBackend>(std::make_unique<tltest::RecordingSink>(&events),
                                                                tl::TouchDeviceGeometry{QRect(0, 0, 3840, 1080), 4}),
                       &link);
    inj.setDisplayLayout(QRect(0, 0, 1920, 1080), QRect(1920, 0, 1920, 1080), 2);
    inj.resetTracking(0);
    inj.resetTracking(1);
    std::atomic<bool> stop{false};
    // Each receive loop looks for silence after every read; module 1's loop
    // ends early on "device gone" while module 0's goes on.
    auto receive = [&](int module) {
        for (int k = 0; k < (module == 1 ? 2000 : 3000); ++k) {
            const int x = 1000 + (k % 50) * 10;
            const auto bytes = (k / 200) % 2 ? tltest::payload({}) : tltest::payload({{x, 1500}, {x, 2500}});
            inj.trackingEntry(bytes.data(), int(bytes.size()), module);
            inj.checkSilence(module);
        }
        if (module == 1)
            inj.moduleGone(1);
    };
    std::thread controller([&] {
        while (!stop) {
            inj.configure(2, 0.8, 1);
            inj.setTargetWindow(0);
            inj.setScreenSize(1920, 1080);
            std::this_thread::yield();
        }
    });
    std::thread r0(receive, 0);
    std::thread r1(receive, 1);
    r0.join();
    r1.join();
    stop = true;
    controller.join();
    inj.releaseAllContacts();

    TouchStreamCheck check;
    check.feed(events);
    EXPECT_TRUE(check.faults.empty()) << check.faults.front();
    EXPECT_TRUE(check.idOfSlot.empty());
    EXPECT_GT(check.downs, 0);
    EXPECT_FALSE(check.btnTouch);
}
