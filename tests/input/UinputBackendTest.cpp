// The uinput backends without a kernel uinput: the device set-up they would
// hand to uinput, and the exact event frames they write.
#include "platform/linux/InjectionFactory.h"
#include "platform/linux/UinputMouseBackend.h"
#include "platform/linux/UinputTouchBackend.h"

#include "InputTestSupport.h"

#include <libevdev/libevdev.h>

#include <QTemporaryDir>
#include <QFile>
#include <gtest/gtest.h>

using tl::TouchRecord;
using tl::UinputMouseBackend;
using tl::UinputTouchBackend;
using tltest::Event;
using tltest::RecordingSink;

namespace {

tl::TouchDeviceGeometry desktop()
{
    // A monitor left of the primary: the desktop starts at x = -1280.
    return {QRect(-1280, 0, 1280 + 1920, 1080), 3.78};
}

std::vector<TouchRecord> hover10()
{
    std::vector<TouchRecord> r(10);
    for (int i = 0; i < 10; ++i) {
        r[i].pointerId = i;
        r[i].flags = tl::kTouchFlagsHover;
    }
    return r;
}

} // namespace

TEST(UinputTouch, DeviceIsADirectTenSlotTouchscreen)
{
    const tl::EvdevDescription dev = UinputTouchBackend::describe(desktop());
    ASSERT_TRUE(dev);
    EXPECT_TRUE(libevdev_has_property(dev.get(), INPUT_PROP_DIRECT));
    EXPECT_TRUE(libevdev_has_event_code(dev.get(), EV_KEY, BTN_TOUCH));
    EXPECT_FALSE(libevdev_has_event_code(dev.get(), EV_KEY, BTN_LEFT));
    EXPECT_FALSE(libevdev_has_event_code(dev.get(), EV_KEY, BTN_TOOL_PEN));
    for (unsigned code : {ABS_X, ABS_MT_POSITION_X}) {
        const input_absinfo *a = libevdev_get_abs_info(dev.get(), code);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->minimum, 0);
        EXPECT_EQ(a->maximum, 3199);
        EXPECT_EQ(a->resolution, 4);  // 3.78 pixels per mm, rounded
    }
    for (unsigned code : {ABS_Y, ABS_MT_POSITION_Y}) {
        const input_absinfo *a = libevdev_get_abs_info(dev.get(), code);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->maximum, 1079);
        EXPECT_GT(a->resolution, 0);
    }
    EXPECT_EQ(libevdev_get_abs_maximum(dev.get(), ABS_MT_SLOT), 9);
    EXPECT_EQ(libevdev_get_abs_minimum(dev.get(), ABS_MT_SLOT), 0);
    EXPECT_GE(libevdev_get_abs_maximum(dev.get(), ABS_MT_TRACKING_ID), 65535);
}

TEST(UinputTouch, FramesOfDownMoveAndUp)
{
    std::vector<Event> ev;
    UinputTouchBackend backend(std::make_unique<RecordingSink>(&ev), desktop());

    TouchRecord r{0, 100, 200, tl::kTouchFlagsDown};
    ASSERT_TRUE(backend.injectTouch(&r, 1));
    // Desktop x 100 is device x 1380 (the desktop starts at -1280).
    const std::vector<Event> down = {
        {EV_ABS, ABS_MT_SLOT, 0},         {EV_ABS, ABS_MT_TRACKING_ID, 0}, {EV_ABS, ABS_MT_POSITION_X, 1380},
        {EV_ABS, ABS_MT_POSITION_Y, 200}, {EV_KEY, BTN_TOUCH, 1},          {EV_ABS, ABS_X, 1380},
        {EV_ABS, ABS_Y, 200},             {EV_SYN, SYN_REPORT, 0},
    };
    EXPECT_EQ(ev, down);

    ev.clear();
    r = {0, 110, 200, tl::kTouchFlagsMove};
    backend.injectTouch(&r, 1);
    const std::vector<Event> move = {
        {EV_ABS, ABS_MT_POSITION_X, 1390}, {EV_ABS, ABS_X, 1390}, {EV_SYN, SYN_REPORT, 0}};
    EXPECT_EQ(ev, move);

    // Positions outside the desktop are clamped to its edge.
    ev.clear();
    r = {0, -5000, 5000, tl::kTouchFlagsMove};
    backend.injectTouch(&r, 1);
    const std::vector<Event> clamped = {{EV_ABS, ABS_MT_POSITION_X, 0}, {EV_ABS, ABS_MT_POSITION_Y, 1079},
                                        {EV_ABS, ABS_X, 0},              {EV_ABS, ABS_Y, 1079},
                                        {EV_SYN, SYN_REPORT, 0}};
    EXPECT_EQ(ev, clamped);

    ev.clear();
    r = {0, 0, 0, tl::kTouchFlagsUp};
    backend.injectTouch(&r, 1);
    const std::vector<Event> up = {
        {EV_ABS, ABS_MT_TRACKING_ID, -1}, {EV_KEY, BTN_TOUCH, 0}, {EV_SYN, SYN_REPORT, 0}};
    EXPECT_EQ(ev, up);
}

