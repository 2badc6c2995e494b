// Calibration runs through the real controller, calibration window and
// protocol code against emulated modules.

#include "CalibrationFixture.h"
#include "tests/support/LogCapture.h"

#include "calibration/CalibDlg.h"
#include "control/nqmaincontrol.h"
#include "device/CamDevCtrl.h"
#include "device/codec/Commands.h"
#include "platform/Clock.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "sim/SimulatedUser.h"
#include "sim/SyntheticCamera.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <atomic>
#include <functional>
#include <memory>

using namespace tl::codec;
using tl::sim::EmulatedModule;
using tl::sim::ModuleVariant;
using tl::test::LogCapture;

namespace {

class CalibrationFlowTest : public CalibrationFixture
{
};

TEST(ManualPointOrder, FollowsTheMounting)
{
    // Entry k of the fitted list, for 16 targets: plain, rear, ceiling, both.
    const int plain[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
    const int rear[16] = {12, 8, 4, 0, 13, 9, 5, 1, 14, 10, 6, 2, 15, 11, 7, 3};
    const int ceiling[16] = {15, 11, 7, 3, 14, 10, 6, 2, 13, 9, 5, 1, 12, 8, 4, 0};
    const int both[16] = {3, 7, 11, 15, 2, 6, 10, 14, 1, 5, 9, 13, 0, 4, 8, 12};
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(nqmaincontrol::manualPointOrder(k, 4, 0, 0), plain[k]) << k;
        EXPECT_EQ(nqmaincontrol::manualPointOrder(k, 4, 0, 1), rear[k]) << k;
        EXPECT_EQ(nqmaincontrol::manualPointOrder(k, 4, 1, 0), ceiling[k]) << k;
        EXPECT_EQ(nqmaincontrol::manualPointOrder(k, 4, 1, 1), both[k]) << k;
    }
    // Ceiling and rear: the module's point 3 is fitted against screen target 0.
    EXPECT_EQ(nqmaincontrol::manualPointOrder(0, 4, 1, 1), 3);
    // 25 targets: the same rules on a side of 5.
    EXPECT_EQ(nqmaincontrol::manualPointOrder(1, 5, 0, 0), 5);
    EXPECT_EQ(nqmaincontrol::manualPointOrder(0, 5, 1, 0), 24);
    EXPECT_EQ(nqmaincontrol::manualPointOrder(24, 5, 0, 1), 4);
    EXPECT_EQ(nqmaincontrol::manualPointOrder(16, 4, 0, 0), -1);
    EXPECT_EQ(nqmaincontrol::manualPointOrder(-1, 4, 0, 0), -1);
}

TEST_F(CalibrationFlowTest, AutoRunShowsBlackWhitePatternAndFetchesThreeImagesInOrder)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-1"));
    start();
    ASSERT_EQ(control->threadState(), etaTRACKING);
    BoxAnswerer boxes;
    LogCapture log;
    std::vector<int> modes;
    module->clearReceived();

    control->startAutoCalibration();
    EXPECT_EQ(control->threadState(), etaAUTO_CALIBRATION);
    EXPECT_TRUE(control->calibDialog()->isVisible());
    EXPECT_EQ(control->calibDialog()->displayMode(), CalibDlg::ModeBlack);
    ASSERT_TRUE(settleUntil([&] {
        if (modes.empty() || modes.back() != control->calibDialog()->displayMode())
            modes.push_back(control->calibDialog()->displayMode());
        return control->threadState() == etaTRACKING;
    }));

    EXPECT_EQ(modes, (std::vector<int>{CalibDlg::ModeBlack, CalibDlg::ModeWhite, CalibDlg::ModePattern}));
    EXPECT_EQ(imageKindsRequested(*module), (std::vector<int>{101, 102, 103}));
    // The module's captures are test images without a pattern: the fit fails, the
    // module keeps what it had, the user is told once.
    EXPECT_EQ(module->receivedCount(CMD_SET_CALIB_PARAMETER), 0);
    EXPECT_EQ(boxes.texts(), QStringList{"Calibration failed. Please try again."});
    EXPECT_TRUE(control->device()->isCalibrated(0));
    EXPECT_FALSE(control->calibDialog()->isVisible());

