// Calibration runs against modules that misbehave: answers that never come,
// come twice or come unasked, a point list of the wrong length, and modules
// pulled out in the middle. The run waits for what it needs, ignores what it
// did not ask for, always ends on Escape, and a module keeps its parameters
// unless a fit succeeded.

#include "CalibrationFixture.h"
#include "ContactCount.h"
#include "tests/support/LogCapture.h"

#include "device/CamDevCtrl.h"
#include "device/codec/Commands.h"
#include "device/codec/Packet.h"
#include "input/InputInjection.h"
#include "sim/FaultPlan.h"

#include <QTest>

#include <map>
#include <mutex>

using namespace tl::codec;
using tl::sim::CommandFault;
using tl::sim::CommandRule;
using tl::sim::EmulatedModule;
using tl::sim::ExtraPacketRule;
using tl::sim::FaultPlan;
using tl::sim::ModuleVariant;
using tl::sim::PacketFault;
using tl::sim::PacketRule;
using tl::test::LogCapture;

namespace {

// CMD_AC_SENDIMG requests of one clean image: groups 0 to 79 and the finishing one.
constexpr int kRequestsPerImage = 81;

class CalibrationBadInputTest : public CalibrationFixture
{
protected:
    // Settings, the controller and a counting injection; one module tracks.
    void startCounting()
    {
        settings = std::make_unique<ConfigFileRW>(QList<QRect>{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1920, 1080)});
        settings->setLensSelect(0);
        auto backend = std::make_unique<tl::CountingBackend>();
        counter = backend.get();
        control = std::make_unique<nqmaincontrol>(settings.get(), &language, &bus, &window, nullptr,
                                                  std::make_unique<tl::input::InputInjection>(std::move(backend)));
        control->systemStateChange(esysCONNECTION_START, -1);
        QCoreApplication::processEvents();
    }

    int downNow() const { return contactsDown(*counter); }

    // Driver time for the module to answer, if it would.
    static void wait(int ms) { settle(ms / 20); }

    bool backInTracking()
    {
        return settleUntil([&] {
            return control->threadState() == etaTRACKING && control->calState() == 0 &&
                   !control->calibDialog()->isVisible();
        });
    }

    // Indices (in arrival order) of the packets of `code` the module received.
    static std::vector<int> positions(const std::vector<tl::sim::ReceivedPacket> &all, int32_t code, int kind = -1)
    {
        std::vector<int> at;
        for (int i = 0; i < static_cast<int>(all.size()); ++i)
            if (all[i].code == code && (kind < 0 || all[i].bytes[8] == kind))
                at.push_back(i);
        return at;
    }

    // One case of a table: a calibrated module plugged, its parameters noted
    // in `eepromBefore`, and the controller started on it; finishCase() closes the
    // controller and pulls the module for the next case.
    std::shared_ptr<EmulatedModule> startCase()
    {
        caseModule = bus.plug(ModuleVariant::calibrated("TLM-1"));
        eepromBefore = caseModule->eeprom();
        start();
        return caseModule;
    }
    void finishCase()
    {
        closeController();
        bus.unplug(caseModule);
        caseModule.reset();
    }

    tl::CountingBackend *counter = nullptr;
    std::shared_ptr<EmulatedModule> caseModule;
    tl::codec::EepromRecord eepromBefore;
};

// ---- answers that never come ------------------------------------------------------