TEST(UinputTouch, TenRecordsAreOneFrameAndIdsNeverRepeat)
{
    std::vector<Event> ev;
    UinputTouchBackend backend(std::make_unique<RecordingSink>(&ev), desktop());
    auto recs = hover10();
    recs[0] = {0, 0, 10, tl::kTouchFlagsDown};
    recs[3] = {3, 500, 20, tl::kTouchFlagsDown};
    backend.injectTouch(recs.data(), 10);
    EXPECT_EQ(tltest::countSyn(ev), 1);
    const std::vector<Event> frame = {
        {EV_ABS, ABS_MT_SLOT, 0},         {EV_ABS, ABS_MT_TRACKING_ID, 0}, {EV_ABS, ABS_MT_POSITION_X, 1280},
        {EV_ABS, ABS_MT_POSITION_Y, 10},  {EV_ABS, ABS_MT_SLOT, 3},        {EV_ABS, ABS_MT_TRACKING_ID, 1},
        {EV_ABS, ABS_MT_POSITION_X, 1780}, {EV_ABS, ABS_MT_POSITION_Y, 20}, {EV_KEY, BTN_TOUCH, 1},
        {EV_ABS, ABS_X, 1280},            {EV_ABS, ABS_Y, 10},             {EV_SYN, SYN_REPORT, 0},
    };
    EXPECT_EQ(ev, frame);

    // Slot 0 lifts: the single-touch axes follow the contact that is left.
    ev.clear();
    recs = hover10();
    recs[0].flags = tl::kTouchFlagsUp;
    recs[3] = {3, 500, 20, tl::kTouchFlagsMove};
    backend.injectTouch(recs.data(), 10);
    const std::vector<Event> lift = {{EV_ABS, ABS_MT_SLOT, 0},
                                     {EV_ABS, ABS_MT_TRACKING_ID, -1},
                                     {EV_ABS, ABS_X, 1780},
                                     {EV_ABS, ABS_Y, 20},
                                     {EV_SYN, SYN_REPORT, 0}};
    EXPECT_EQ(ev, lift);

    // A new contact on slot 0 gets a new id.
    ev.clear();
    recs = hover10();
    recs[0] = {0, 0, 10, tl::kTouchFlagsDown};
    backend.injectTouch(recs.data(), 10);
    ASSERT_GE(ev.size(), 2u);
    EXPECT_EQ(ev[0], (Event{EV_ABS, ABS_MT_TRACKING_ID, 2}));
}

TEST(UinputTouch, UpdatesForContactsThatAreNotDownSayNothing)
{
    std::vector<Event> ev;
    UinputTouchBackend backend(std::make_unique<RecordingSink>(&ev), desktop());
    auto recs = hover10();
    recs[4].flags = tl::kTouchFlagsUp;           // up of a slot that is up
    recs[5] = {5, 10, 10, tl::kTouchFlagsMove};  // in contact, but never went down
    recs[1].pointerId = 42;                      // a pointer id out of range
    backend.injectTouch(recs.data(), 10);
    const std::vector<Event> empty = {{EV_SYN, SYN_REPORT, 0}};
    EXPECT_EQ(ev, empty);
    EXPECT_FALSE(backend.injectTouch(nullptr, 1));
}

TEST(UinputTouch, CreationFailsCleanly)
{
    QString error;
    EXPECT_EQ(UinputTouchBackend::create(QStringLiteral("/nonexistent/uinput"), desktop(), &error), nullptr);
    EXPECT_TRUE(error.contains(QStringLiteral("/nonexistent/uinput"))) << error.toStdString();

    // A node that is not a uinput device refuses the set-up ioctls.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("uinput"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    error.clear();
    EXPECT_EQ(UinputTouchBackend::create(path, desktop(), &error), nullptr);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(UinputMouseBackend::create(path, &error), nullptr);
}

