#include "ControllerFixture.h"
#include "ContactCount.h"
#include "tests/support/WaitFor.h"

#include "calibration/CalibDlg.h"
#include "control/nqmaincontrol.h"
#include "device/codec/Commands.h"
#include "input/InputInjection.h"
#include "platform/fake/RecordingBackend.h"
#include "sim/EmulatedBus.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

using tl::sim::ModuleVariant;
using tl::test::waitFor;

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
        auto backend = std::make_unique<tl::RecordingBackend>(tl::InjectionBackend::Kind::Touch);
        recorder = backend.get();
        control = std::make_unique<nqmaincontrol>(settings.get(), &language, &bus, &window, nullptr,
                                                  std::make_unique<tl::input::InputInjection>(std::move(backend)));
        control->systemStateChange(esysCONNECTION_START, -1);
        ASSERT_EQ(control->threadState(), etaTRACKING);
        ASSERT_TRUE(waitFor([this] { return downNow() == 1; }));
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

    void pressEscape()
    {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(control->calibDialog(), &key);
    }

    int downNow() const { return contactsDown(*recorder); }

    std::shared_ptr<tl::sim::EmulatedModule> module;
    tl::RecordingBackend *recorder = nullptr;
    QTimer m_watch;
    std::function<void()> m_what;
    bool m_fired = false;
};

TEST_F(NestedTransitionTest, EscapeWhileTheWindowOpensEndsTheRunInTracking)
{
    for (const bool bAuto : {false, true}) {
        SCOPED_TRACE(bAuto ? "auto" : "manual");
        module->clearReceived();
        onceTheWindowOpens([this] { pressEscape(); });
        if (bAuto)
            control->startAutoCalibration();
        else
            control->startManualCalibration();
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
        ASSERT_TRUE(waitFor([this] { return downNow() == 1; }));
    }
}

TEST_F(NestedTransitionTest, SuspendWhileTheWindowOpensLeavesTheModulesStopped)
{
    for (const bool bAuto : {false, true}) {
        SCOPED_TRACE(bAuto ? "auto" : "manual");
        module->clearReceived();
        onceTheWindowOpens([this] { control->systemStateChange(esysCHANGE_TO_SLEEP, -1); });
        if (bAuto)
            control->startAutoCalibration();
        else
            control->startManualCalibration();
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
        ASSERT_TRUE(waitFor([this] { return downNow() == 1; }));
    }
}

} // namespace
