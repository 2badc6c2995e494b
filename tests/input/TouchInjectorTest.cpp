// The injector on both paths, driven through the tracking entry exactly as a
// receive loop drives it. The display rectangles make one sensor unit one
// desktop pixel, so recorded positions read as sensor positions.
#include "input/InputInjection.h"
#include "platform/fake/RecordingBackend.h"
#include "platform/fake/RecordingCompanionLink.h"

#include "InputTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using tl::RecordingBackend;
using tl::RecordingCompanionLink;
using tl::TouchRecord;
using tl::input::InputInjection;
using tl::input::TouchInjector;
using tltest::Rec;
using Call = RecordingBackend::Call;

namespace {

class InjectorFixture : public ::testing::Test
{
protected:
    void make(tl::InjectionBackend::Kind kind, int modules = 1)
    {
        auto backend = std::make_unique<RecordingBackend>(kind);
        rec = backend.get();
        inj = std::make_unique<InputInjection>(std::move(backend), &link);
        inj->setDisplayLayout(QRect(0, 0, 4800, 3000), QRect(4800, 0, 4800, 3000), modules);
        inj->setScreenSize(4800, 3000);
        inj->resetTracking(0);
        inj->resetTracking(1);
    }

    // A companion window on screen switches to raw positions.
    void showCompanion(bool raw)
    {
        link.addWindow(kCompanion, true);
        inj->setTargetWindow(kCompanion);
        inj->configure(raw ? 2 : 1, 0.8, 1);
    }

    void cycle(std::initializer_list<Rec> recs)
    {
        const auto bytes = tltest::payload(recs);
        inj->trackingEntry(bytes.data(), int(bytes.size()), 0);
    }

    std::vector<Call> touchCalls() const
    {
        std::vector<Call> out;
        for (const Call &c : rec->calls())
            if (c.type == Call::Type::Touch)
                out.push_back(c);
        return out;
    }

    std::vector<Call> mouseCalls() const
    {
        std::vector<Call> out;
        for (const Call &c : rec->calls())
            if (c.type == Call::Type::Mouse)
                out.push_back(c);
        return out;
    }

    // One cycle of two modules: module 0's records, then module 1's (in its
    // own sensor space).
    void cycle2(std::initializer_list<Rec> m0, std::initializer_list<Rec> m1)
    {
        const auto b0 = tltest::payload(m0);
        const auto b1 = tltest::payload(m1);
        inj->trackingEntry(b0.data(), int(b0.size()), 0);
        inj->trackingEntry(b1.data(), int(b1.size()), 1);
    }

    // The pixel an absolute pointer lands on, as the input stack decodes an
    // axis of 0..65535 over a box of `size` pixels (libinput, the X server's
    // absolute valuators): value * size / (65535 + 1), truncated.
    static int landsOn(int value, int size) { return int(qint64(value) * size / 65536); }

    static constexpr tl::WindowHandle kCompanion = 0x4201;
    // One monitor of sensor size, so that a sensor unit is a desktop pixel.
    tltest::ScreenLayout screens{QRect(0, 0, 4800, 3000)};
    RecordingCompanionLink link;
    RecordingBackend *rec = nullptr;
    std::unique_ptr<InputInjection> inj;
};

constexpr quint32 kDown = tl::kTouchFlagsDown;
constexpr quint32 kMove = tl::kTouchFlagsMove;
constexpr quint32 kUp = tl::kTouchFlagsUp;
constexpr quint32 kHover = tl::kTouchFlagsHover;

} // namespace

// ---- Touch path ------------------------------------------------------------

