#include "tests/support/LogCapture.h"
#include "tests/support/DriverSpin.h"
#include "XClient.h"

#include "app/Corvane.h"
#include "app/CorvaneCompanion.h"
#include "input/InputInjection.h"
#include "platform/Clock.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "platform/fake/FakeSystemEvents.h"
#include "platform/fake/RecordingBackend.h"
#include "platform/linux/X11GlobalHotKey.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "sim/ModuleVariant.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QX11Info>
#include <gtest/gtest.h>

using tl::test::spinUntil;
using tltest::XClient;

namespace {

// Presses keys the way a user would, through the X server (XTest).
void press(const QString &keys)
{
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}), 0);
}

std::unique_ptr<tl::X11GlobalHotKey> grab(const char *sequence)
{
    return std::make_unique<tl::X11GlobalHotKey>(QX11Info::connection(), QX11Info::appRootWindow(),
                                                 QKeySequence(QString::fromLatin1(sequence)));
}

int touchCalls(const tl::RecordingBackend *backend, int *lifts)
{
    std::lock_guard<std::mutex> lock(tl::input::trackingMutex());
    int n = 0;
    for (const auto &call : backend->calls())
        if (call.type == tl::RecordingBackend::Call::Type::Touch) {
            ++n;
            for (const auto &r : call.records)
                if (r.pointerId == 0 && r.flags == tl::kTouchFlagsUp)
                    ++*lifts;
        }
    return n;
}

} // namespace

TEST(HotKeyTest, ReSensingKeyReachesTheMainWindowWhileTracking)
{
    QDir(ConfigFileRW::settingsFolder()).removeRecursively();
    tl::FixedScreens::install({{QRect(0, 0, 1280, 800), 96}});
    tl::Clock::setCompression(40);
    tl::sim::EmulatedBus bus;
    tl::FakeSystemEvents events;
    auto module = bus.plug(tl::sim::ModuleVariant::calibrated("TLM-A"));
    // One pen held still in the middle of the board for the whole test.
    module->setPenScript([](uint64_t) { return std::vector<tl::sim::TrackPoint>{{2400, 1500, 100}}; });
    tl::RecordingBackend *backend = nullptr;
    Corvane::Platform platform{&events, &bus, {}};
    platform.makeInjection = [&] {
        auto b = std::make_unique<tl::RecordingBackend>(tl::InjectionBackend::Kind::Touch);
        backend = b.get();
        return std::make_unique<tl::input::InputInjection>(std::move(b));
    };
    tl::test::LogCapture log;
    auto window = std::make_unique<Corvane>(platform);
    window->initialStart();
    ASSERT_EQ(window->control()->threadState(), etaTRACKING);
    tl::GlobalHotKey *key = window->companion()->hotKey();
    ASSERT_NE(key, nullptr);
    EXPECT_TRUE(key->isRegistered());
    EXPECT_EQ(static_cast<tl::X11GlobalHotKey *>(key)->grabCount(), 4);
    QSignalSpy spy(key, &tl::GlobalHotKey::activated);

    int lifts = 0;
    ASSERT_TRUE(spinUntil([&] { return touchCalls(backend, &lifts) > 5; }, 10000));
    press("ctrl+alt+shift+F12");
    ASSERT_TRUE(spinUntil([&] { return spy.count() == 1; }, 10000));
    EXPECT_TRUE(log.contains("Corvane::shortcutReSensingPressed()"));
    // With Num Lock on the key still counts.
    press("Num_Lock");
    press("ctrl+alt+shift+F12");
    press("Num_Lock");
    ASSERT_TRUE(spinUntil([&] { return spy.count() == 2; }, 10000));
    // Without Shift it is another key.
    press("ctrl+alt+F11");
    press("shift+F12");

    // Tracking went on: still tracking, more injections, the pen never lifted.
    lifts = 0;
    const int before = touchCalls(backend, &lifts);
    ASSERT_TRUE(spinUntil([&] { return touchCalls(backend, &lifts) > before + 5; }, 10000));
    lifts = 0;
    touchCalls(backend, &lifts);
    EXPECT_EQ(lifts, 0);
    EXPECT_EQ(window->control()->threadState(), etaTRACKING);
    EXPECT_EQ(spy.count(), 2);

    window.reset();
    tl::Clock::setCompression(1);
    tl::FixedScreens::uninstall();
}

TEST(HotKeyTest, KeyHeldByAnotherClientIsLoggedNotFatal)
{
    XClient other;
    // The other client holds the plain combination (keycode of F12 in the
    // server's map) before the driver asks.
    auto probe = grab("Ctrl+Alt+Shift+F12");
    ASSERT_EQ(probe->grabCount(), 4);
    probe.reset();

    const quint8 f12 = 96;
    const quint16 mods = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_SHIFT;
    xcb_grab_key(other.conn(), 1, other.root(), mods, f12, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    other.sync();
    {
        tl::test::LogCapture log;
        auto key = grab("Ctrl+Alt+Shift+F12");
        EXPECT_TRUE(log.contains("is held by another client"));
        EXPECT_EQ(key->grabCount(), 3);
        EXPECT_TRUE(key->isRegistered());
    }
    // All four held: nothing grabbed, still no failure.
    for (quint16 extra : {quint16(XCB_MOD_MASK_LOCK), quint16(XCB_MOD_MASK_2),
                          quint16(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2)})
        xcb_grab_key(other.conn(), 1, other.root(), mods | extra, f12, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    other.sync();
    auto key = grab("Ctrl+Alt+Shift+F12");
    EXPECT_EQ(key->grabCount(), 0);
    EXPECT_FALSE(key->isRegistered());
    QSignalSpy spy(key.get(), &tl::GlobalHotKey::activated);
    press("ctrl+alt+shift+F12");
    tl::test::spinFor(200);
    EXPECT_EQ(spy.count(), 0);
}

// The server's keyboard map puts the terminal switch (XF86Switch_VT_12) on
// Ctrl+Alt+F12: the server acts on it and no grab sees the key. With Shift
// added the key type has no level for the combination, F12 stays F12 and
// reaches the grab.
TEST(HotKeyTest, TerminalSwitchBindingLeavesTheShiftedKeyAlone)
{
    auto plain = grab("Ctrl+Alt+F12");
    ASSERT_EQ(plain->grabCount(), 4);
    QSignalSpy plainSpy(plain.get(), &tl::GlobalHotKey::activated);
    press("ctrl+alt+F12");
    spinUntil([&] { return plainSpy.count() > 0; }, 1000);
    RecordProperty("ctrl_alt_f12_reached_grab", plainSpy.count());
    EXPECT_EQ(plainSpy.count(), 0);
    plain.reset();

    auto shifted = grab("Ctrl+Alt+Shift+F12");
    QSignalSpy shiftedSpy(shifted.get(), &tl::GlobalHotKey::activated);
    press("ctrl+alt+shift+F12");
    EXPECT_TRUE(spinUntil([&] { return shiftedSpy.count() == 1; }, 10000));
}
