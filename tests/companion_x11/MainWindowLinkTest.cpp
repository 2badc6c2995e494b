#include "tests/support/LogCapture.h"
#include "tests/support/DriverSpin.h"
#include "XClient.h"

#include "app/Corvane.h"
#include "app/CorvaneCompanion.h"
#include "platform/Clock.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "platform/fake/FakeSystemEvents.h"
#include "platform/linux/X11CompanionLink.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "tests/support/PlatformInjection.h"

#include <QCoreApplication>
#include <QDir>
#include <gtest/gtest.h>

using tl::X11CompanionLink;
using tltest::XClient;
using tl::test::spinUntil;

namespace {

const QByteArray kCanvas("TfrmCanvas\0TfrmCanvas\0", 22);
const QByteArray kQtWindow("meridan-pen\0Qt5QWindowIcon\0", 27);

// The main window on a real X server, no module: the companion is played by
// another X client that publishes a client list.
class MainWindowLinkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir(ConfigFileRW::settingsFolder()).removeRecursively();
        tl::FixedScreens::install({{QRect(0, 0, 1280, 800), 96}});
        runningApp = x.atom(X11CompanionLink::kRunningAppAtom);
        intelApp = x.atom(X11CompanionLink::kIntelAppAtom);
    }
    void TearDown() override
    {
        window.reset();
        x.clearClientList();
        tl::FixedScreens::uninstall();
    }

    void start()
    {
        window = std::make_unique<Corvane>(Corvane::Platform{&events, &bus, {}, &tl::test::platformInjection()});
        window->initialStart();
        QCoreApplication::processEvents();
    }
    xcb_window_t driverWindow() const { return xcb_window_t(window->winId()); }
    nqmaincontrol *control() const { return window->control(); }

    // Sends `d` to the driver, then a marker (intel-app with flag `marker`)
    // and waits until the marker arrived: everything before it was handled.
    void sendAndSettle(xcb_atom_t type, quint8 format, quint32 d0, quint32 d1, quint32 d2, bool marker)
    {
        x.send(driverWindow(), type, format, d0, d1, d2);
        x.send(driverWindow(), intelApp, 32, tl::kIntelAppMessage, 0, marker ? 1 : 0);
        ASSERT_TRUE(spinUntil([&] { return control()->intelMode() == marker; }, 10000));
    }

    XClient x;
    xcb_atom_t runningApp = 0;
    xcb_atom_t intelApp = 0;
    tl::sim::EmulatedBus bus;
    tl::FakeSystemEvents events;
    std::unique_ptr<Corvane> window;
};

} // namespace

TEST_F(MainWindowLinkTest, CompanionRunningAtStartIsAnnouncedAndBecomesTheTarget)
{
    const auto dialog = x.createWindow(kQtWindow, QByteArray("Dialog6601"));
    const auto canvas = x.createWindow(kCanvas, QByteArray("Board"));
    x.setClientList({dialog, canvas});
    tl::test::LogCapture log;
    start();
    ASSERT_NE(window->companion()->link(), nullptr);
    EXPECT_EQ(control()->targetWindow(), canvas);
    EXPECT_FALSE(control()->intelMode());
    EXPECT_TRUE(log.contains(QStringLiteral("Corvane::initialStart() - target = %1").arg(canvas)));

    // The canvas got the running-app message with the driver's window; the
    // dialog got nothing.
    const auto got = x.messages(1, 3000);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].window, canvas);
    EXPECT_EQ(got[0].type, runningApp);
    EXPECT_EQ(got[0].format, 32);
    EXPECT_EQ(got[0].data[0], tl::kRunningAppMessage);
    EXPECT_EQ(got[0].data[1], driverWindow());
    EXPECT_EQ(got[0].data[2], 0u);
}