TEST_F(InjectorFixture, OneRecordUntilASecondFingerThenTenUntilReleaseAll)
{
    make(tl::InjectionBackend::Kind::Touch);
    showCompanion(true);
    ASSERT_TRUE(inj->touchInjectionAvailable());

    cycle({{1000, 1000}});
    cycle({{1010, 1000}});
    auto calls = touchCalls();
    ASSERT_EQ(calls.size(), 2u);
    ASSERT_EQ(calls[0].records.size(), 1u);
    EXPECT_EQ(calls[0].records[0].flags, kDown);
    EXPECT_EQ(calls[0].records[0].pointerId, 0);
    EXPECT_EQ(calls[0].records[0].x, 1000);
    ASSERT_EQ(calls[1].records.size(), 1u);
    EXPECT_EQ(calls[1].records[0].flags, kMove);
    EXPECT_EQ(calls[1].records[0].x, 1010);
    EXPECT_EQ(inj->touchState(0), TouchInjector::TouchInContact);

    rec->clear();
    cycle({{1020, 1000}, {3000, 2000}});
    cycle({{1030, 1000}});  // the second finger lifts: one finger again
    cycle({{1040, 1000}});
    calls = touchCalls();
    ASSERT_EQ(calls.size(), 3u);
    for (const Call &c : calls)
        EXPECT_EQ(c.records.size(), 10u);
    EXPECT_EQ(calls[0].records[0].flags, kMove);
    EXPECT_EQ(calls[0].records[1].flags, kDown);
    EXPECT_EQ(calls[0].records[1].x, 3000);
    EXPECT_EQ(calls[0].records[2].flags, kHover);
    EXPECT_EQ(calls[1].records[1].flags, kUp);  // raw mode: up in one cycle
    EXPECT_EQ(calls[2].records[1].flags, kHover);

    rec->clear();
    cycle({});  // release all: ten records, then back to one
    cycle({{2000, 1000}});
    calls = touchCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].records.size(), 10u);
    EXPECT_EQ(calls[0].records[0].flags, kUp);
    EXPECT_EQ(calls[1].records.size(), 1u);
    EXPECT_EQ(calls[1].records[0].flags, kDown);
}

TEST_F(InjectorFixture, SmoothingLiftsInTwoCyclesRawInOne)
{
    make(tl::InjectionBackend::Kind::Touch);  // no companion: smoothing
    cycle({{1000, 1000}});
    cycle({{1000, 1000}, {3000, 1000}});
    rec->clear();
    cycle({{1000, 1000}});
    EXPECT_EQ(inj->touchState(1), TouchInjector::TouchLifting);
    cycle({{1000, 1000}});
    EXPECT_EQ(inj->touchState(1), TouchInjector::TouchUp);
    auto calls = touchCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].records[1].flags, kMove);  // still in contact, at its last raw position
    EXPECT_EQ(calls[0].records[1].x, 3000);
    EXPECT_EQ(calls[1].records[1].flags, kUp);

    // Everything lifting at once: two release rounds within the same cycle.
    rec->clear();
    cycle({});
    calls = touchCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].records[0].flags, kMove);
    EXPECT_EQ(calls[1].records[0].flags, kUp);
    EXPECT_EQ(inj->touchState(0), TouchInjector::TouchUp);
}

TEST_F(InjectorFixture, SmoothedPositionsTrailTheRawOnes)
{
    make(tl::InjectionBackend::Kind::Touch);
    cycle({{1000, 1000}});
    cycle({{1100, 1000}});
    const auto calls = touchCalls();
    ASSERT_EQ(calls.size(), 2u);
    // First input: the whole history is that point. Second: 0.8^9 = 0.134 of
    // the 100-unit step.
    EXPECT_NEAR(calls[0].records[0].x, 1000, 1);
    EXPECT_NEAR(calls[1].records[0].x, 1013, 1);
    // A repeated identical input does not move the smoothed position.
    cycle({{1100, 1000}});
    EXPECT_EQ(touchCalls().back().records[0].x, calls[1].records[0].x);
}

