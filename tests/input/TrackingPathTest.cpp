// The tracking path on concrete numbers: decoding and the module-1 shift,
// snapping, the seam merge, matching to the ten slots and the cycle rule.
#include "input/ContactSlots.h"
#include "input/TrackingPath.h"

#include "InputTestSupport.h"

#include <QtGlobal>
#include <gtest/gtest.h>

using tl::input::Presence;
using tl::input::TrackedContact;
using tl::input::DisplayMap;
using tl::input::TrackingPath;
using tltest::payload;
using tltest::Rec;
using Result = TrackingPath::Result;

namespace {

TrackingPath makePath(int modules)
{
    TrackingPath tp;
    tp.setNumModules(modules);
    tp.reset(0);
    return tp;
}

Result feed(TrackingPath &tp, int module, std::initializer_list<Rec> recs)
{
    const auto bytes = payload(recs);
    return tp.addReport(bytes.data(), int(bytes.size()), module);
}

// A whole cycle of one module; the slots are read afterwards.
void cycle1(TrackingPath &tp, std::initializer_list<Rec> recs)
{
    ASSERT_EQ(feed(tp, 0, recs), Result::CycleDone);
    tp.endCycle();
}

int activeSlots(const TrackingPath &tp)
{
    int n = 0;
    for (const TrackedContact &s : tp.contacts().slot)
        n += s.present();
    return n;
}

} // namespace

TEST(TrackingDecode, ModuleOneIsShiftedAndWrapsIn16Bits)
{
    TrackingPath tp = makePath(2);
    EXPECT_EQ(feed(tp, 1, {{100, 500, 10}, {30000, 500, 10}}), Result::Collecting);
    ASSERT_EQ(tp.pointCount(), 2);
    EXPECT_EQ(tp.point(0).x, 4900);
    EXPECT_EQ(tp.point(0).module, 1);
    // 30000 + 4800 = 34800 reads back as a signed 16-bit -30736.
    EXPECT_EQ(tp.point(1).x, -30736);
}

TEST(TrackingDecode, ModuleZeroXIsSigned)
{
    TrackingPath tp = makePath(1);
    tp.decodeRecord(0xFFFF, 10, 1, 0);
    ASSERT_EQ(tp.pointCount(), 1);
    EXPECT_EQ(tp.point(0).x, 0);  // -1 snaps to the left edge
    tp.decodeRecord(0x8000, 10, 1, 0);
    EXPECT_EQ(tp.point(1).x, -32768);
}

TEST(TrackingDecode, SnapsWithinThirtyOfEveryEdge)
{
    TrackingPath tp = makePath(1);
    tp.decodeRecord(uint16_t(-20), -30, 1, 0);
    tp.decodeRecord(uint16_t(-31), -31, 1, 0);
    tp.decodeRecord(4829, 3029, 1, 0);
    tp.decodeRecord(4830, 3030, 1, 0);
    ASSERT_EQ(tp.pointCount(), 4);
    EXPECT_EQ(tp.point(0).x, 0);
    EXPECT_EQ(tp.point(0).y, 0);
    EXPECT_EQ(tp.point(1).x, -31);
    EXPECT_EQ(tp.point(1).y, -31);
    EXPECT_EQ(tp.point(2).x, 4799);
    EXPECT_EQ(tp.point(2).y, 2999);
    EXPECT_EQ(tp.point(3).x, 4830);
    EXPECT_EQ(tp.point(3).y, 3030);

    // With two modules the right edge is 9599.
    TrackingPath wide = makePath(2);
    wide.decodeRecord(4829, 100, 1, 1);  // 9629
    wide.decodeRecord(4830, 100, 1, 1);  // 9630
    EXPECT_EQ(wide.point(0).x, 9599);
    EXPECT_EQ(wide.point(1).x, 9630);
}

TEST(TrackingDecode, PointsOutsideTheSensorNeverReachASlot)
{
    TrackingPath tp = makePath(1);
    cycle1(tp, {{uint16_t(-31), 100}, {20000, 20000}, {1000, 3031}});
    EXPECT_EQ(activeSlots(tp), 0);

    cycle1(tp, {{uint16_t(-20), 100}});
    EXPECT_EQ(tp.contacts().slot[0].presence, Presence::Present);
    EXPECT_EQ(tp.contacts().slot[0].x, 0);
}