    // The evaluation logs its figures in order.
    const int success = log.find("calib_success = 0");
    ASSERT_GE(success, 0);
    const int tp = log.find("-- tp --", success);
    EXPECT_GT(log.find("m_tp[12] =", tp), tp);
    const int org = log.find("-- ac_pattern_center_org --", tp);
    EXPECT_GT(log.find("ac_sse  =", tp), tp);
    EXPECT_GT(log.find("-- ac_pattern_center_twk --", org), org);
    EXPECT_GT(log.find("StopOrNextCalibration: 0 bAuto = true result = 0", org), org);
}

TEST_F(CalibrationFlowTest, BlankModuleIsCalibratedAutomaticallyAndTracks)
{
    auto module = bus.plug(ModuleVariant::blank("TLM-NEW"));
    start();
    ASSERT_TRUE(control->wizardPending());
    tl::sim::ProjectedDisplay display;
    watchDisplay(*module, 0, display);
    BoxAnswerer boxes;
    LogCapture log;
    control->startAutoCalibration();
    ASSERT_TRUE(settleUntil([&] {
        return control->threadState() == etaTRACKING && !control->calibDialog()->isVisible();
    }, 20000));

    EXPECT_TRUE(boxes.texts().isEmpty()) << boxes.texts().join("|").toStdString();
    EXPECT_EQ(imageKindsRequested(*module), (std::vector<int>{101, 102, 103}));
    // The upload follows the third image, and the module keeps it.
    const auto sends = module->received();
    int lastImage = -1, upload = -1;
    for (int i = 0; i < static_cast<int>(sends.size()); ++i) {
        if (sends[i].code == CMD_AC_SENDIMG && sends[i].bytes[8] == 103)
            lastImage = i;
        if (sends[i].code == CMD_SET_CALIB_PARAMETER)
            upload = i;
    }
    ASSERT_GE(lastImage, 0);
    EXPECT_GT(upload, lastImage);
    EXPECT_EQ(module->receivedCount(CMD_SET_CALIB_PARAMETER), 1);
    EXPECT_TRUE(module->lastCalibration().has_value());
    EXPECT_TRUE(control->device()->isCalibrated(0));
    EXPECT_TRUE(module->tracking());

    // Every line of the evaluation, in order.
    int at = log.find("calib_success = 1");
    ASSERT_GE(at, 0) << log.lines().join("\n").toStdString();
    for (const char *line : {"-- tp --", "m_tp[ 0] =", "m_tp[12] =", "ac_loop =", "ac_sse  =",
                             "-- ac_pattern_center_org --", " 0: ", "19: ", "-- ac_pattern_center_twk --", " 0: ",
                             "19: ", "calibration ecsAUTO_CAL_GET_PATTERN_IMAGE -> ecsAUTO_CAL_WAIT_STORED on image",
                             "slotCalibReadyEnd: 0",
                             "calibration ecsAUTO_CAL_WAIT_STORED -> StopOrNextCalibration on parameters stored",
                             "StopOrNextCalibration: 0 bAuto = true result = 1", "etaTRACKING"}) {
        const int next = log.find(line, at + 1);
        EXPECT_GT(next, at) << line;
        if (next > at)
            at = next;
    }
    module->setCamera(nullptr, {});
}