TEST_F(InjectorFixture, AReplacedContactIsLiftedBeforeItIsPressedAgain)
{
    make(tl::InjectionBackend::Kind::Touch);
    showCompanion(true);
    cycle({{1000, 1000}});
    rec->clear();
    cycle({{2000, 1000}});  // a jump of 1000: same slot, action 2
    auto calls = touchCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].records[0].flags, kUp);
    EXPECT_EQ(calls[1].records[0].flags, kDown);
    EXPECT_EQ(calls[1].records[0].x, 2000);

    // Smoothing: the lift goes in contact -> lifting -> up before the press.
    make(tl::InjectionBackend::Kind::Touch);
    cycle({{1000, 1000}});
    rec->clear();
    cycle({{2000, 1000}});
    calls = touchCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].records[0].flags, kMove);
    EXPECT_EQ(calls[1].records[0].flags, kUp);
    EXPECT_EQ(calls[2].records[0].flags, kDown);
}

TEST_F(InjectorFixture, ANewContactOnALiftingIndexDoesNotContinueTheOldStroke)
{
    make(tl::InjectionBackend::Kind::Touch);  // smoothing
    cycle({{1000, 1000}});
    cycle({{1000, 1000}, {3000, 1000}});
    cycle({{1000, 1000}});  // index 1 is lifting
    ASSERT_EQ(inj->touchState(1), TouchInjector::TouchLifting);
    rec->clear();
    cycle({{1000, 1000}, {4000, 2500}});  // a new finger takes index 1 at once
    const auto calls = touchCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].records[1].flags, kUp);
    EXPECT_EQ(calls[1].records[1].flags, kDown);
    EXPECT_EQ(calls[1].records[1].x, 4000);
    EXPECT_EQ(inj->touchState(1), TouchInjector::TouchInContact);
}

TEST_F(InjectorFixture, ReleaseAllBringsEveryContactUpInBothModes)
{
    for (bool raw : {false, true}) {
        SCOPED_TRACE(raw ? "raw" : "smoothed");
        make(tl::InjectionBackend::Kind::Touch);
        if (raw)
            showCompanion(true);
        cycle({{1000, 1000}, {2000, 1000}, {3000, 1000}});
        rec->clear();
        inj->releaseAllContacts();
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(inj->touchState(i), TouchInjector::TouchUp);
        const auto calls = touchCalls();
        ASSERT_EQ(calls.size(), raw ? 1u : 2u);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(calls.back().records[i].flags, kUp);
        // Nothing is down any more: a second stop injects nothing.
        rec->clear();
        inj->releaseAllContacts();
        EXPECT_TRUE(rec->calls().empty());
    }
}

// ---- Mouse path ------------------------------------------------------------

TEST_F(InjectorFixture, MouseTouchShorterThanThreeReportsIsNoInput)
{
    make(tl::InjectionBackend::Kind::Mouse);
    showCompanion(true);
    ASSERT_FALSE(inj->touchInjectionAvailable());
    cycle({{1000, 1000}});
    cycle({{1000, 1000}});
    cycle({});
    EXPECT_TRUE(rec->calls().empty());
    EXPECT_TRUE(link.posts().empty());

    // The tracking reset empties the slots, and the injector forgets their
    // indices and held-back reports with them: a contact after it is held
    // back anew.
    cycle({{1000, 1000}});
    cycle({{1000, 1000}});
    EXPECT_EQ(inj->slotBinding(0).index, 0);
    EXPECT_EQ(inj->slotBinding(0).reports, 2);
    inj->resetTracking(0);
    inj->resetTracking(1);
    for (int s = 0; s < tl::input::kContactSlots; ++s) {
        EXPECT_EQ(inj->slotBinding(s).index, -1);
        EXPECT_EQ(inj->slotBinding(s).reports, 0);
    }
    cycle({{1000, 1000}});
    EXPECT_TRUE(rec->calls().empty());
    cycle({});

    cycle({{1000, 1000}});
    cycle({{1005, 1000}});
    cycle({{1010, 1000}});
    const auto calls = mouseCalls();
    // Third report: press at the held-back second position, moves to it and
    // to the third one.
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].flags, 0x8003u);
    // Pixel 1005 of a 4800-pixel desktop: floor(1005.5 * 65536 / 4800), which
    // the pointer decodes back to 1005.
    EXPECT_EQ(calls[0].absX, 13728);
    EXPECT_EQ(landsOn(calls[0].absX, 4800), 1005);
    EXPECT_EQ(landsOn(calls[0].absY, 3000), 1000);
    EXPECT_EQ(calls[1].flags, 0x8001u);
    EXPECT_EQ(calls[2].flags, 0x8001u);
    EXPECT_EQ(calls[2].absX, 13796);   // pixel 1010 of 4800
    EXPECT_EQ(landsOn(calls[2].absX, 4800), 1010);
}

