#include "app/Corvane.h"
#include "app/CorvaneTray.h"
#include "device/CamDevCtrl.h"
#include "platform/Clock.h"
#include "platform/Screens.h"
#include "platform/fake/FakeSystemEvents.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "tests/support/MainWindowFixture.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QSignalSpy>
#include <gtest/gtest.h>

using tl::sim::EmulatedBus;
using tl::sim::ModuleVariant;

namespace {

const QString kInterface2 = "USB\\VID_16D0&PID_0F8C&MI_02\\3-1";

// The main window with the real controller and device layer on emulated modules;
// system events are raised by hand.
class MainWindowTest : public tl::test::MainWindowFixture
{
protected:
    void start()
    {
        makeWindow();
        balloons = std::make_unique<QSignalSpy>(window->tray(), &CorvaneTray::balloonShown);
        window->initialStart();
        settle();
    }

    static QString storedCount()
    {
        QSettings s(ConfigFileRW::configFilePath(), QSettings::IniFormat);
        return s.value("Device/Count").toString();
    }

    std::unique_ptr<QSignalSpy> balloons;
};

TEST_F(MainWindowTest, StartWithoutModuleReportsDisconnected)
{
    start();
    ASSERT_EQ(balloons->size(), 1);
    EXPECT_EQ(balloons->at(0)[1].toString(), "\r\nTesselink is disconnected to PC.");
    EXPECT_FALSE(window->tray()->action(CorvaneTray::ActConfiguration)->isEnabled());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(storedCount(), "0");
}

// Counts the show events a widget receives.
class ShowCounter : public QObject
{
public:
    int shows = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Show)
            ++shows;
        return false;
    }
};

TEST_F(MainWindowTest, MainWindowIsMinimisedAndHiddenWithoutEverBeingShown)
{
    // A window that is shown, even for an instant, is mapped: a window manager
    // puts it on screen or into its task list.
    makeWindow();
    ShowCounter counter;
    window->installEventFilter(&counter);
    window->initialStart();
    settle();
    EXPECT_EQ(counter.shows, 0);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->windowState() & Qt::WindowMinimized);

    // A module that arrives and starts tracking shows it no more.
    bus.plug(ModuleVariant::calibrated("TLM-A"));
    events.raiseDeviceArrival(kInterface2);
    settle();
    ASSERT_TRUE(settleUntil([&] { return window->control()->threadState() == etaTRACKING; }));
    EXPECT_EQ(counter.shows, 0);
    window->removeEventFilter(&counter);
}

TEST_F(MainWindowTest, OnlyModuleInterfacesChangeAnything)
{
    start();
    bus.plug(ModuleVariant::calibrated("TLM-A"));
    // Vendor and product match, but neither claimed interface: ignored.
    events.raiseDeviceArrival("USB\\VID_16D0&PID_0F8C&MI_00\\3-1");
    events.raiseDeviceArrival("USB\\VID_046D&PID_C52B&MI_02\\3-2");
    settle();
    EXPECT_FALSE(window->control()->connectionStatus());
    EXPECT_EQ(balloons->size(), 1);

    // Lower-case spelling is recognised like the upper-case one.
    events.raiseDeviceArrival("usb\\vid_16d0&pid_0f8c&mi_03\\3-1");
    settle();
    EXPECT_TRUE(window->control()->connectionStatus());
    EXPECT_EQ(window->control()->threadState(), etaTRACKING);
    ASSERT_EQ(balloons->size(), 2);
    EXPECT_EQ(balloons->at(1)[1].toString(), "\r\nTesselink is connected to PC.");
    EXPECT_TRUE(window->tray()->action(CorvaneTray::ActConfiguration)->isEnabled());

    // The second interface of the same module changes no count: nothing happens.
    events.raiseDeviceArrival(kInterface2);
    settle();
    EXPECT_EQ(balloons->size(), 2);
}

TEST_F(MainWindowTest, RemovingTheOnlyModuleDisconnects)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-A"));
    start();
    ASSERT_TRUE(window->control()->connectionStatus());
    bus.unplug(module);
    events.raiseDeviceRemoval(kInterface2);
    settle();
    EXPECT_FALSE(window->control()->connectionStatus());
    EXPECT_EQ(window->control()->threadState(), etaNULL);
    ASSERT_EQ(balloons->size(), 2);
    EXPECT_EQ(balloons->at(1)[2].toInt(), int(QSystemTrayIcon::Critical));
    EXPECT_EQ(storedCount(), "0");
    EXPECT_FALSE(window->tray()->action(CorvaneTray::ActAutoCalibration)->isEnabled());
}

TEST_F(MainWindowTest, SuspendIsQuietAndResumeReconnects)
{
    bus.plug(ModuleVariant::calibrated("TLM-A"));
    start();
    ASSERT_EQ(balloons->size(), 1);
    events.raiseSuspend();
    settle();
    EXPECT_EQ(balloons->size(), 1); // no balloon on suspend
    EXPECT_FALSE(window->tray()->action(CorvaneTray::ActConfiguration)->isEnabled());
    EXPECT_EQ(window->control()->threadState(), etaNULL);

    events.raiseResume();
    settle();
    ASSERT_EQ(balloons->size(), 2);
    EXPECT_EQ(balloons->at(1)[2].toInt(), int(QSystemTrayIcon::Information));
    EXPECT_EQ(window->control()->threadState(), etaTRACKING);
}

TEST_F(MainWindowTest, ModeSwitchFromTheTrayRestartsTrackingAndSaves)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-A"));
    start();
    window->tray()->action(CorvaneTray::ActFingerMode)->trigger();
    settle();
    EXPECT_EQ(window->settings()->getPenTouchMode(), 1);
    EXPECT_TRUE(window->tray()->action(CorvaneTray::ActFingerMode)->isChecked());
    EXPECT_EQ(module->fingerTouchMode(), 1);
    QSettings s(ConfigFileRW::configFilePath(), QSettings::IniFormat);
    EXPECT_EQ(s.value("Configuration/Pen_Touch_Mode").toString(), "1");
}

TEST_F(MainWindowTest, SessionEndRunsTheCloseHandling)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-A"));
    start();
    ASSERT_EQ(storedCount(), "1");
    events.raiseSessionEnd();
    EXPECT_EQ(storedCount(), "0");
    EXPECT_EQ(window->control(), nullptr);
    EXPECT_EQ(window->tray(), nullptr);
    // The module was handed back to its own tracking.
    EXPECT_EQ(module->transferMode(), 0);
    EXPECT_TRUE(module->tracking());
}

} // namespace