TEST(TrackingDecode, MalformedPacketsAreDropped)
{
    TrackingPath tp = makePath(1);
    uint8_t buf[512] = {};
    EXPECT_EQ(tp.addReport(buf, 7, 0), Result::Dropped);
    EXPECT_EQ(tp.addReport(buf, 510, 0), Result::Dropped);  // a multiple of 6, but more than a packet holds
    EXPECT_EQ(tp.addReport(buf, -6, 0), Result::Dropped);
    EXPECT_EQ(tp.addReport(nullptr, 6, 0), Result::Dropped);
    EXPECT_EQ(tp.addReport(buf, 6, 2), Result::Dropped);
    EXPECT_EQ(tp.addReport(buf, 6, -1), Result::Dropped);
    EXPECT_EQ(tp.pointCount(), 0);

    // A dropped packet does not count as the module's report.
    TrackingPath two = makePath(2);
    EXPECT_EQ(two.addReport(buf, 0, 0), Result::Collecting);
    EXPECT_EQ(two.addReport(buf, 7, 1), Result::Dropped);
    EXPECT_EQ(two.addReport(buf, 0, 1), Result::CycleDone);
}

TEST(TrackingDecode, AFullPayloadKeepsNinePoints)
{
    TrackingPath tp = makePath(1);
    std::vector<Rec> recs;
    for (int i = 0; i < 84; ++i)  // 504 bytes
        recs.push_back({100 + 50 * (i % 90), 1000, 10});
    const auto bytes = payload(recs);
    ASSERT_EQ(bytes.size(), 504u);
    EXPECT_EQ(tp.addReport(bytes.data(), int(bytes.size()), 0), Result::CycleDone);
    EXPECT_EQ(tp.pointCount(), 9);
}

TEST(TrackingCycle, WaitsForEveryConnectedModule)
{
    TrackingPath one = makePath(1);
    EXPECT_EQ(feed(one, 0, {}), Result::CycleDone);
    one.endCycle();

    TrackingPath two = makePath(2);
    EXPECT_EQ(feed(two, 0, {{1000, 1000}}), Result::Collecting);
    // Module 0 again before module 1 closed the cycle: its newer report replaces
    // the older one (one pen, one contact), and the cycle still waits for module 1.
    EXPECT_EQ(feed(two, 0, {{1100, 1000}, {3000, 2000}}), Result::Collecting);
    EXPECT_EQ(two.pointCount(), 2);
    EXPECT_EQ(feed(two, 0, {{1150, 1000}}), Result::Collecting);
    EXPECT_EQ(two.pointCount(), 1);
    EXPECT_EQ(feed(two, 1, {{200, 500}}), Result::CycleDone);
    EXPECT_EQ(activeSlots(two), 2);
    EXPECT_EQ(two.point(0).x, 1150);
    EXPECT_EQ(two.point(1).x, 5000);
    two.endCycle();
    EXPECT_EQ(two.pointCount(), 0);
    // Module 1 alone never completes a cycle.
    EXPECT_EQ(feed(two, 1, {{100, 100}}), Result::Collecting);
    EXPECT_EQ(feed(two, 1, {{100, 100}}), Result::Collecting);
}

TEST(TrackingCycle, ACycleWithoutPointsReleasesEverything)
{
    TrackingPath tp = makePath(1);
    cycle1(tp, {{1000, 1000}, {3000, 2000}});
    EXPECT_EQ(activeSlots(tp), 2);
    cycle1(tp, {});
    EXPECT_EQ(activeSlots(tp), 0);
    for (const TrackedContact &s : tp.contacts().slot) {
        EXPECT_EQ(s.x, 0);
        EXPECT_EQ(s.y, 0);
    }
    // The matching memory is gone too: a point where a contact was is new.
    cycle1(tp, {{3000, 2000}});
    EXPECT_EQ(tp.contacts().slot[0].presence, Presence::Present);
    EXPECT_EQ(tp.contacts().slot[0].x, 3000);
}

TEST(TrackingCycle, TenFingersGiveNineContacts)
{
    TrackingPath tp = makePath(1);
    std::vector<Rec> recs;
    for (int i = 0; i < 10; ++i)
        recs.push_back({300 + 450 * i, 1500, 10});
    const auto bytes = payload(recs);
    ASSERT_EQ(tp.addReport(bytes.data(), int(bytes.size()), 0), Result::CycleDone);
    EXPECT_EQ(activeSlots(tp), 9);
    EXPECT_EQ(tp.contacts().slot[9].presence, Presence::None);
    EXPECT_EQ(tp.contacts().slot[8].x, 300 + 450 * 8);
}