TEST_F(InjectorFixture, MouseCodesAndContactMessages)
{
    make(tl::InjectionBackend::Kind::Mouse);
    showCompanion(true);  // raw
    for (int k = 0; k < 3; ++k)
        cycle({{1000, 1000}, {3000, 2000}});
    cycle({});
    // Index 0 drives the mouse; every index posts its own message.
    const auto calls = mouseCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front().flags, 0x8003u);
    EXPECT_EQ(calls.back().flags, 0x8004u);  // raw release: left up, no move
    EXPECT_EQ(calls.back().absX, 13660);   // pixel 1000 of 4800
    EXPECT_EQ(landsOn(calls.back().absX, 4800), 1000);
    EXPECT_EQ(landsOn(calls.back().absY, 3000), 1000);

    std::vector<std::pair<quint32, qintptr>> index1;
    for (const auto &p : link.posts()) {
        EXPECT_EQ(p.window, kCompanion);
        if (p.message == 0x473)
            index1.push_back({quint32(p.first), p.second});
    }
    const quint32 packed = (3000u << 16) | 2000u;
    ASSERT_EQ(index1.size(), 4u);
    EXPECT_EQ(index1[0], std::make_pair(packed, qintptr(50)));
    EXPECT_EQ(index1[1], std::make_pair(packed, qintptr(10)));
    EXPECT_EQ(index1[2], std::make_pair(packed, qintptr(10)));
    EXPECT_EQ(index1[3], std::make_pair(packed, qintptr(60)));
    int index0 = 0;
    for (const auto &p : link.posts())
        index0 += p.message == 0x47E;
    EXPECT_EQ(index0, 4);
}

TEST_F(InjectorFixture, DoubleTapWithin25ReportsClicksAtTheFirstPressPoint)
{
    for (int gap : {23, 24}) {
        SCOPED_TRACE(gap);
        make(tl::InjectionBackend::Kind::Mouse);  // no companion shown: double taps allowed
        for (int k = 0; k < 3; ++k)
            cycle({{2000, 1500}});
        for (int k = 0; k < gap; ++k)
            cycle({});
        for (int k = 0; k < 3; ++k)
            cycle({{2010, 1505}});
        cycle({});

        const auto calls = mouseCalls();
        ASSERT_FALSE(calls.empty());
        ASSERT_EQ(calls[0].flags, 0x8003u);
        int clicks = 0, presses = 0;
        for (const Call &c : calls) {
            if (c.flags == 0x8007u) {
                ++clicks;
                EXPECT_EQ(c.absX, calls[0].absX);
                EXPECT_EQ(c.absY, calls[0].absY);
            }
            presses += c.flags == 0x8003u;
        }
        // Up to 25 reports between the lift and the second press: a click;
        // one more and the second tap is a press of its own.
        EXPECT_EQ(clicks, gap == 23 ? 1 : 0);
        EXPECT_EQ(presses, gap == 23 ? 1 : 2);
    }
}

TEST_F(InjectorFixture, DoubleTapNeedsTheSecondTapNearTheFirst)
{
    make(tl::InjectionBackend::Kind::Mouse);
    for (int k = 0; k < 3; ++k)
        cycle({{2000, 1500}});
    cycle({});
    for (int k = 0; k < 3; ++k)
        cycle({{2030, 1500}});
    for (const Call &c : mouseCalls())
        EXPECT_NE(c.flags, 0x8007u);
}