TEST(UinputMouse, DeviceIsAnAbsolutePointerWithTwoButtons)
{
    const tl::EvdevDescription dev = UinputMouseBackend::describe();
    ASSERT_TRUE(dev);
    EXPECT_EQ(libevdev_get_abs_minimum(dev.get(), ABS_X), 0);
    EXPECT_EQ(libevdev_get_abs_maximum(dev.get(), ABS_X), 65535);
    EXPECT_EQ(libevdev_get_abs_maximum(dev.get(), ABS_Y), 65535);
    EXPECT_TRUE(libevdev_has_event_code(dev.get(), EV_KEY, BTN_LEFT));
    EXPECT_TRUE(libevdev_has_event_code(dev.get(), EV_KEY, BTN_RIGHT));
    EXPECT_FALSE(libevdev_has_event_code(dev.get(), EV_KEY, BTN_TOUCH));
    EXPECT_FALSE(libevdev_has_property(dev.get(), INPUT_PROP_DIRECT));
}

TEST(UinputMouse, EveryMouseCodeMapsOneToOne)
{
    std::vector<Event> ev;
    UinputMouseBackend backend(std::make_unique<RecordingSink>(&ev));
    const struct
    {
        quint32 flags;
        std::vector<Event> events;
    } cases[] = {
        {0x8001, {{EV_ABS, ABS_X, 1000}, {EV_ABS, ABS_Y, 2000}, {EV_SYN, SYN_REPORT, 0}}},
        {0x8003, {{EV_ABS, ABS_X, 1000}, {EV_ABS, ABS_Y, 2000}, {EV_KEY, BTN_LEFT, 1}, {EV_SYN, SYN_REPORT, 0}}},
        // Left up carries no move: the position is not used.
        {0x8004, {{EV_KEY, BTN_LEFT, 0}, {EV_SYN, SYN_REPORT, 0}}},
        // A click: down and up in frames of their own.
        {0x8007,
         {{EV_ABS, ABS_X, 1000},
          {EV_ABS, ABS_Y, 2000},
          {EV_KEY, BTN_LEFT, 1},
          {EV_SYN, SYN_REPORT, 0},
          {EV_KEY, BTN_LEFT, 0},
          {EV_SYN, SYN_REPORT, 0}}},
        {0x8019,
         {{EV_ABS, ABS_X, 1000},
          {EV_ABS, ABS_Y, 2000},
          {EV_KEY, BTN_RIGHT, 1},
          {EV_SYN, SYN_REPORT, 0},
          {EV_KEY, BTN_RIGHT, 0},
          {EV_SYN, SYN_REPORT, 0}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.flags);
        ev.clear();
        EXPECT_TRUE(backend.sendMouse(1000, 2000, c.flags));
        EXPECT_EQ(ev, c.events);
    }
    ev.clear();
    backend.sendMouse(70000, -3, 0x8001);
    const std::vector<Event> clamped = {{EV_ABS, ABS_X, 65535}, {EV_ABS, ABS_Y, 0}, {EV_SYN, SYN_REPORT, 0}};
    EXPECT_EQ(ev, clamped);
}

TEST(InjectionFactory, WithoutUinputWaylandGetsNoInjectionAndAMessage)
{
    tl::InjectionSetup setup;
    setup.uinputPath = QStringLiteral("/nonexistent/uinput");
    setup.session = tl::InjectionSetup::Session::Wayland;
    setup.desktop = QRect(0, 0, 1920, 1080);
    const tl::InjectionChoice choice = tl::createInjectionBackend(setup);
    ASSERT_NE(choice.backend, nullptr);
    EXPECT_EQ(choice.backend->kind(), tl::InjectionBackend::Kind::None);
    EXPECT_TRUE(choice.logLine.contains(QStringLiteral("Wayland")));
    EXPECT_TRUE(choice.userMessage.contains(QStringLiteral("/nonexistent/uinput")));
    // The advice follows what the machine shows; a node that is not there is never
    // blamed on a missing rule.
    EXPECT_TRUE(choice.userMessage.contains(QStringLiteral("Touch input is off")));
    EXPECT_FALSE(choice.userMessage.contains(QStringLiteral("udev rule")));
    // The null backend takes the calls and does nothing.
    TouchRecord r;
    EXPECT_FALSE(choice.backend->injectTouch(&r, 1));
    EXPECT_FALSE(choice.backend->sendMouse(0, 0, 0x8001));
}

TEST(InjectionFactory, TheUdevRuleGrantsUinputToTheSeatUser)
{
    QFile rule(QStringLiteral(TL_SOURCE_DIR "/packaging/60-tesselink-uinput.rules"));
    ASSERT_TRUE(rule.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(rule.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("KERNEL==\"uinput\"")));
    EXPECT_TRUE(text.contains(QStringLiteral("TAG+=\"uaccess\"")));
}
