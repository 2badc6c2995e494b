#include "ControllerFixture.h"
#include "ContactCount.h"
#include "tests/support/DriverSpin.h"
#include "tests/support/LogCapture.h"

#include "control/nqmaincontrol.h"
#include "device/CamDevCtrl.h"
#include "device/codec/Commands.h"
#include "device/codec/Image.h"
#include "device/codec/Packet.h"
#include "device/codec/UsbIds.h"
#include "input/InputInjection.h"
#include "platform/Clock.h"
#include "platform/Screens.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"
#include "sim/EmulatedBus.h"

#include <QCoreApplication>
#include <QDir>
#include <QWidget>
#include <gtest/gtest.h>

#include <map>
#include <mutex>

using tl::sim::EmulatedBus;
using tl::sim::ModuleVariant;
using tl::test::spinUntil;

namespace {

// A pen held on the board while tracking: whatever ends tracking (suspend,
// unplug, a mode switch), every contact that went down comes up.
class ContactReleaseTest : public ControllerFixture
{
protected:
    ContactReleaseTest() : ControllerFixture(20) {}

    void startTracking(int modules)
    {
        for (int m = 0; m < modules; ++m) {
            auto module = bus.plug(ModuleVariant::calibrated("TLM-" + std::to_string(m)));
            // Module 0 sees a pen that never lifts; module 1 sees nothing.
            if (m == 0)
                module->setPenScript([](uint64_t) { return std::vector<tl::sim::TrackPoint>{{2400, 1500, 100}}; });
        }
        connectCounting();
        ASSERT_EQ(control->threadState(), etaTRACKING);
        ASSERT_TRUE(spinUntil([this] { return downNow() == 1; }, 10000));
    }

    // The controller on the plugged modules, injecting into the counting backend, connected.
    void connectCounting()
    {
        settings = std::make_unique<ConfigFileRW>();
        auto backend = std::make_unique<tl::CountingBackend>();
        counter = backend.get();
        control = std::make_unique<nqmaincontrol>(settings.get(), &language, &bus, &window, nullptr,
                                                  std::make_unique<tl::input::InputInjection>(std::move(backend)));
        control->systemStateChange(esysCONNECTION_START, -1);
    }

    int downNow() const { return contactsDown(*counter); }