TEST_F(CalibrationFlowTest, EscapeDuringTheWhiteImageEndsTheRunAtTheNextStep)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-1"));
    start();
    BoxAnswerer boxes;
    control->startAutoCalibration();
    ASSERT_TRUE(settleUntil([&] {
        const auto kinds = imageKindsRequested(*module);
        return !kinds.empty() && kinds.back() == 102;
    }));
    QTest::keyClick(control->calibDialog(), Qt::Key_Escape);
    ASSERT_TRUE(settleUntil([&] { return control->threadState() == etaTRACKING; }));

    // The white image still arrives, but nothing of the run follows it.
    EXPECT_EQ(module->receivedCount(CMD_AC_WHITE_START), 1);
    EXPECT_EQ(module->receivedCount(CMD_AC_PATTERN_START), 0);
    EXPECT_EQ(imageKindsRequested(*module), (std::vector<int>{101, 102}));
    EXPECT_EQ(module->receivedCount(CMD_SET_CALIB_PARAMETER), 0);
    EXPECT_EQ(control->calState(), 0);
    EXPECT_TRUE(boxes.texts().isEmpty());
    EXPECT_FALSE(control->calibDialog()->isVisible());
    EXPECT_TRUE(module->tracking());
}

TEST_F(CalibrationFlowTest, ManualRunUploadsTheFitAndReturnsToTracking)
{
    auto module = bus.plug(ModuleVariant::blank("TLM-NEW"));
    start();
    ASSERT_TRUE(control->wizardPending());
    // The touches are held until the window has answered each of them, however
    // long its ring takes on a busy machine.
    watchDisplay(*module, 0);
    touchThroughView(*module);
    BoxAnswerer boxes;
    control->startManualCalibration();
    EXPECT_EQ(control->threadState(), etaMANUAL_CALIBRATION);
    EXPECT_EQ(control->calibDialog()->displayMode(), CalibDlg::ModeManual);
    ASSERT_TRUE(settleUntil([&] { return control->threadState() == etaTRACKING; }, 5000));

    EXPECT_TRUE(boxes.texts().isEmpty()) << boxes.texts().join("|").toStdString();
    EXPECT_EQ(module->receivedCount(CMD_MC_GET_INPUT_POINT), 1);
    ASSERT_EQ(module->receivedCount(CMD_SET_CALIB_PARAMETER), 1);
    EXPECT_TRUE(module->lastCalibration().has_value());
    // Every target was asked for once, in order.
    std::vector<int> targets;
    for (const auto &p : module->received(CMD_MC_PATTERN_START))
        targets.push_back(p.bytes[8]);
    std::vector<int> expected(16);
    for (int i = 0; i < 16; ++i)
        expected[i] = i;
    EXPECT_EQ(targets, expected);
    EXPECT_TRUE(control->device()->isCalibrated(0));
    EXPECT_TRUE(module->tracking());
    stopRefreshing();
    module->setCamera(nullptr, {});
}

TEST_F(CalibrationFlowTest, BackspaceGoesBackOneTargetButNotBeforeTheFirst)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-1"));
    start();
    // Nobody touches: the run waits on target 0, and going back does nothing.
    touchThroughView(*module, 0);
    control->startManualCalibration();
    settle(20);
    module->clearReceived();
    QTest::keyClick(control->calibDialog(), Qt::Key_Backspace);
    settle(10);
    EXPECT_EQ(control->calibDialog()->getCount(), 0);
    EXPECT_EQ(module->receivedCount(CMD_MC_PATTERN_START), 0);

    // A new run: targets 0 to 2 are touched, the user stops on target 3 and goes back.
    touchThroughView(*module, 3);
    control->startManualCalibration();
    ASSERT_TRUE(settleUntil([&] {
        const auto asked = module->received(CMD_MC_PATTERN_START);
        return control->calibDialog()->getCount() == 3 && !asked.empty() && asked.back().bytes[8] == 3;
    }));
    module->clearReceived();
    QTest::keyClick(control->calibDialog(), Qt::Key_Backspace);
    EXPECT_EQ(control->calibDialog()->getCount(), 2);
    ASSERT_TRUE(module->waitForReceived(CMD_MC_PATTERN_START, 1, 2000));
    EXPECT_EQ(module->received(CMD_MC_PATTERN_START).front().bytes[8], 2);
    QTest::keyClick(control->calibDialog(), Qt::Key_Escape);
    settleUntil([&] { return control->threadState() == etaTRACKING; });
}

