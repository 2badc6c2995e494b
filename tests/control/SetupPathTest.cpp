// The set-up path against modules and users that do the unexpected: an
// exchange of modules that hold no calibration, an auto run whose image could
// not be stored, a manual step the module ends without its index, frames that
// come after the alignment view has closed, and two modules whose answers cross
// on their way to the GUI thread.

#include "CalibrationFixture.h"
#include "tests/support/LogCapture.h"

#include "calibration/CalibWorkspace.h"
#include "calibration/WaitDlg.h"
#include "device/CamDevCtrl.h"
#include "device/codec/Commands.h"
#include "device/codec/Packet.h"
#include "device/codec/UsbIds.h"
#include "sim/FaultPlan.h"

#include <QTest>

#include <cstring>
#include <vector>

using namespace tl::codec;
using tl::sim::CommandFault;
using tl::sim::CommandRule;
using tl::sim::EmulatedModule;
using tl::sim::FaultPlan;
using tl::sim::ModuleVariant;
using tl::test::LogCapture;

namespace {

constexpr int kRequestsPerImage = 81;   // CMD_AC_SENDIMG requests of one clean image

// A packet as a module sends it: code, length field, payload.
std::vector<uint8_t> packet(int32_t code, const void *payload, int32_t length)
{
    std::vector<uint8_t> bytes(kPacketSize, 0);
    std::memcpy(bytes.data(), &code, 4);
    std::memcpy(bytes.data() + 4, &length, 4);
    if (payload && length > 0)
        std::memcpy(bytes.data() + 8, payload, static_cast<size_t>(length));
    return bytes;
}

class SetupPathTest : public CalibrationFixture
{
protected:
    void startTwo()
    {
        settings = std::make_unique<ConfigFileRW>(QList<QRect>{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1920, 1080)});
        settings->setLensSelect(0);
        control = std::make_unique<nqmaincontrol>(settings.get(), &language, &bus, &window);
        control->systemStateChange(esysCONNECTION_START, -1);
        QCoreApplication::processEvents();
    }
    static void wait(int ms) { settleUntil([] { return false; }, ms / 20); }
};

// ---- exchange of modules ----------------------------------------------------------

TEST_F(SetupPathTest, ExchangeOfModulesWithoutCalibrationLeavesNoWaitCover)
{
    bus.plugAll({ModuleVariant::blank("TLM-L"), ModuleVariant::blank("TLM-R")});
    startTwo();
    ASSERT_TRUE(control->connectionStatus());
    ASSERT_TRUE(control->wizardPending());
    control->NotifyWait(false);
    control->systemStateChange(esysUSER_ALIGNMENT_VIEW, 0);
    ASSERT_EQ(control->threadState(), etaDISPLAY);

    // "Exchange Camera": the records change places, the modules are reopened,
    // and nothing can track.
    settings->swapDevices();
    control->swapAndReopen();
    control->resumeAfterAlignment();
    settle();
    EXPECT_NE(control->threadState(), etaTRACKING);
    EXPECT_FALSE(control->waitDialog()->isVisible());
    EXPECT_EQ(settings->getDeviceSerial(0), "TLM-R");
}

TEST_F(SetupPathTest, ExchangeOfCalibratedModulesTracksAndHidesTheCover)
{
    bus.plugAll({ModuleVariant::calibrated("TLM-L"), ModuleVariant::calibrated("TLM-R")});
    startTwo();
    ASSERT_EQ(control->threadState(), etaTRACKING);
    control->systemStateChange(esysUSER_ALIGNMENT_VIEW, 0);
    settings->swapDevices();
    control->swapAndReopen();
    control->resumeAfterAlignment();
    settle();
    EXPECT_EQ(control->threadState(), etaTRACKING);
    EXPECT_FALSE(control->waitDialog()->isVisible());
}

} // namespace