TEST_F(InjectorFixture, ADragDoesNotDisableLaterDoubleTaps)
{
    make(tl::InjectionBackend::Kind::Mouse);
    // A drag: the first tap moves more than three times.
    for (int k = 0; k < 10; ++k)
        cycle({{1000 + 20 * k, 1000}});
    cycle({});
    for (int k = 0; k < 30; ++k)
        cycle({});
    // A clean double tap afterwards still clicks.
    for (int k = 0; k < 3; ++k)
        cycle({{3000, 2000}});
    cycle({});
    for (int k = 0; k < 3; ++k)
        cycle({{3002, 2000}});
    int clicks = 0;
    for (const Call &c : mouseCalls())
        clicks += c.flags == 0x8007u;
    EXPECT_EQ(clicks, 1);
}

TEST_F(InjectorFixture, PressAndHoldGivesARightClickAtReport64)
{
    make(tl::InjectionBackend::Kind::Mouse);
    link.addWindow(0x77, true, false, 0);
    link.setCursorWindow(0x77);
    // Cycle k (from 3 on) carries report k - 1: report 64 is cycle 65.
    for (int k = 1; k <= 64; ++k)
        cycle({{2500, 1500}});
    for (const Call &c : mouseCalls())
        ASSERT_NE(c.flags, 0x8019u) << "right click before report 64";
    EXPECT_EQ(link.propertyReads(), 1);  // checked at report 63
    cycle({{2500, 1500}});
    const auto calls = mouseCalls();
    ASSERT_GE(calls.size(), 3u);
    const size_t n = calls.size();
    EXPECT_EQ(calls[n - 3].flags, 0x8004u);  // left up
    EXPECT_EQ(calls[n - 2].flags, 0x8019u);  // right click
    EXPECT_EQ(calls[n - 1].flags, 0x8001u);  // and the move of the report
    EXPECT_EQ(inj->contacts().slot[0].presence, tl::input::Presence::Present);

    // Holding on gives no second right click.
    for (int k = 0; k < 100; ++k)
        cycle({{2500, 1500}});
    int rightClicks = 0;
    for (const Call &c : mouseCalls())
        rightClicks += c.flags == 0x8019u;
    EXPECT_EQ(rightClicks, 1);
}

TEST_F(InjectorFixture, PressAndHoldOffForAWindowThatDisablesIt)
{
    make(tl::InjectionBackend::Kind::Mouse);
    link.addWindow(0x78, true, false, 0x1);
    link.setCursorWindow(0x78);
    for (int k = 0; k < 120; ++k)
        cycle({{2500, 1500}});
    for (const Call &c : mouseCalls())
        EXPECT_NE(c.flags, 0x8019u);
    // A property without bit 0 does not disable it.
    make(tl::InjectionBackend::Kind::Mouse);
    link.addWindow(0x79, true, false, 0x2);
    link.setCursorWindow(0x79);
    for (int k = 0; k < 70; ++k)
        cycle({{2500, 1500}});
    int rightClicks = 0;
    for (const Call &c : mouseCalls())
        rightClicks += c.flags == 0x8019u;
    EXPECT_EQ(rightClicks, 1);
}

TEST_F(InjectorFixture, ACompanionWindowThatDisappearsBetweenCycles)
{
    make(tl::InjectionBackend::Kind::Mouse);
    showCompanion(true);
    for (int k = 0; k < 5; ++k)
        cycle({{1000, 1000}});
    link.destroyWindow(kCompanion);
    for (int k = 0; k < 5; ++k)
        cycle({{1000 + 10 * k, 1000}});
    cycle({});
    // The stroke is released; the posts after the window went are refused by
    // the link, nothing else happens.
    const auto calls = mouseCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().flags, 0x8004u);
    // With the window gone, smoothing is back.
    EXPECT_EQ(inj->smoothingMode(), 1);

    // Raw stays while the window is shown; minimised counts as not shown.
    make(tl::InjectionBackend::Kind::Mouse);
    showCompanion(true);
    cycle({});
    EXPECT_EQ(inj->smoothingMode(), 2);
    link.addWindow(kCompanion, true, true);
    cycle({});
    EXPECT_EQ(inj->smoothingMode(), 1);
}

