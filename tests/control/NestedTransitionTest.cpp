#include "ControllerFixture.h"
#include "ContactCount.h"
#include "tests/support/DriverSpin.h"

#include "calibration/CalibDlg.h"
#include "calibration/WaitDlg.h"
#include "control/nqmaincontrol.h"
#include "device/codec/Commands.h"
#include "input/InputInjection.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "platform/fake/CountingBackend.h"
#include "sim/EmulatedBus.h"

#include <QApplication>
#include <QAbstractButton>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

using tl::sim::ModuleVariant;
using tl::test::spinUntil;

namespace {

// The calibration window's first show turns the event loop (it waits until the
// window is painted and presented). Whatever happens in that time (the user's
// Escape, a suspend) decides where the system goes; the run that was opening
// the window does not go on under it: no module is put into a calibration
// mode, no receive loop starts for it, and a pen on the board puts no contact
// down that nothing lifts.
class NestedTransitionTest : public ControllerFixture
{
protected:
    NestedTransitionTest() : ControllerFixture(20) {}

    void SetUp() override
    {
        ControllerFixture::SetUp();
        module = bus.plug(ModuleVariant::calibrated("TLM-NEST"));
        // A pen that never lifts.
        module->setPenScript([](uint64_t) { return std::vector<tl::sim::TrackPoint>{{2400, 1500, 100}}; });
        settings = std::make_unique<ConfigFileRW>();
        auto backend = std::make_unique<tl::CountingBackend>();
        counter = backend.get();
        control = std::make_unique<nqmaincontrol>(settings.get(), &language, &bus, &window, nullptr,
                                                  std::make_unique<tl::input::InputInjection>(std::move(backend)));
        control->systemStateChange(esysCONNECTION_START, -1);
        ASSERT_EQ(control->threadState(), etaTRACKING);
        ASSERT_TRUE(spinUntil([this] { return downNow() == 1; }, 10000));
    }

    // Runs `what` once, from the event loop, the first time the calibration
    // window is visible while a transition of the controller is under way.
    void onceTheWindowOpens(std::function<void()> what)
    {
        m_what = std::move(what);
        m_fired = false;
        m_watch.setInterval(0);
        QObject::connect(&m_watch, &QTimer::timeout, [this] {
            if (m_fired || !control->inTransition() || !control->calibDialog()->isVisible())
                return;
            m_fired = true;
            m_watch.stop();
            m_what();
        });
        m_watch.start();
    }

    // Starts an automatic or a manual run with `what` armed for its window's show.
    void startRunAndOnceItsWindowOpens(bool bAuto, std::function<void()> what)
    {
        module->clearReceived();
        onceTheWindowOpens(std::move(what));
        if (bAuto)
            control->startAutoCalibration();
        else
            control->startManualCalibration();
    }

    void pressEscape()
    {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(control->calibDialog(), &key);
    }

    int downNow() const { return contactsDown(*counter); }