    tl::CountingBackend *counter = nullptr;
};

TEST_F(ContactReleaseTest, SuspendLiftsTheHeldPen)
{
    startTracking(1);
    control->systemStateChange(esysCHANGE_TO_SLEEP, -1);
    EXPECT_EQ(downNow(), 0);
}

TEST_F(ContactReleaseTest, UnplugLiftsTheHeldPen)
{
    startTracking(2);
    bus.unplug(bus.devices().front());
    // The device removal reaches the controller as a changed module count.
    control->systemStateChange(esysDEVICE_FOUND_OR_REMOVE, -1);
    EXPECT_EQ(downNow(), 0);
    EXPECT_EQ(settings->getNumOfCamDevice(), 1);
}

// A module that stays on the bus but stops reporting, or whose endpoint halts,
// or that goes without a removal event following: what it held down comes up
// without the user pulling it out, and tracking goes on when it reports again.
// Everything the module does here is packets (or their absence).
TEST_F(ContactReleaseTest, AModuleThatStopsReportingLetsGoOfThePen)
{
    startTracking(1);
    auto module = bus.devices().front();
    tl::test::LogCapture log;

    // It hangs: reads time out, no report comes.
    tl::sim::FaultPlan hang;
    hang.silent = true;
    module->setFaults(hang);
    EXPECT_TRUE(spinUntil([this] { return downNow() == 0; }, 10000)) << "a silent module holds the pen down";
    EXPECT_EQ(log.count("module 0 has not reported for"), 1);
    // It comes back: the pen it still sees goes down again.
    module->setFaults({});
    EXPECT_TRUE(spinUntil([this] { return downNow() == 1; }, 10000));
    EXPECT_EQ(log.count("module 0 reports again after"), 1);

    // A flood of a thousand reports a second, then a report every two seconds:
    // the pen stays down. The first two-second gap after a fast pace cannot be
    // told from a hang and lifts the pen once; from the next report on the
    // slow pace is the module's cycle and nothing more is lifted.
    tl::sim::FaultPlan pace;
    pace.reportPeriodMs = 1;
    module->setFaults(pace);
    const int64_t sentBefore = module->stats().reportsSent;
    settle(100);
    EXPECT_GT(module->stats().reportsSent - sentBefore, 1000);
    EXPECT_EQ(downNow(), 1);
    pace.reportPeriodMs = 2000;
    module->setFaults(pace);
    EXPECT_TRUE(spinUntil([&] { return log.count("module 0 reports again after") == 2; }, 10000));
    settle(700);   // 14 s: seven reports
    EXPECT_EQ(log.count("module 0 has not reported for"), 2);
    EXPECT_EQ(downNow(), 1);
    module->setFaults({});

    // Its endpoint halts once: cleared, the pen stays where it is.
    tl::sim::FaultPlan halt;
    halt.inHalts = 1;
    module->setFaults(halt);
    EXPECT_TRUE(spinUntil([&] { return module->stats().haltsCleared == 1; }, 10000));
    settle(20);
    EXPECT_EQ(downNow(), 1);
    // It halts at every read however often it is cleared: treated as gone.
    halt.inHalts = 1000;
    module->setFaults(halt);
    EXPECT_TRUE(spinUntil([this] { return downNow() == 0; }, 10000)) << "a halted module holds the pen down";

    // Tracking again; then the module goes and no removal event follows.
    module->setFaults({});
    control->threadStateChange(0, etaTRACKING);
    ASSERT_TRUE(spinUntil([this] { return downNow() == 1; }, 10000));
    bus.unplug(module);
    EXPECT_TRUE(spinUntil([this] { return downNow() == 0; }, 10000)) << "a module gone without an event holds the pen";
}

TEST_F(ContactReleaseTest, ModeSwitchLiftsThenTracksAgain)
{
    startTracking(1);
    control->setPenTouchMode(1);
    EXPECT_EQ(control->threadState(), etaTRACKING);
    // The pen is still there: it comes down again as a new contact.
    EXPECT_TRUE(spinUntil([this] { return downNow() == 1; }, 10000));
}

// A module that sends tracking reports while it calibrates (out of turn, or a
// report still on its way when the mode changed): nothing is injected, so no
// contact goes down that nothing would lift.
TEST_F(ContactReleaseTest, TrackingReportsDuringACalibrationPutNoContactDown)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-0"));
    connectCounting();
    ASSERT_EQ(control->threadState(), etaTRACKING);
    const std::vector<uint8_t> records = tl::codec::encodeTracking({{2400, 1500, 100}});
    // A debug packet behind the reports: the receive loop logs it, so once its
    // line is there the loop has handled every report before it.
    const std::vector<uint8_t> debugValues(24, 0);
    const tl::codec::PacketBuffer marker =
        tl::codec::makePacket(tl::codec::RES_DEBUG, debugValues.data(), static_cast<int>(debugValues.size()));
    tl::test::LogCapture log;
    int markers = 0;
    for (const int state : {int(etaMANUAL_CALIBRATION), int(etaAUTO_CALIBRATION)}) {
        SCOPED_TRACE(state == etaMANUAL_CALIBRATION ? "manual" : "auto");
        control->threadStateChange(0, state);
        ASSERT_EQ(control->threadState(), state);
        for (int i = 0; i < 5; ++i) {
            const tl::codec::PacketBuffer report =
                tl::codec::makePacket(tl::codec::DAT_TC_DUAL_MODE, records.data(), static_cast<int>(records.size()));
            module->injectPacket(tl::codec::kEpIn, std::vector<uint8_t>(report.begin(), report.end()));
            settle(5);
        }
        module->injectPacket(tl::codec::kEpIn, std::vector<uint8_t>(marker.begin(), marker.end()));
        ++markers;
        ASSERT_TRUE(spinUntil([&] { return log.count("RES_DEBUG : ") == markers; }, 10000));
        EXPECT_EQ(downNow(), 0);
    }
}

} // namespace