TEST(TrackingMatch, ContactDistanceIsBelow240)
{
    TrackingPath tp = makePath(1);
    cycle1(tp, {{1000, 1000}});
    cycle1(tp, {{1239, 1000}});
    EXPECT_EQ(tp.contacts().slot[0].presence, Presence::Present);  // moved: same contact
    EXPECT_EQ(tp.contacts().slot[0].x, 1239);

    // A jump of 240 ends the contact; the new one starts in the freed slot.
    cycle1(tp, {{1479, 1000}});
    EXPECT_EQ(tp.contacts().slot[0].presence, Presence::Replaced);
    EXPECT_EQ(tp.contacts().slot[0].x, 1479);

    // Diagonal: 169,169 is 239.0 apart (moved), 170,170 is 240.4 (replaced).
    cycle1(tp, {{1479 + 169, 1000 + 169}});
    EXPECT_EQ(tp.contacts().slot[0].presence, Presence::Present);
    cycle1(tp, {{1648 + 170, 1169 + 170}});
    EXPECT_EQ(tp.contacts().slot[0].presence, Presence::Replaced);
}

TEST(TrackingMatch, NearestPairsFirstAndNewContactsInTheLowestFreeSlot)
{
    TrackingPath tp = makePath(1);
    cycle1(tp, {{1000, 1000}, {2000, 1000}});
    ASSERT_EQ(tp.contacts().slot[0].x, 1000);
    ASSERT_EQ(tp.contacts().slot[1].x, 2000);
    // Reported in the other order, each contact keeps its slot; the finger at
    // 1000 lifts, a new one at 4000 comes: slot 0 is replaced.
    cycle1(tp, {{4000, 1000}, {2010, 1000}});
    EXPECT_EQ(tp.contacts().slot[1].presence, Presence::Present);
    EXPECT_EQ(tp.contacts().slot[1].x, 2010);
    EXPECT_EQ(tp.contacts().slot[0].presence, Presence::Replaced);
    EXPECT_EQ(tp.contacts().slot[0].x, 4000);
    // The slot 1 contact lifts: its slot is released, slot 0 moves on.
    cycle1(tp, {{4100, 1000}});
    EXPECT_EQ(tp.contacts().slot[0].presence, Presence::Present);
    EXPECT_EQ(tp.contacts().slot[1].presence, Presence::None);
    // A new contact after a release in an earlier cycle is plain new (1).
    cycle1(tp, {{4100, 1000}, {500, 2500}});
    EXPECT_EQ(tp.contacts().slot[1].presence, Presence::Present);
    EXPECT_EQ(tp.contacts().slot[1].x, 500);
}

TEST(TrackingMerge, SeamBlendOfTheTwoModules)
{
    // 4700 from module 0 and 4900 from module 1: u = v = 0.708, x 4800.
    TrackingPath tp = makePath(2);
    EXPECT_EQ(feed(tp, 0, {{4700, 1100, 10}}), Result::Collecting);
    EXPECT_EQ(feed(tp, 1, {{100, 1000, 30}}), Result::CycleDone);
    EXPECT_EQ(activeSlots(tp), 1);
    EXPECT_EQ(tp.contacts().slot[0].x, 4800);
    EXPECT_EQ(tp.contacts().slot[0].y, 1050);
    ASSERT_EQ(tp.pointCount(), 1);
    EXPECT_EQ(tp.point(0).weight, 20);
    EXPECT_EQ(tp.point(0).module, 1);
    tp.endCycle();

    // Near module 1's side of the band module 1 counts more:
    // x0 4600, x1 4839: u = 0.581, v = 0.917 -> (4839u + 4600v) / 1.498 = 4692.7.
    EXPECT_EQ(feed(tp, 1, {{39, 1000}}), Result::Collecting);
    EXPECT_EQ(feed(tp, 0, {{4600, 1000}}), Result::CycleDone);
    ASSERT_EQ(tp.pointCount(), 1);
    EXPECT_EQ(tp.point(0).x, 4693);
    EXPECT_EQ(tp.point(0).module, 0);
}

TEST(TrackingMerge, TwoHundredThirtyNineApartMergeTwoHundredFortyDoNot)
{
    // In the band, same y.
    TrackingPath tp = makePath(2);
    feed(tp, 0, {{4600, 1000}});
    EXPECT_EQ(feed(tp, 1, {{4839 - 4800, 1000}}), Result::CycleDone);
    EXPECT_EQ(tp.pointCount(), 1);
    tp.endCycle();

    feed(tp, 0, {{4600, 1000}});
    EXPECT_EQ(feed(tp, 1, {{4840 - 4800, 1000}}), Result::CycleDone);
    EXPECT_EQ(tp.pointCount(), 2);
    tp.endCycle();
}