TEST_F(CalibrationBadInputTest, AutoRunWaitsForACaptureNobodyAnswersAndEscapeEndsIt)
{
    struct Case
    {
        const char *what;
        CommandRule rule;
        int waitsIn;
        int32_t nextCommand;   // what would follow the missing answer
    };
    const Case cases[] = {
        {"black capture", {CMD_AC_BLACK_START, 0, 1, CommandFault::Ignore}, 4, CMD_AC_SENDIMG},
        {"image 101", {CMD_AC_SENDIMG, 0, 1, CommandFault::Ignore}, 5, CMD_AC_WHITE_START},
        {"white capture", {CMD_AC_WHITE_START, 0, 1, CommandFault::Ignore}, 6, CMD_AC_SENDIMG},
        {"image 102", {CMD_AC_SENDIMG, kRequestsPerImage, 1, CommandFault::Ignore}, 7, CMD_AC_PATTERN_START},
        {"pattern capture", {CMD_AC_PATTERN_START, 0, 1, CommandFault::Ignore}, 8, CMD_AC_SENDIMG},
        {"image 103", {CMD_AC_SENDIMG, 2 * kRequestsPerImage, 1, CommandFault::Ignore}, 9, CMD_AC_SENDIMG},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const auto module = startCase();
        ASSERT_EQ(control->threadState(), etaTRACKING);
        FaultPlan plan;
        plan.commands.push_back(c.rule);
        module->setFaults(plan);
        BoxAnswerer boxes;
        LogCapture log;
        control->startAutoCalibration();
        ASSERT_TRUE(settleUntil([&] { return control->calState() == c.waitsIn && module->stats().ignored == 1; }));
        const int next = module->receivedCount(c.nextCommand);
        // The run waits: no step follows, the window stays up.
        wait(4000);
        EXPECT_EQ(control->calState(), c.waitsIn);
        EXPECT_EQ(control->threadState(), etaAUTO_CALIBRATION);
        EXPECT_TRUE(control->calibDialog()->isVisible());
        EXPECT_EQ(module->receivedCount(c.nextCommand), next);

        // Escape: the module never brings the next step, the run ends anyway.
        QTest::keyClick(control->calibDialog(), Qt::Key_Escape);
        EXPECT_FALSE(control->calibDialog()->isVisible());
        ASSERT_TRUE(backInTracking());
        EXPECT_TRUE(log.contains("nqmaincontrol::calDlgWorkingDone(): canceled: 0"));
        EXPECT_TRUE(log.contains("no answer from module 0 after the cancel"));
        EXPECT_EQ(log.count("calib_success ="), 0);
        EXPECT_EQ(module->receivedCount(CMD_SET_CALIB_PARAMETER), 0);
        EXPECT_TRUE(module->tracking());
        EXPECT_TRUE(boxes.texts().isEmpty());
        EXPECT_EQ(module->eeprom().tp, eepromBefore.tp);
        finishCase();
    }
}

TEST_F(CalibrationBadInputTest, EscapeInAnAnsweredAutoRunStillEndsAtTheModulesNextStep)
{
    // A module that answers: the cancel takes effect at its next answer, before
    // the grace time, and nothing of the run follows.
    auto module = bus.plug(ModuleVariant::calibrated("TLM-1"));
    start();
    LogCapture log;
    control->startAutoCalibration();
    ASSERT_TRUE(settleUntil([&] { return control->calState() == 5; }));
    QTest::keyClick(control->calibDialog(), Qt::Key_Escape);
    ASSERT_TRUE(backInTracking());
    EXPECT_TRUE(log.contains("nqmaincontrol::slotACNextStep(): AutoCalib Canceled 0"));
    EXPECT_FALSE(log.contains("no answer from module"));
    EXPECT_EQ(module->receivedCount(CMD_AC_WHITE_START), 0);
    // The grace time passes without a second ending.
    const int starts = module->receivedCount(CMD_START_TRACKING);
    wait(4000);
    EXPECT_EQ(module->receivedCount(CMD_START_TRACKING), starts);
    EXPECT_EQ(control->threadState(), etaTRACKING);
}