    std::shared_ptr<tl::sim::EmulatedModule> module;
    tl::CountingBackend *counter = nullptr;
    QTimer m_watch;
    std::function<void()> m_what;
    bool m_fired = false;
};

TEST_F(NestedTransitionTest, EscapeWhileTheWindowOpensEndsTheRunInTracking)
{
    for (const bool bAuto : {false, true}) {
        SCOPED_TRACE(bAuto ? "auto" : "manual");
        startRunAndOnceItsWindowOpens(bAuto, [this] { pressEscape(); });
        ASSERT_TRUE(m_fired);
        settle();
        EXPECT_EQ(control->threadState(), etaTRACKING);
        EXPECT_EQ(control->calState(), 0);
        EXPECT_FALSE(control->calibDialog()->isVisible());
        EXPECT_FALSE(module->manualMode());
        EXPECT_TRUE(module->tracking());
        EXPECT_EQ(module->receivedCount(tl::codec::CMD_MC_START), 0);
        EXPECT_EQ(module->receivedCount(tl::codec::CMD_AC_BLACK_START), 0);
        // What ends tracking now lifts the pen.
        control->systemStateChange(esysCHANGE_TO_SLEEP, -1);
        EXPECT_EQ(downNow(), 0);
        control->systemStateChange(esysCHANGE_WAKE_UP, -1);
        ASSERT_EQ(control->threadState(), etaTRACKING);
        ASSERT_TRUE(spinUntil([this] { return downNow() == 1; }, 10000));
    }
}

TEST_F(NestedTransitionTest, SuspendWhileTheWindowOpensLeavesTheModulesStopped)
{
    for (const bool bAuto : {false, true}) {
        SCOPED_TRACE(bAuto ? "auto" : "manual");
        startRunAndOnceItsWindowOpens(bAuto, [this] { control->systemStateChange(esysCHANGE_TO_SLEEP, -1); });
        ASSERT_TRUE(m_fired);
        settle();
        EXPECT_EQ(control->threadState(), etaNULL);
        EXPECT_EQ(control->calState(), 0);
        EXPECT_FALSE(control->calibDialog()->isVisible());
        EXPECT_FALSE(module->manualMode());
        EXPECT_EQ(module->receivedCount(tl::codec::CMD_MC_START), 0);
        EXPECT_EQ(module->receivedCount(tl::codec::CMD_AC_BLACK_START), 0);
        EXPECT_EQ(downNow(), 0);
        // The wake that follows goes back to tracking.
        control->systemStateChange(esysCHANGE_WAKE_UP, -1);
        ASSERT_EQ(control->threadState(), etaTRACKING);
        ASSERT_TRUE(spinUntil([this] { return downNow() == 1; }, 10000));
    }
}

// The return to tracking shows the wait cover first, and its show turns the
// event loop too: a suspend handled meanwhile leaves the modules stopped, and
// the cover goes with the transition.
TEST_F(NestedTransitionTest, SuspendWhileTheWaitCoverOpensLeavesTheModulesStopped)
{
    bool fired = false;
    QTimer watch;
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (fired || !control->inTransition() || !control->waitDialog()->isVisible())
            return;
        fired = true;
        control->systemStateChange(esysCHANGE_TO_SLEEP, -1);
    });
    watch.start();
    // The mode switch goes back to tracking through the cover.
    control->setPenTouchMode(1);
    watch.stop();
    ASSERT_TRUE(fired);
    settle();
    EXPECT_EQ(control->threadState(), etaNULL);
    EXPECT_FALSE(module->tracking());
    EXPECT_FALSE(control->waitDialog()->isVisible());
    EXPECT_EQ(downNow(), 0);
    control->systemStateChange(esysCHANGE_WAKE_UP, -1);
    EXPECT_EQ(control->threadState(), etaTRACKING);
    EXPECT_TRUE(module->tracking());
    EXPECT_EQ(module->fingerTouchMode(), 1);
}

// Two modules on displays that are not side by side: the connection asks the
// user to check the monitors in a box and goes on once it is answered. A
// suspend while the box is open stops the modules; the answer that follows
// does not start tracking under the sleep.
class NestedInTheMonitorBoxTest : public ControllerFixture
{
protected:
    NestedInTheMonitorBoxTest() : ControllerFixture(20) {}
};

TEST_F(NestedInTheMonitorBoxTest, SuspendWhileTheBoxIsOpenLeavesTheModulesStopped)
{
    tl::FixedScreens::install({{QRect(0, 0, 1920, 1080), 96}, {QRect(1920, 10, 1920, 1080), 96}});
    auto first = bus.plug(ModuleVariant::calibrated("TLM-BOX0"));
    auto second = bus.plug(ModuleVariant::calibrated("TLM-BOX1"));
    settings = std::make_unique<ConfigFileRW>();
    auto backend = std::make_unique<tl::CountingBackend>();
    control = std::make_unique<nqmaincontrol>(settings.get(), &language, &bus, &window, nullptr,
                                              std::make_unique<tl::input::InputInjection>(std::move(backend)));
    bool suspended = false;
    QTimer watch;
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (!suspended) {
            suspended = true;
            control->systemStateChange(esysCHANGE_TO_SLEEP, -1);
            return;
        }
        box->buttons().front()->click();
    });
    watch.start();
    control->systemStateChange(esysCONNECTION_START, -1);
    watch.stop();
    ASSERT_TRUE(suspended);
    settle();
    EXPECT_EQ(control->threadState(), etaNULL);
    EXPECT_FALSE(first->tracking());
    EXPECT_FALSE(second->tracking());
    EXPECT_FALSE(control->waitDialog()->isVisible());
}

} // namespace