TEST_F(MainWindowLinkTest, CompanionAnnouncingItselfLaterBecomesTheTarget)
{
    start();
    EXPECT_EQ(control()->targetWindow(), 0u);
    EXPECT_TRUE(x.messages(0, 0).empty());

    // A companion that was not running at start says which window it has.
    const auto pen = x.createWindow(kQtWindow, QByteArray("  Meridan-Pen"));
    x.send(driverWindow(), runningApp, 32, tl::kRunningAppMessage, pen, 1);
    ASSERT_TRUE(spinUntil([&] { return control()->targetWindow() == pen; }, 10000));
    EXPECT_TRUE(control()->intelMode());

    // Window 0 keeps the target and takes the flag.
    x.send(driverWindow(), runningApp, 32, tl::kRunningAppMessage, 0, 0);
    ASSERT_TRUE(spinUntil([&] { return !control()->intelMode(); }, 10000));
    EXPECT_EQ(control()->targetWindow(), pen);

    // The intel-app message carries only the flag.
    const auto other = x.createWindow(kQtWindow, QByteArray("other"));
    x.send(driverWindow(), intelApp, 32, tl::kIntelAppMessage, other, 1);
    ASSERT_TRUE(spinUntil([&] { return control()->intelMode(); }, 10000));
    EXPECT_EQ(control()->targetWindow(), pen);
}

TEST_F(MainWindowLinkTest, UntrustworthyMessagesKeepThePreviousTarget)
{
    start();
    const auto pen = x.createWindow(kQtWindow, QByteArray("  Meridan-Pen"));
    x.send(driverWindow(), runningApp, 32, tl::kRunningAppMessage, pen, 0);
    ASSERT_TRUE(spinUntil([&] { return control()->targetWindow() == pen; }, 10000));
    tl::test::LogCapture log;

    // A window that is gone by the time the message is read.
    const auto gone = x.createWindow(kQtWindow, QByteArray("  Meridan-Pen"));
    x.destroyWindow(gone);
    sendAndSettle(runningApp, 32, tl::kRunningAppMessage, gone, 0, true);
    EXPECT_EQ(control()->targetWindow(), pen);
    EXPECT_TRUE(log.contains(QStringLiteral("names window %1 which does not exist; ignored").arg(gone)));

    // The same data under an atom that is not ours.
    const auto other = x.createWindow(kCanvas, std::nullopt);
    sendAndSettle(x.atom("_SOMEONE_ELSES_MESSAGE"), 32, tl::kRunningAppMessage, other, 0, false);
    EXPECT_EQ(control()->targetWindow(), pen);
    EXPECT_TRUE(log.contains("_SOMEONE_ELSES_MESSAGE\" is not a companion message"));

    // Our atom with 8- or 16-bit data, or a number that is not the atom's.
    sendAndSettle(runningApp, 8, tl::kRunningAppMessage, other, 0, true);
    sendAndSettle(runningApp, 16, tl::kRunningAppMessage, other, 0, false);
    sendAndSettle(runningApp, 32, tl::kIntelAppMessage, other, 0, true);
    sendAndSettle(x.atom(X11CompanionLink::kContactAtom), 32, 0x47E, other, 10, false);
    EXPECT_EQ(control()->targetWindow(), pen);
    EXPECT_TRUE(log.contains("format 8 instead of 32"));
    EXPECT_TRUE(log.contains("format 16 instead of 32"));
    EXPECT_TRUE(log.contains("message number 2025 instead of 2024"));
    EXPECT_TRUE(log.contains("a contact message is for the companion"));

    // A window id beyond what X hands out.
    sendAndSettle(runningApp, 32, tl::kRunningAppMessage, 0xFFFFFFFFu, 0, true);
    EXPECT_EQ(control()->targetWindow(), pen);
}

TEST_F(MainWindowLinkTest, NoCompanionToLaunchForThisBrand)
{
    start();
    tl::test::LogCapture log;
    window->StartScrivo();
    EXPECT_TRUE(log.contains("StartScrivo: no companion application to launch for this brand"));
    EXPECT_EQ(control()->targetWindow(), 0u);
}