TEST_F(CalibrationBadInputTest, ManualRunWaitsForTouchesPointsAndAcknowledgementAndEscapeEndsIt)
{
    struct Case
    {
        const char *what;
        int touched;             // targets the module reports
        CommandRule rule;
        int waitsIn;
    };
    const Case cases[] = {
        {"nobody touches", 0, {CMD_MC_PATTERN_START, 0, -1, CommandFault::Ignore}, 1},
        {"no point list", 25, {CMD_MC_GET_INPUT_POINT, 0, 1, CommandFault::Ignore}, 2},
        {"no acknowledgement", 25, {CMD_SET_CALIB_PARAMETER, 0, 1, CommandFault::Ignore}, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const auto module = startCase();
        touchThroughView(*module, c.touched);
        FaultPlan plan;
        plan.commands.push_back(c.rule);
        module->setFaults(plan);
        BoxAnswerer boxes;
        LogCapture log;
        control->startManualCalibration();
        ASSERT_TRUE(settleUntil([&] { return control->calState() == c.waitsIn && module->stats().ignored >= 1; },
                                5000));
        wait(4000);
        EXPECT_EQ(control->calState(), c.waitsIn);
        EXPECT_EQ(control->threadState(), etaMANUAL_CALIBRATION);
        EXPECT_TRUE(control->calibDialog()->isVisible());
        EXPECT_EQ(log.count("StopOrNextCalibration:"), 0);

        QTest::keyClick(control->calibDialog(), Qt::Key_Escape);
        ASSERT_TRUE(backInTracking());
        EXPECT_TRUE(module->tracking());
        EXPECT_TRUE(boxes.texts().isEmpty());
        EXPECT_EQ(log.count("StopOrNextCalibration:"), 0);
        // Only the upload the module ignored changed nothing either.
        EXPECT_EQ(module->eeprom().tp, eepromBefore.tp);
        EXPECT_FALSE(module->lastCalibration().has_value());
        finishCase();
    }
}

// ---- answers that come twice or unasked ---------------------------------------------

TEST_F(CalibrationBadInputTest, ImagesServedTwiceAndUnaskedEndsLeaveTheAutoSequenceInOrder)
{
    struct Case
    {
        const char *what;
        FaultPlan plan;
        const char *ignoredLine;   // what the flow logs for the extra packet; null: nothing reaches it
    };
    auto extra = [](int32_t onCommand, int skip, int32_t code) {
        FaultPlan plan;
        ExtraPacketRule rule;
        rule.onCommand = onCommand;
        rule.skip = skip;
        rule.code = code;
        plan.extras.push_back(rule);
        return plan;
    };
    FaultPlan twice;
    twice.commands.push_back({CMD_AC_SENDIMG, 0, -1, CommandFault::Repeat});
    const Case cases[] = {
        // Every group of every image, the finishing end included, comes twice.
        {"every image twice", twice, nullptr},
        // The white capture's end while image 101 is still coming.
        {"white end during image 101", extra(CMD_AC_SENDIMG, 0, RES_AC_WHITE_END),
         "slotACNextStep: calState 5 waits for an image, a capture end ignored"},
        // The pattern's end again while image 103 is coming: no fit on the old picture.
        {"pattern end during image 103", extra(CMD_AC_SENDIMG, 2 * kRequestsPerImage, RES_AC_PATTERN_END),
         "slotACNextStep: calState 9 waits for an image, a capture end ignored"},
        // The black end while the white capture is taken.
        {"black end behind the white end", extra(CMD_AC_WHITE_START, 0, RES_AC_BLACK_END),
         "slotACNextStep: calState 7 waits for an image, a capture end ignored"},
        // An acknowledgement of an upload nobody sent.
        {"upload acknowledged during image 102", extra(CMD_AC_SENDIMG, kRequestsPerImage, RES_AC_READY_END),
         "slotCalibReadyEnd: 0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const auto module = startCase();
        module->setFaults(c.plan);
        BoxAnswerer boxes;
        LogCapture log;
        std::vector<int> modes;
        module->clearReceived();
        control->startAutoCalibration();
        ASSERT_TRUE(settleUntil([&] {
            if (modes.empty() || modes.back() != control->calibDialog()->displayMode())
                modes.push_back(control->calibDialog()->displayMode());
            return control->threadState() == etaTRACKING;
        }));

        const auto stats = module->stats();
        EXPECT_GT(stats.commandsRepeated + stats.extraPackets, 0);
        if (c.ignoredLine) {
            EXPECT_TRUE(log.contains(c.ignoredLine)) << c.ignoredLine;
        }
        EXPECT_EQ(modes, (std::vector<int>{CalibDlg::ModeBlack, CalibDlg::ModeWhite, CalibDlg::ModePattern}));
        EXPECT_EQ(imageKindsRequested(*module), (std::vector<int>{101, 102, 103}));
        // Each capture follows the complete image before it; exactly one of each.
        const auto sent = module->received();
        const auto white = positions(sent, CMD_AC_WHITE_START);
        const auto pattern = positions(sent, CMD_AC_PATTERN_START);
        const auto img101 = positions(sent, CMD_AC_SENDIMG, 101);
        const auto img102 = positions(sent, CMD_AC_SENDIMG, 102);
        const auto img103 = positions(sent, CMD_AC_SENDIMG, 103);
        ASSERT_EQ(white.size(), 1u);
        ASSERT_EQ(pattern.size(), 1u);
        ASSERT_FALSE(img101.empty());
        ASSERT_FALSE(img102.empty());
        ASSERT_FALSE(img103.empty());
        EXPECT_GT(white[0], img101.back());
        EXPECT_LT(white[0], img102.front());
        EXPECT_GT(pattern[0], img102.back());
        EXPECT_LT(pattern[0], img103.front());
        // One evaluation, after the third image was complete.
        EXPECT_EQ(log.count("calib_success ="), 1);
        EXPECT_EQ(log.count("ReceiveACProcHID: all done"), 3);
        int third = -1;
        for (int k = 0; k < 3; ++k)
            third = log.find("ReceiveACProcHID: all done", third + 1);
        ASSERT_GE(third, 0);
        EXPECT_GT(log.find("calib_success ="), third);
        // Test images carry no pattern: the fit fails and the module keeps what it had.
        EXPECT_EQ(log.count("StopOrNextCalibration:"), 1);
        EXPECT_TRUE(log.contains("StopOrNextCalibration: 0 bAuto = true result = 0"));
        EXPECT_EQ(boxes.texts(), QStringList{"Calibration failed. Please try again."});
        EXPECT_EQ(module->receivedCount(CMD_SET_CALIB_PARAMETER), 0);
        EXPECT_EQ(module->eeprom().tp, eepromBefore.tp);
        EXPECT_TRUE(control->device()->isCalibrated(0));
        EXPECT_TRUE(module->tracking());
        finishCase();
    }
}

TEST_F(CalibrationBadInputTest, AnImageHandedOverTwiceIsNotAStep)
{
    // The module never ends the white capture: the run waits in calState 6
    // after image 101. A second image there is no step and replaces nothing.
    auto module = bus.plug(ModuleVariant::calibrated("TLM-1"));
    start();
    FaultPlan plan;
    plan.commands.push_back({CMD_AC_WHITE_START, 0, 1, CommandFault::Ignore});
    module->setFaults(plan);
    LogCapture log;
    control->startAutoCalibration();
    ASSERT_TRUE(settleUntil([&] { return control->calState() == 6 && module->stats().ignored == 1; }));
    std::vector<unsigned char> again(1280 * 720, 200);
    emit control->device()->sigACNewFrame(again.data(), static_cast<int>(again.size()), 0);
    emit control->device()->sigACNewFrame(again.data(), static_cast<int>(again.size()), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(control->calState(), 6);
    EXPECT_EQ(log.count("slotACNextStep: calState 6 waits for a capture end, an image ignored"), 2);
    EXPECT_EQ(imageKindsRequested(*module), (std::vector<int>{101}));
    EXPECT_EQ(control->calibDialog()->displayMode(), CalibDlg::ModeWhite);

    // An image from the other module slot, or an end from it, is not this run's either.
    emit control->device()->sigACNextStep(1);
    emit control->device()->sigACNewFrame(again.data(), static_cast<int>(again.size()), 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(control->calState(), 6);
    EXPECT_EQ(log.count("no auto calibration waits for module 1"), 2);

    // The white capture's end comes after all: the run goes on from where it was.
    module->setFaults({});
    emit control->device()->sigACNextStep(0);
    QCoreApplication::processEvents();
    EXPECT_EQ(control->calState(), 7);
    EXPECT_EQ(imageKindsRequested(*module), (std::vector<int>{101, 102}));
    QTest::keyClick(control->calibDialog(), Qt::Key_Escape);
    EXPECT_TRUE(backInTracking());
}

TEST_F(CalibrationBadInputTest, UnaskedEndsOutsideARunChangeNothing)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-1"));
    start();
    ASSERT_EQ(control->threadState(), etaTRACKING);
    LogCapture log;
    const int starts = module->receivedCount(CMD_START_TRACKING);
    // While tracking, a module sends capture ends, an acknowledgement and a
    // manual step end of its own accord.
    for (int32_t code : {RES_AC_BLACK_END, RES_AC_WHITE_END, RES_AC_PATTERN_END, RES_AC_READY_END}) {
        const PacketBuffer unasked = makePacket(code);
        module->injectPacket(tl::sim::kEpIn, std::vector<uint8_t>(unasked.begin(), unasked.end()));
    }
    const PacketBuffer end = makePacketI32(RES_MC_PATTERN_END, 3);
    module->injectPacket(tl::sim::kEpIn, std::vector<uint8_t>(end.begin(), end.end()));
    ASSERT_TRUE(settleUntil([&] { return log.count("no auto calibration waits for module 0") == 3; }));
    ASSERT_TRUE(settleUntil([&] { return log.contains("no manual calibration waits for module 0"); }));
    wait(400);
    // Tracking was not stopped and started again; nothing was sent for them.
    EXPECT_EQ(control->threadState(), etaTRACKING);
    EXPECT_EQ(module->receivedCount(CMD_START_TRACKING), starts);
    EXPECT_EQ(module->receivedCount(CMD_MC_PATTERN_START), 0);
    EXPECT_EQ(module->receivedCount(CMD_AC_SENDIMG), 0);
    EXPECT_FALSE(log.contains("StopOrNextCalibration:"));
    EXPECT_FALSE(control->calibDialog()->isVisible());
    EXPECT_TRUE(module->tracking());
}

// ---- the manual point list -------------------------------------------------------------

TEST_F(CalibrationBadInputTest, PointListOfAWrongLengthIsWaitedPastAndEscapeEndsTheRun)
{
    struct Case
    {
        const char *what;
        PacketRule rule;
        bool shortRead = false;
    };
    auto length = [](int value) {
        PacketRule r;
        r.code = DAT_MC_INPUT_POINT;
        r.fault = PacketFault::SetLength;
        r.value = value;
        return r;
    };
    PacketRule shortTransfer;
    shortTransfer.code = DAT_MC_INPUT_POINT;
    shortTransfer.fault = PacketFault::Truncate;
    shortTransfer.value = 8 + 120;
    const Case cases[] = {
        {"one pair short", length(192)},
        {"one int", length(4)},
        {"one pair long", length(208)},
        {"a full packet", length(kMaxPayload)},
        {"negative", length(-1)},
        // The length field says 200, the transfer brings 120 of them.
        {"a short transfer", shortTransfer, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const auto module = startCase();
        touchThroughView(*module);
        FaultPlan plan;
        plan.packets.push_back(c.rule);
        module->setFaults(plan);
        BoxAnswerer boxes;
        LogCapture log;
        control->startManualCalibration();
        ASSERT_TRUE(settleUntil([&] { return module->stats().packetsMalformed == 1; }, 5000));
        wait(1000);
        // The list is not taken: nothing fitted, nothing uploaded, nothing cancelled.
        EXPECT_EQ(control->calState(), 2);
        EXPECT_EQ(module->receivedCount(CMD_MC_GET_INPUT_POINT), 1);
        EXPECT_EQ(log.count("calib_success ="), 0);
        EXPECT_EQ(log.count("--------"), 0);
        EXPECT_EQ(log.contains("DAT_MC_INPUT_POINT refused, read 128"), c.shortRead);
        EXPECT_EQ(module->receivedCount(CMD_SET_CALIB_PARAMETER), 0);
        EXPECT_EQ(module->receivedCount(CMD_MC_CANCEL), 0);
        EXPECT_TRUE(control->calibDialog()->isVisible());

        QTest::keyClick(control->calibDialog(), Qt::Key_Escape);
        ASSERT_TRUE(backInTracking());
        EXPECT_TRUE(boxes.texts().isEmpty());
        EXPECT_EQ(module->eeprom().tp, eepromBefore.tp);
        EXPECT_TRUE(module->tracking());
        finishCase();
    }
}

TEST_F(CalibrationBadInputTest, AcknowledgementsOfUploadsThatNeverHappenedInAManualRun)
{
    // Before any upload: the acknowledgement is ignored and the run completes normally.
    {
        auto module = bus.plug(ModuleVariant::blank("TLM-NEW"));
        start();
        touchThroughView(*module);
        FaultPlan plan;
        ExtraPacketRule ack;
        ack.onCommand = CMD_MC_PATTERN_START;
        ack.skip = 5;
        ack.code = RES_AC_READY_END;
        plan.extras.push_back(ack);
        module->setFaults(plan);
        LogCapture log;
        control->startManualCalibration();
        ASSERT_TRUE(settleUntil([&] { return control->threadState() == etaTRACKING; }, 5000));
        ASSERT_EQ(module->stats().extraPackets, 1);
        // Two acknowledgements arrived, one ended the module: after the fit.
        EXPECT_EQ(log.count("slotCalibReadyEnd: 0"), 2);
        const int fit = log.find("calib_success = 1");
        ASSERT_GE(fit, 0);
        EXPECT_LT(log.find("slotCalibReadyEnd: 0"), fit);
        EXPECT_EQ(log.count("StopOrNextCalibration:"), 1);
        EXPECT_GT(log.find("StopOrNextCalibration: 0 bAuto = false result = 1"), fit);
        EXPECT_EQ(module->receivedCount(CMD_SET_CALIB_PARAMETER), 1);
        EXPECT_TRUE(module->lastCalibration().has_value());
        closeController();
        bus.unplug(module);
    }
    // The module drops the upload yet acknowledges it: the run cannot tell and
    // ends; the module itself holds no parameters.
    {
        auto module = bus.plug(ModuleVariant::blank("TLM-NEW"));
        start();
        touchThroughView(*module);
        FaultPlan plan;
        plan.commands.push_back({CMD_SET_CALIB_PARAMETER, 0, 1, CommandFault::Ignore});
        ExtraPacketRule ack;
        ack.onCommand = CMD_SET_CALIB_PARAMETER;
        ack.code = RES_AC_READY_END;
        plan.extras.push_back(ack);
        module->setFaults(plan);
        LogCapture log;
        control->startManualCalibration();
        ASSERT_TRUE(settleUntil([&] { return control->threadState() == etaTRACKING; }, 5000));
        EXPECT_EQ(log.count("StopOrNextCalibration: 0 bAuto = false result = 1"), 1);
        EXPECT_EQ(module->stats().ignored, 1);
        EXPECT_FALSE(module->lastCalibration().has_value());
        EXPECT_FALSE(module->eeprom().calibrated());
        closeController();
        bus.unplug(module);
    }
}

TEST_F(CalibrationBadInputTest, OnlyTheModuleBeingCalibratedEndsItsRun)
{
    // Two modules; module 0 never acknowledges its upload. Module 1 sends an
    // acknowledgement and a point list of its own: neither touches module 0's run.
    auto modules = bus.plugAll({ModuleVariant::calibrated("A1"), ModuleVariant::calibrated("B2")});
    start();
    ASSERT_EQ(settings->getNumOfCamDevice(), 2);
    touchThroughView(*modules[0]);
    FaultPlan plan;
    plan.commands.push_back({CMD_SET_CALIB_PARAMETER, 0, 1, CommandFault::Ignore});
    modules[0]->setFaults(plan);
    LogCapture log;
    control->startManualCalibration();
    ASSERT_TRUE(settleUntil([&] { return control->calState() == 3 && modules[0]->stats().ignored == 1; }, 5000));
    const PacketBuffer ack = makePacket(RES_AC_READY_END);
    modules[1]->injectPacket(tl::sim::kEpIn, std::vector<uint8_t>(ack.begin(), ack.end()));
    std::vector<uint8_t> points(kMcPointBytes, 0);
    const PacketBuffer list = makePacket(DAT_MC_INPUT_POINT, points.data(), kMcPointBytes);
    modules[1]->injectPacket(tl::sim::kEpIn, std::vector<uint8_t>(list.begin(), list.end()));
    ASSERT_TRUE(settleUntil([&] { return log.contains("slotCalibReadyEnd: 1"); }));
    ASSERT_TRUE(settleUntil([&] { return log.contains("no manual calibration waits for module 1"); }));
    wait(400);
    EXPECT_EQ(control->calState(), 3);
    EXPECT_EQ(control->threadState(), etaMANUAL_CALIBRATION);
    EXPECT_EQ(control->calibDialog()->devNum(), 0);
    EXPECT_FALSE(log.contains("StopOrNextCalibration:"));
    EXPECT_EQ(modules[1]->receivedCount(CMD_MC_START), 0);
    EXPECT_EQ(modules[1]->receivedCount(CMD_SET_CALIB_PARAMETER), 0);
    // Module 0's own acknowledgement ends its part; module 1's run follows.
    const PacketBuffer own = makePacket(RES_AC_READY_END);
    modules[0]->injectPacket(tl::sim::kEpIn, std::vector<uint8_t>(own.begin(), own.end()));
    ASSERT_TRUE(settleUntil([&] { return modules[1]->receivedCount(CMD_MC_START) == 1; }));
    EXPECT_TRUE(log.contains("StopOrNextCalibration: 0 bAuto = false result = 1"));
    EXPECT_EQ(control->calibDialog()->devNum(), 1);
    QTest::keyClick(control->calibDialog(), Qt::Key_Escape);
    EXPECT_TRUE(backInTracking());
}

// ---- a failed fit ------------------------------------------------------------------------

TEST_F(CalibrationBadInputTest, AFailedManualFitLeavesTheModulesParametersInPlace)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-1"));
    const auto before = module->eeprom();
    ASSERT_TRUE(before.calibrated());
    start();
    ASSERT_TRUE(control->device()->isCalibrated(0));
    // Every target reported at one camera point: no model fits.
    module->setManualTouch([](int) { return std::optional<tl::sim::CameraPoint>(tl::sim::CameraPoint{640, 360}); });
    BoxAnswerer boxes;
    LogCapture log;
    control->startManualCalibration();
    ASSERT_TRUE(settleUntil([&] { return !boxes.texts().isEmpty(); }, 5000));
    ASSERT_TRUE(backInTracking());
    EXPECT_TRUE(log.contains("calib_success = 0"));
    EXPECT_EQ(module->receivedCount(CMD_MC_CANCEL), 1);
    EXPECT_EQ(module->receivedCount(CMD_SET_CALIB_PARAMETER), 0);
    EXPECT_FALSE(module->lastCalibration().has_value());
    const auto after = module->eeprom();
    EXPECT_EQ(after.tp, before.tp);
    EXPECT_EQ(after.windowWidth, before.windowWidth);
    EXPECT_EQ(after.windowHeight, before.windowHeight);
    EXPECT_TRUE(control->device()->isCalibrated(0));
    EXPECT_EQ(boxes.texts(), QStringList{"Calibration failed. Please try again."});
    EXPECT_TRUE(module->tracking());
    EXPECT_FALSE(module->manualMode());
}

// ---- unplug --------------------------------------------------------------------------------

TEST_F(CalibrationBadInputTest, UnplugInEachManualStateLeavesNoWindowAndNoContact)
{
    struct Case
    {
        const char *what;
        int touched;
        bool holdForever;
        CommandRule rule;
        std::function<bool(nqmaincontrol &, EmulatedModule &)> reached;
    };
    const Case cases[] = {
        {"targets shown", 0, false, {},
         [](nqmaincontrol &c, EmulatedModule &m) {
             return c.calState() == 1 && m.receivedCount(CMD_MC_PATTERN_START) >= 1;
         }},
        {"pen held", 25, true, {},
         // The mark has moved on to target 1; the pen is still down on target 0.
         [](nqmaincontrol &c, EmulatedModule &) {
             return c.calState() == 1 && c.calibDialog()->getCount() == 1;
         }},
        {"point download", 25, false, {CMD_MC_GET_INPUT_POINT, 0, -1, CommandFault::Ignore},
         [](nqmaincontrol &c, EmulatedModule &m) {
             return c.calState() == 2 && m.stats().ignored >= 1;
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ModuleVariant variant = ModuleVariant::calibrated("TLM-1");
        if (c.holdForever)
            variant.timing.holdMs = 600000;
        auto module = bus.plug(variant);
        // A pen is on the board while tracking: a contact goes down.
        module->setPenScript([](uint64_t) { return std::vector<tl::sim::TrackPoint>{{2400, 1500, 100}}; });
        startCounting();
        ASSERT_EQ(control->threadState(), etaTRACKING);
        ASSERT_TRUE(settleUntil([&] { return downNow() == 1; }));
        touchThroughView(*module, c.touched);
        if (c.rule.code != 0) {
            FaultPlan plan;
            plan.commands.push_back(c.rule);
            module->setFaults(plan);
        }
        BoxAnswerer boxes;
        control->startManualCalibration();
        ASSERT_TRUE(settleUntil([&] { return c.reached(*control, *module); }, 5000));
        EXPECT_EQ(downNow(), 0);

        module->unplug();
        control->systemStateChange(esysDEVICE_FOUND_OR_REMOVE, -1);
        wait(400);
        EXPECT_FALSE(control->calibDialog()->isVisible());
        EXPECT_FALSE(control->connectionStatus());
        EXPECT_NE(control->threadState(), etaMANUAL_CALIBRATION);
        EXPECT_NE(control->threadState(), etaTRACKING);
        EXPECT_EQ(downNow(), 0);
        EXPECT_EQ(settings->getNumOfCamDevice(), 0);
        closeController();
    }
}

} // namespace
