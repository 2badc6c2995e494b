// The main window when the desktop or the user acts while the controller is in
// the middle of something: a close (logout, SIGTERM, the tray's Exit) while a
// message box runs inside a transition, a module arriving while the user has
// the wizard open, and the bursts of events one display change brings.

#include "app/Corvane.h"
#include "app/CorvaneTray.h"
#include "platform/Clock.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "tests/support/LogCapture.h"
#include "tests/support/MainWindowFixture.h"
#include "ui/AlignmentDlg.h"
#include "ui/WizardDlg.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPointer>
#include <QSettings>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

using tl::sim::ModuleVariant;
using tl::test::LogCapture;

namespace {

const QString kInterface2 = "USB\\VID_16D0&PID_0F8C&MI_02\\3-1";

QString storedCount()
{
    QSettings s(ConfigFileRW::configFilePath(), QSettings::IniFormat);
    return s.value("Device/Count").toString();
}

// The close handling asks the application to leave its event loop. A test
// has none running, and the request would end the next modal loop at once:
// running the application's loop once takes it.
void takeExitRequest()
{
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

// Runs `close` once a message box of the controller is open, from inside its
// modal loop; remembers the box's text.
class CloseInsideBox
{
public:
    explicit CloseInsideBox(std::function<void()> close)
        : m_close(std::move(close))
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || m_fired)
                return;
            m_fired = true;
            m_text = box->text();
            m_close();
        });
        m_timer.start();
    }
    bool fired() const { return m_fired; }
    QString text() const { return m_text; }

private:
    std::function<void()> m_close;
    QTimer m_timer;
    bool m_fired = false;
    QString m_text;
};

// Two displays that are not side by side: the connect sequence shows
// "Please check monitor resolution and alignment." in a modal box.
class MisalignedWindowTest : public tl::test::MainWindowFixture
{
protected:
    MisalignedWindowTest()
        : MainWindowFixture(40, {{QRect(0, 0, 1920, 1080), 96}, {QRect(1920, 10, 1920, 1080), 96}})
    {
    }
};

TEST_F(MisalignedWindowTest, CloseWhileTheStartUpBoxRunsEndsCleanly)
{
    enum Kind { Logout, TrayExit, CallClose };
    for (Kind kind : {Logout, TrayExit, CallClose}) {
        SCOPED_TRACE(kind);
        auto modules = bus.plugAll({ModuleVariant::calibrated("TLM-L"), ModuleVariant::calibrated("TLM-R")});
        makeWindow();
        QPointer<Corvane> alive(window.get());
        CloseInsideBox closer([this, kind] {
            if (kind == Logout)
                events.raiseSessionEnd();
            else if (kind == TrayExit)
                window->tray()->action(CorvaneTray::ActExit)->trigger();
            else
                window->callClose();
        });
        window->initialStart();
        ASSERT_TRUE(closer.fired());
        EXPECT_EQ(closer.text(), "Please check monitor resolution and alignment.");
        ASSERT_TRUE(settleUntil([&] { return window->control() == nullptr; }, 20000));
        // The close handling ran to its end: modules handed back, count 0 saved.
        EXPECT_EQ(window->tray(), nullptr);
        EXPECT_EQ(storedCount(), "0");
        for (const auto &m : modules) {
            EXPECT_TRUE(m->tracking()) << m->serial();
            EXPECT_EQ(m->transferMode(), 0) << m->serial();
        }
        EXPECT_FALSE(QApplication::activeModalWidget());
        takeExitRequest();
        window.reset();
        for (const auto &m : modules)
            bus.unplug(m);
    }
}

class CloseAndEventsTest : public tl::test::MainWindowFixture
{
};

// Two displays side by side, for two modules.
class TwoDisplayWindowTest : public tl::test::MainWindowFixture
{
protected:
    TwoDisplayWindowTest()
        : MainWindowFixture(40, {{QRect(0, 0, 1920, 1080), 96}, {QRect(1920, 0, 1920, 1080), 96}})
    {
    }
};