TEST_F(InjectorFixture, MouseReleaseAllReleasesTheButton)
{
    make(tl::InjectionBackend::Kind::Mouse);
    for (int k = 0; k < 4; ++k)
        cycle({{1000, 1000}});
    rec->clear();
    inj->releaseAllContacts();
    const auto calls = mouseCalls();
    ASSERT_EQ(calls.size(), 2u);  // smoothing: move to the raw position, left up
    EXPECT_EQ(calls[0].flags, 0x8001u);
    EXPECT_EQ(calls[1].flags, 0x8004u);
    rec->clear();
    inj->releaseAllContacts();
    EXPECT_TRUE(rec->calls().empty());
}

// ---- A module without a display --------------------------------------------

namespace {

QStringList *g_log = nullptr;

void keepLog(QtMsgType, const QMessageLogContext &, const QString &text)
{
    if (g_log)
        g_log->append(text);
}

} // namespace

TEST_F(InjectorFixture, AModuleWhoseDisplayIsMissingInjectsNothingAndTheOtherKeepsWorking)
{
    // Two modules, one monitor: module 1's rectangle is empty. Its contacts
    // must not land anywhere (least of all at the desktop's top-left pixel),
    // on either path; module 0's are injected as always.
    const QRect monitor(0, 0, 1920, 1080);
    for (auto kind : {tl::InjectionBackend::Kind::Touch, tl::InjectionBackend::Kind::Mouse}) {
        SCOPED_TRACE(kind == tl::InjectionBackend::Kind::Touch ? "touch path" : "mouse path");
        make(kind, 2);
        showCompanion(true);
        QStringList log;
        g_log = &log;
        const QtMessageHandler previous = qInstallMessageHandler(keepLog);
        inj->setDisplayLayout(monitor, QRect(), 2);
        inj->setDisplayLayout(monitor, QRect(), 2);  // the same layout again (tracking restarts)
        qInstallMessageHandler(previous);
        g_log = nullptr;
        inj->resetTracking(0);
        inj->resetTracking(1);

        // Module 1 alone: nothing at all.
        for (int k = 0; k < 6; ++k)
            cycle2({}, {{1000, 1000}});
        cycle2({}, {});
        EXPECT_TRUE(rec->calls().empty());
        EXPECT_TRUE(link.posts().empty());

        // Both: only module 0's contact, at its own pixel (1000 of 4800 on
        // 1920 pixels is 400; 1000 of 3000 on 1080 is 360).
        for (int k = 0; k < 6; ++k)
            cycle2({{1000, 1000}}, {{1000 + k, 1000}});
        cycle2({}, {});
        cycle2({}, {});
        ASSERT_FALSE(rec->calls().empty());
        int downs = 0, ups = 0;
        for (const Call &c : rec->calls()) {
            if (c.type == Call::Type::Touch) {
                for (const TouchRecord &r : c.records) {
                    downs += r.flags == kDown;
                    ups += r.flags == kUp && (downs > ups);
                    if (r.flags & tl::TouchInContact) {
                        EXPECT_EQ(QPoint(r.x, r.y), QPoint(400, 360)) << "pointer " << r.pointerId;
                    }
                }
            } else {
                EXPECT_EQ(landsOn(c.absX, 4800), 400);
                EXPECT_EQ(landsOn(c.absY, 3000), 360);
                downs += (c.flags & tl::MouseLeftDown) != 0;
                ups += (c.flags & tl::MouseLeftUp) != 0;
            }
        }
        EXPECT_EQ(downs, 1);
        EXPECT_EQ(ups, 1);
        for (const auto &p : link.posts()) {
            EXPECT_EQ(p.message, TouchInjector::contactMessage(0)) << "a post for module 1's contact";
            EXPECT_EQ(p.first, (400u << 16) | 360u);
        }

        // The log says why, once for the layout.
        EXPECT_EQ(log.filter(QStringLiteral("no display")).size(), 1) << log.join('\n').toStdString();
    }
}