TEST_F(CalibrationFlowTest, TwoModulesFitFailsOnTheFirstAndSucceedsOnTheSecond)
{
    auto modules = bus.plugAll({ModuleVariant::calibrated("A1"), ModuleVariant::calibrated("B2")});
    start();
    ASSERT_EQ(settings->getNumOfCamDevice(), 2);
    ASSERT_EQ(control->threadState(), etaTRACKING);
    // Module 0 reports every target at one camera point: nothing can be fitted.
    modules[0]->setManualTouch([](int) { return std::optional<tl::sim::CameraPoint>(tl::sim::CameraPoint{640, 360}); });
    touchThroughView(*modules[1]);
    BoxAnswerer boxes;
    LogCapture log;
    control->startManualCalibration();
    ASSERT_TRUE(settleUntil([&] { return !boxes.texts().isEmpty(); }, 8000));
    settle(20);

    EXPECT_EQ(modules[0]->receivedCount(CMD_SET_CALIB_PARAMETER), 0);
    EXPECT_EQ(modules[0]->receivedCount(CMD_MC_CANCEL), 1);
    EXPECT_EQ(modules[1]->receivedCount(CMD_SET_CALIB_PARAMETER), 1);
    EXPECT_EQ(boxes.texts(), QStringList{"Calibration failed. Please try again."});
    const int first = log.find("StopOrNextCalibration: 0 bAuto = false result = 0");
    ASSERT_GE(first, 0);
    EXPECT_GT(log.find("StopOrNextCalibration: 1 bAuto = false result = 1", first), first);
    EXPECT_EQ(control->threadState(), etaTRACKING);
    EXPECT_TRUE(modules[0]->tracking());
    EXPECT_TRUE(modules[1]->tracking());
}

TEST_F(CalibrationFlowTest, TwoModulesOfDifferentTypesAreNotCalibrated)
{
    auto a = bus.plug(ModuleVariant::calibrated("A1"));
    ModuleVariant other = ModuleVariant::calibrated("B2");
    other.fwMajor = 30;
    auto b = bus.plug(other);
    start();
    ASSERT_EQ(settings->getNumOfCamDevice(), 2);
    BoxAnswerer boxes;
    a->clearReceived();
    control->startAutoCalibration();
    settle(10);
    EXPECT_EQ(boxes.texts(), QStringList{"Please connect two projectors of same type."});
    EXPECT_EQ(a->receivedCount(CMD_AC_BLACK_START), 0);
    EXPECT_NE(control->threadState(), etaAUTO_CALIBRATION);
}

TEST_F(CalibrationFlowTest, AnImageOfAnotherSizeIsIgnored)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-1"));
    start();
    control->startAutoCalibration();
    ASSERT_TRUE(settleUntil([&] { return control->calState() == 5 || control->calState() == 6; }));
    const int state = control->calState();
    std::vector<unsigned char> odd(1000, 7);
    control->slotNewACImageReceived(odd.data(), static_cast<int>(odd.size()), 0);
    EXPECT_EQ(control->calState(), state);
    QTest::keyClick(control->calibDialog(), Qt::Key_Escape);
    BoxAnswerer boxes;
    settleUntil([&] { return control->threadState() == etaTRACKING; });
}

TEST_F(CalibrationFlowTest, UnplugInEachStateLeavesNoWindowAndNoContact)
{
    for (int stopAt : {4, 5, 6, 7, 9}) {
        SCOPED_TRACE(stopAt);
        auto module = bus.plug(ModuleVariant::calibrated("TLM-1"));
        start();
        BoxAnswerer boxes;
        control->startAutoCalibration();
        settleUntil([&] { return control->calState() >= stopAt || control->threadState() != etaAUTO_CALIBRATION; });
        module->unplug();
        control->systemStateChange(esysDEVICE_FOUND_OR_REMOVE, -1);
        settle(20);
        EXPECT_FALSE(control->calibDialog()->isVisible());
        EXPECT_FALSE(control->connectionStatus());
        EXPECT_NE(control->threadState(), etaAUTO_CALIBRATION);
        control->StopDevice();
        control.reset();
        settings.reset();
    }
}

} // namespace