TEST(TrackingMerge, OutsideTheBandTheModuleOfThatSideWins)
{
    // Both left of 4800, one of them outside the band: module 0's stays, and
    // module 1's point (on module 0's side) is gone.
    TrackingPath tp = makePath(2);
    feed(tp, 0, {{4400, 1000, 10}});
    feed(tp, 1, {{uint16_t(4500 - 4800), 1100, 90}});
    ASSERT_EQ(tp.pointCount(), 1);
    EXPECT_EQ(tp.point(0).x, 4400);
    EXPECT_EQ(tp.point(0).y, 1000);
    tp.endCycle();

    // Both right of 4800: module 1's stays.
    feed(tp, 0, {{5100, 1000, 90}});
    feed(tp, 1, {{5150 - 4800, 900, 10}});
    ASSERT_EQ(tp.pointCount(), 1);
    EXPECT_EQ(tp.point(0).x, 5150);
    EXPECT_EQ(tp.point(0).y, 900);
    tp.endCycle();

    // Points of one module are never merged with each other.
    feed(tp, 0, {{1000, 1000}, {1100, 1000}});
    feed(tp, 1, {});
    EXPECT_EQ(tp.pointCount(), 2);
    tp.endCycle();

    // A module-0 point on module 1's side that nothing merged is dropped.
    feed(tp, 0, {{6000, 1000}});
    feed(tp, 1, {{2000, 1000}});
    ASSERT_EQ(tp.pointCount(), 1);
    EXPECT_EQ(tp.point(0).x, 6800);
    tp.endCycle();
}

TEST(TrackingMerge, WeightedMeanNeverDividesByZero)
{
    EXPECT_EQ(TrackingPath::weightedMean(4700, 10, 4900, 30), 4850);
    EXPECT_EQ(TrackingPath::weightedMean(4700, 0, 4900, 0), 4800);
    // Weights that cancel, and extreme values without overflow.
    EXPECT_EQ(TrackingPath::weightedMean(4700, 5, 4900, -5), 4800);
    EXPECT_EQ(TrackingPath::weightedMean(65535, 32767, 65535, 32767), 65535);
}

TEST(TrackingReset, EmptiesSlotsAndSizesTheSensorForTheModules)
{
    TrackingPath tp = makePath(1);
    EXPECT_EQ(tp.mergedSensor(), QRect(0, 0, 4800, 3000));
    cycle1(tp, {{1000, 1000}});
    feed(tp, 0, {});  // leaves a reported flag behind
    tp.setNumModules(2);
    EXPECT_EQ(tp.mergedSensor().right(), 4799);  // only at the reset
    tp.reset(1);
    EXPECT_EQ(tp.mergedSensor().right(), 9599);
    EXPECT_EQ(tp.mergedSensor().bottom(), 2999);
    // (What the injector kept for the slots goes with them: InjectorFixture.
    // MouseTouchShorterThanThreeReportsIsNoInput.)
    for (const TrackedContact &s : tp.contacts().slot)
        EXPECT_EQ(s.presence, Presence::None);
    // The reported flags are clear: module 0 alone does not complete.
    EXPECT_EQ(feed(tp, 0, {}), Result::Collecting);
}

TEST(DisplayMapping, SensorHalvesMapToTheirRectangles)
{
    DisplayMap map;
    map.rect[0] = QRect(0, 0, 1920, 1080);
    map.rect[1] = QRect(1920, -100, 1280, 1024);
    EXPECT_EQ(map.toScreen(0, 0), QPoint(0, 0));
    EXPECT_EQ(map.toScreen(2400, 1500), QPoint(960, 540));
    // The last sensor column and row stay on their display (1920 * 4799 / 4800
    // = 1919.6 would round to 1920, the first column of the next monitor or
    // of none).
    EXPECT_EQ(map.toScreen(4799, 2999), QPoint(1919, 1079));
    EXPECT_EQ(map.toScreen(4800, 0), QPoint(1920, -100));
    EXPECT_EQ(map.toScreen(7200, 1500), QPoint(1920 + 640, -100 + 512));
    EXPECT_EQ(map.toScreen(9599, 2999), QPoint(1920 + 1279, -100 + 1023));
}

TEST(DisplayMapping, RectangleSelection)
{
    tltest::ScreenLayout layout({QRect(0, 0, 1920, 1080), QRect(-1280, 0, 1280, 1024), QRect(1920, 0, 1600, 900)});
    const DisplayMap two = tl::input::selectDisplayRects(2, 0);
    EXPECT_EQ(two.rect[0], QRect(-1280, 0, 1280, 1024));
    EXPECT_EQ(two.rect[1], QRect(0, 0, 1920, 1080));

    const DisplayMap one = tl::input::selectDisplayRects(1, 2);
    EXPECT_EQ(one.rect[0], QRect(1920, 0, 1600, 900));
    EXPECT_TRUE(one.rect[1].isNull());
    // An index out of range picks the monitor at (0, 0).
    EXPECT_EQ(tl::input::selectDisplayRects(1, 7).rect[0], QRect(0, 0, 1920, 1080));
    EXPECT_EQ(tl::input::selectDisplayRects(1, -1).rect[0], QRect(0, 0, 1920, 1080));
}