TEST_F(CloseAndEventsTest, LogoutWhileTheCalibrationFailedBoxRunsEndsCleanly)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-1"));
    ASSERT_TRUE(startWindow());
    CloseInsideBox closer([this] { events.raiseSessionEnd(); });
    // The module's captures hold no pattern: the run fails and says so in a box,
    // opened from the module's acknowledgement on the GUI thread.
    window->tray()->action(CorvaneTray::ActAutoCalibration)->trigger();
    ASSERT_TRUE(settleUntil([&] { return closer.fired(); }, 60000));
    EXPECT_EQ(closer.text(), "Calibration failed. Please try again.");
    ASSERT_TRUE(settleUntil([&] { return window->control() == nullptr; }, 20000));
    EXPECT_EQ(storedCount(), "0");
    EXPECT_TRUE(module->tracking());
    EXPECT_FALSE(QApplication::activeModalWidget());
    takeExitRequest();
}

TEST_F(TwoDisplayWindowTest, ArrivalOfAModuleLeavesTheUsersWizardOpen)
{
    bus.plug(ModuleVariant::calibrated("TLM-L"));
    ASSERT_TRUE(startWindow());
    window->tray()->action(CorvaneTray::ActConfiguration)->trigger();
    ASSERT_TRUE(window->wizard()->isVisible());

    bus.plug(ModuleVariant::calibrated("TLM-R"));
    events.raiseDeviceArrival(kInterface2);
    settle();
    EXPECT_EQ(window->settings()->getNumOfCamDevice(), 2);
    EXPECT_TRUE(window->wizard()->isVisible());
}

// The set-up wizard of a blank module is open with a choice the user has made
// but not yet applied when a second blank module arrives: the choice stays
// (the arrival used to open the wizard afresh, with the stored values).
TEST_F(TwoDisplayWindowTest, ArrivalKeepsTheChoicesOfTheOpenSetUpWizard)
{
    bus.plug(ModuleVariant::blank("TLM-L"));
    makeWindow();
    window->initialStart();
    settle();
    WizardDlg *wizard = window->wizard();
    ASSERT_TRUE(wizard->isVisible());
    ASSERT_TRUE(wizard->setupMode());
    wizard->findChild<QCheckBox *>("checkRear")->click();
    const bool rear = wizard->pendingRear();
    ASSERT_NE(rear, window->settings()->getCheckRear());

    bus.plug(ModuleVariant::blank("TLM-R"));
    events.raiseDeviceArrival(kInterface2);
    settle();
    EXPECT_EQ(window->settings()->getNumOfCamDevice(), 2);
    EXPECT_TRUE(wizard->isVisible());
    EXPECT_EQ(wizard->pendingRear(), rear);
    EXPECT_EQ(wizard->findChild<QCheckBox *>("checkRear")->isChecked(), rear);
    // Next applies what the user chose.
    wizard->clickNext();
    EXPECT_EQ(wizard->page(), 1);
    EXPECT_EQ(window->settings()->getCheckRear(), rear);
}

// An arrival that leaves the driver without a usable set (a third module is
// no set of two) reports the disconnection, but the wizard the user has open
// stays: only a module that went hides it.
TEST_F(TwoDisplayWindowTest, ArrivalThatDisconnectsLeavesTheWizardOpen)
{
    bus.plugAll({ModuleVariant::calibrated("TLM-L"), ModuleVariant::calibrated("TLM-R")});
    ASSERT_TRUE(startWindow());
    window->tray()->action(CorvaneTray::ActConfiguration)->trigger();
    ASSERT_TRUE(window->wizard()->isVisible());

    auto third = bus.plug(ModuleVariant::calibrated("TLM-3"));
    events.raiseDeviceArrival(kInterface2);
    settle();
    EXPECT_FALSE(window->control()->connectionStatus());
    EXPECT_TRUE(window->wizard()->isVisible());

    // The third one going again leaves the set of two, which is taken up.
    bus.unplug(third);
    events.raiseDeviceRemoval(kInterface2);
    settle();
    EXPECT_TRUE(window->control()->connectionStatus());
    EXPECT_EQ(window->control()->threadState(), etaTRACKING);
    EXPECT_TRUE(window->wizard()->isVisible());
}