TEST_F(InjectorFixture, APenAtRestOnTheEdgeOfTheMissingDisplayIsOneTouch)
{
    // Two modules, one monitor: a pen held still on the modules' common edge
    // wobbles by a few sensor units either side of it from report to report.
    // It is either on the monitor's last column for its whole rest or not
    // injected at all: never a tap per wobble.
    const QRect monitor(0, 0, 1920, 1080);
    const int wobble[] = {4798, 4801, 4799, 4803, 4800, 4797, 4802, 4799, 4801, 4798, 4800, 4803};
    for (auto kind : {tl::InjectionBackend::Kind::Touch, tl::InjectionBackend::Kind::Mouse}) {
        for (int from = 0; from < 2; ++from) {
            SCOPED_TRACE(std::string(kind == tl::InjectionBackend::Kind::Touch ? "touch path" : "mouse path") +
                         (from ? ", pen put down past the edge" : ", pen put down on the monitor"));
            make(kind, 2);
            inj->setDisplayLayout(monitor, QRect(), 2);
            inj->resetTracking(0);
            inj->resetTracking(1);
            for (int k = 0; k < 36; ++k) {
                const int x = wobble[(k + from) % 12];
                if (x < 4800)
                    cycle2({{x, 1000}}, {});
                else
                    cycle2({}, {{x - 4800, 1000}});
            }
            for (int k = 0; k < 3; ++k)
                cycle2({}, {});
            int downs = 0, ups = 0;
            for (const Call &c : rec->calls()) {
                if (c.type == Call::Type::Touch) {
                    for (const TouchRecord &r : c.records) {
                        downs += r.flags == kDown;
                        ups += r.flags == kUp;
                        if (r.flags & tl::TouchInContact) {
                            EXPECT_TRUE(monitor.contains(QPoint(r.x, r.y))) << r.x << ", " << r.y;
                        }
                    }
                } else {
                    EXPECT_LT(landsOn(c.absX, 4800), 1920);
                    downs += (c.flags & tl::MouseLeftDown) != 0;
                    ups += (c.flags & tl::MouseLeftUp) != 0;
                }
            }
            EXPECT_LE(downs, 1);
            EXPECT_EQ(ups, downs);
        }
    }
}

// ---- The window check of press and hold -------------------------------------

TEST_F(InjectorFixture, AWindowCheckThatFindsNoWindowKeepsTheLastAnswer)
{
    // A drawing application that opted out of press and hold: a hold over it
    // is no right click. When the next hold's look under the cursor finds no
    // window (a failed query, the cursor between windows), the answer found
    // before stands until a window is found again.
    make(tl::InjectionBackend::Kind::Mouse);
    link.addWindow(0x78, true, false, 0x1);
    link.addWindow(0x79, true, false, 0x0);
    auto hold = [this] {
        for (int k = 0; k < 70; ++k)
            cycle({{2500, 1500}});
        cycle({});
        int rightClicks = 0;
        for (const Call &c : mouseCalls())
            rightClicks += c.flags == 0x8019u;
        rec->clear();
        return rightClicks;
    };
    link.setCursorWindow(0x78);
    EXPECT_EQ(hold(), 0);
    EXPECT_EQ(link.propertyReads(), 1);
    link.setCursorWindow(0);
    EXPECT_EQ(hold(), 0);
    // Back over the same window: its property is not read again.
    link.setCursorWindow(0x78);
    EXPECT_EQ(hold(), 0);
    EXPECT_EQ(link.propertyReads(), 1);
    // Another window that does not opt out: right click.
    link.setCursorWindow(0x79);
    EXPECT_EQ(hold(), 1);
    EXPECT_EQ(link.propertyReads(), 2);
}