// A display change whose settling time ends while another transition of the
// driver runs (a module's arrival, whose wait cover turns the event loop) is
// handled after that transition, not inside it.
TEST_F(TwoDisplayWindowTest, DisplayChangeIsNotHandledInsideAnArrival)
{
    bus.plug(ModuleVariant::calibrated("TLM-L"));
    ASSERT_TRUE(startWindow());
    LogCapture log;
    events.raiseDisplayChange();
    bus.plug(ModuleVariant::calibrated("TLM-R"));
    events.raiseDeviceArrival(kInterface2);   // returns when the arrival is handled
    const QString settled = "Corvane::displayChangeSettled()";
    EXPECT_EQ(log.countLine(settled), 0) << log.lines().join("\n").toStdString();
    settle(50);
    EXPECT_EQ(log.countLine(settled), 1) << log.lines().join("\n").toStdString();
    EXPECT_EQ(window->settings()->getNumOfCamDevice(), 2);
    EXPECT_EQ(window->control()->threadState(), etaTRACKING);
}

// A display change that settles while the alignment view is open is handled
// once the view has closed: the system never starts tracking under the view.
TEST_F(CloseAndEventsTest, DisplayChangeWaitsForTheAlignmentViewToClose)
{
    bus.plug(ModuleVariant::calibrated("TLM-L"));
    ASSERT_TRUE(startWindow());
    LogCapture log;
    events.raiseDisplayChange();
    window->StartAlignmentDisplay();
    settle(50);
    const QString settled = "Corvane::displayChangeSettled()";
    EXPECT_EQ(log.countLine(settled), 0) << log.lines().join("\n").toStdString();
    EXPECT_EQ(window->control()->threadState(), etaDISPLAY);
    EXPECT_TRUE(window->alignmentView()->isVisible());

    window->alignmentView()->hide();
    window->StopAlignmentDisplay(0, false);
    settle(50);
    EXPECT_EQ(log.countLine(settled), 1) << log.lines().join("\n").toStdString();
    EXPECT_EQ(window->control()->threadState(), etaTRACKING);
}

// The alignment view shows what the modules stream: what stops the stream
// from outside the view (going to sleep, waking, the pen or finger entry of
// the tray, which starts tracking in the other mode) closes the view, as a
// module's arrival or removal does; the view never stays over the desktop
// without frames.
TEST_F(CloseAndEventsTest, WhatEndsTheStreamUnderTheAlignmentViewClosesIt)
{
    const std::vector<std::pair<const char *, std::function<void()>>> cases = {
        { "suspend", [this] { events.raiseSuspend(); } },
        { "resume", [this] { events.raiseResume(); } },
        { "finger entry", [this] { window->tray()->action(CorvaneTray::ActFingerMode)->trigger(); } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        const auto module = bus.plug(ModuleVariant::calibrated("TLM-L"));
        ASSERT_TRUE(startWindow());
        window->StartAlignmentDisplay();
        settle(50);
        ASSERT_EQ(window->control()->threadState(), etaDISPLAY);
        ASSERT_TRUE(window->alignmentView()->isVisible());

        c.second();
        settle(50);
        EXPECT_FALSE(window->alignmentView()->isVisible() && window->control()->threadState() != etaDISPLAY)
            << "the view is open in thread state " << int(window->control()->threadState());
        // A later view opens and streams again.
        if (window->control()->threadState() == etaTRACKING) {
            window->StartAlignmentDisplay();
            settle(50);
            EXPECT_EQ(window->control()->threadState(), etaDISPLAY);
            EXPECT_TRUE(window->alignmentView()->isVisible());
        }
        window.reset();
        bus.unplug(module);
        settle();
    }
}

TEST_F(CloseAndEventsTest, OneDisplayChangeOfSeveralEventsIsHandledOnce)
{
    bus.plug(ModuleVariant::calibrated("TLM-L"));
    ASSERT_TRUE(startWindow());
    LogCapture log;
    // A monitor added: screen added, then a geometry change of each screen.
    for (int i = 0; i < 4; ++i)
        events.raiseDisplayChange();
    settle(50);
    const QString handled = "nqmaincontrol::systemStateChange(): esysDISPLAY_CHANGE";
    const int first = log.find(handled);
    ASSERT_GE(first, 0) << log.lines().join("\n").toStdString();
    EXPECT_LT(log.find(handled, first + 1), 0) << log.lines().join("\n").toStdString();

    // A later change is a change of its own.
    events.raiseDisplayChange();
    settle(50);
    EXPECT_GT(log.find(handled, first + 1), first);
}

} // namespace
