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
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "sim/FaultPlan.h"
#include "tests/support/PlatformInjection.h"

#include <QSettings>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
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
        control = std::make_unique<nqmaincontrol>(settings.get(), &language, &bus, &window, nullptr, nullptr,
                                                  nullptr, &tl::test::platformInjection());
        control->systemStateChange(esysCONNECTION_START, -1);
        QCoreApplication::processEvents();
    }
    static void wait(int ms) { settle(ms / 20); }
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

// "Exchange Camera" while the module that comes to the left answers too slowly
// for the reopen, then Exit with the view open: the close hands each module back
// and closes each of its handles, the left one and the right one alike.
TEST_F(SetupPathTest, CloseAfterAnExchangeWhoseReopenStoppedHandsBothModulesBack)
{
    auto modules = bus.plugAll({ModuleVariant::calibrated("TLM-L"), ModuleVariant::calibrated("TLM-R")});
    startTwo();
    ASSERT_EQ(control->threadState(), etaTRACKING);
    control->systemStateChange(esysUSER_ALIGNMENT_VIEW, 0);
    ASSERT_EQ(control->threadState(), etaDISPLAY);
    FaultPlan slow;
    slow.answerDelayMs = 5000;   // longer than the three version attempts read
    modules[1]->setFaults(slow);
    settings->swapDevices();
    control->swapAndReopen();
    for (const auto &m : modules)
        m->clearReceived();

    closeController();
    for (size_t i = 0; i < modules.size(); ++i) {
        SCOPED_TRACE(modules[i]->variant().serial);
        EXPECT_EQ(modules[i]->receivedCount(CMD_START_TRACKING), 1);
        EXPECT_EQ(modules[i]->openHandles(), 0);
    }
}

// A connection that ends without tracking (modules without calibration, or
// with a firmware the driver does not know) takes the cover down itself: the
// wizard that the main window may open next is not the only way out.
TEST_F(SetupPathTest, ConnectionThatStartsNoTrackingLeavesNoWaitCover)
{
    ModuleVariant unknownFirmware = ModuleVariant::blank("TLM-X");
    unknownFirmware.fwMajor = 60;
    struct Case
    {
        const char *what;
        int state;
        ModuleVariant variant;
    };
    const Case cases[] = {
        {"start-up, blank module", esysCONNECTION_START, ModuleVariant::blank("TLM-1")},
        {"arrival, blank module", esysDEVICE_FOUND_OR_REMOVE, ModuleVariant::blank("TLM-1")},
        {"arrival, unknown firmware", esysDEVICE_FOUND_OR_REMOVE, unknownFirmware},
        {"wake, blank module", esysCHANGE_WAKE_UP, ModuleVariant::blank("TLM-1")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::shared_ptr<EmulatedModule> module;
        if (c.state == esysCONNECTION_START) {
            module = bus.plug(c.variant);
            start();
        } else {
            start();   // nothing plugged yet
            ASSERT_FALSE(control->connectionStatus());
            module = bus.plug(c.variant);
            control->systemStateChange(c.state, -1);
        }
        settle();
        ASSERT_TRUE(control->connectionStatus());
        EXPECT_TRUE(control->wizardPending());
        EXPECT_NE(control->threadState(), etaTRACKING);
        EXPECT_FALSE(control->waitDialog()->isVisible());
        closeController();
        bus.unplug(module);
    }
}

// A close that arrives while the display change's geometry message is open
// (a logout) ends the change there: no wait for the layout to settle and no
// tracking started for a program that is ending.
TEST_F(SetupPathTest, CloseDuringTheDisplayChangeMessageStartsNoTracking)
{
    bus.plugAll({ModuleVariant::calibrated("TLM-L"), ModuleVariant::calibrated("TLM-R")});
    startTwo();
    ASSERT_EQ(control->threadState(), etaTRACKING);
    // The first monitor changes its size: the two are no longer side by side.
    tl::FixedScreens::install({{QRect(0, 0, 1280, 1024), 96}, {QRect(1280, 0, 1920, 1080), 96}});
    QTimer closer;
    bool closed = false;
    closer.setInterval(5);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (!closed && qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            closed = true;
            control->requestClose();
        }
    });
    closer.start();
    LogCapture log;
    control->systemStateChange(esysDISPLAY_CHANGE, -1);
    ASSERT_TRUE(closed);
    EXPECT_FALSE(QApplication::activeModalWidget());
    EXPECT_LT(log.find("nqmaincontrol::threadStateChange(): etaTRACKING"), 0);
    EXPECT_FALSE(control->waitDialog()->isVisible());
}

// A close that comes while a connection is still on its way (a logout during
// start-up or a device arrival) ends the program before param.ini was read:
// the controller's last save must not write the records' defaults over what
// the user chose.
TEST_F(SetupPathTest, CloseBeforeTheSettingsWereReadLeavesParamIniAsItWas)
{
    for (const int state : {int(esysCONNECTION_START), int(esysDEVICE_FOUND_OR_REMOVE)}) {
        SCOPED_TRACE(state == esysCONNECTION_START ? "start-up" : "arrival");
        QDir().mkpath(ConfigFileRW::settingsFolder());
        {
            QSettings param(ConfigFileRW::paramFilePath(), QSettings::IniFormat);
            param.setValue("Configuration/LensSelect", 2);
            param.setValue("Configuration/CheckCeiling", 1);
            param.setValue("Configuration/CheckRear", 1);
        }
        std::vector<std::shared_ptr<EmulatedModule>> modules;
        if (state == esysCONNECTION_START) {
            modules = bus.plugAll({ModuleVariant::calibrated("TLM-L"), ModuleVariant::calibrated("TLM-R")});
            QTimer::singleShot(0, [this] {
                if (control)
                    control->requestClose();
            });
        }
        startTwo();
        if (state == esysDEVICE_FOUND_OR_REMOVE) {
            ASSERT_FALSE(control->connectionStatus());
            modules = bus.plugAll({ModuleVariant::calibrated("TLM-L"), ModuleVariant::calibrated("TLM-R")});
            QTimer::singleShot(0, [this] { control->requestClose(); });
            control->systemStateChange(esysDEVICE_FOUND_OR_REMOVE, -1);
        }
        settle();
        closeController();
        QSettings param(ConfigFileRW::paramFilePath(), QSettings::IniFormat);
        EXPECT_EQ(param.value("Configuration/LensSelect").toInt(), 2);
        EXPECT_EQ(param.value("Configuration/CheckCeiling").toInt(), 1);
        EXPECT_EQ(param.value("Configuration/CheckRear").toInt(), 1);
        for (const auto &m : modules)
            bus.unplug(m);
    }
}

// Modules without calibration: the main window clears CheckCeiling before it
// opens the wizard in its set-up mode, as the wizard's starting value. A close
// before the user confirmed the wizard's first page (Exit, a logout, the wizard
// cancelled) leaves param.ini's value as it was; a confirmed page is saved.
TEST_F(SetupPathTest, SetUpDefaultReachesParamIniOnlyWhenTheUserConfirmsIt)
{
    // The modules exchanged from the alignment view before the first page is
    // confirmed store their new order, and the ceiling as the file had it.
    for (const bool exchanged : {false, true})
    for (const bool confirmed : {false, true}) {
        SCOPED_TRACE(confirmed ? "first page confirmed" : "closed before");
        SCOPED_TRACE(exchanged ? "modules exchanged first" : "no exchange");
        QDir().mkpath(ConfigFileRW::settingsFolder());
        {
            QSettings param(ConfigFileRW::paramFilePath(), QSettings::IniFormat);
            param.setValue("Configuration/CheckCeiling", 1);
        }
        auto modules = bus.plugAll({ModuleVariant::blank("TLM-L"), ModuleVariant::blank("TLM-R")});
        startTwo();
        ASSERT_TRUE(control->wizardPending());
        ASSERT_TRUE(settings->getCheckCeiling());   // read from param.ini
        settings->setCheckCeiling(false);           // the set-up default
        if (exchanged) {
            control->swapAndReopen();
            settle();
            QSettings param(ConfigFileRW::paramFilePath(), QSettings::IniFormat);
            EXPECT_EQ(param.value("Configuration/CheckCeiling").toInt(), 1);
            EXPECT_FALSE(settings->getCheckCeiling());  // the wizard still starts cleared
        }
        if (confirmed)
            control->FirmwareSave_Param();           // the wizard's first page applied (updateConfigFirm)
        settle();
        closeController();
        QSettings param(ConfigFileRW::paramFilePath(), QSettings::IniFormat);
        EXPECT_EQ(param.value("Configuration/CheckCeiling").toInt(), confirmed ? 0 : 1);
        for (const auto &m : modules)
            bus.unplug(m);
    }
}

// ---- auto calibration: what the fit may use -------------------------------------------

TEST_F(SetupPathTest, WideImageIsNotStoredAndTheRunFailsWithoutAFit)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-1"));
    start();
    ASSERT_EQ(control->threadState(), etaTRACKING);
    BoxAnswerer boxes;

    // A first run stores its three images (its fit fails: test images).
    control->startAutoCalibration();
    ASSERT_TRUE(settleUntil([&] { return control->threadState() == etaTRACKING && control->calState() == 0; }));
    ASSERT_EQ(boxes.texts().size(), 1);

    // The second run: the pattern image comes in the two-bytes-per-pixel size.
    FaultPlan plan;
    plan.commands.push_back({CMD_AC_SENDIMG, 2 * kRequestsPerImage, 1, CommandFault::Ignore});
    module->setFaults(plan);
    module->clearReceived();
    LogCapture log;
    control->startAutoCalibration();
    ASSERT_TRUE(settleUntil([&] { return control->calState() == 9 && module->stats().ignored == 1; }));
    std::vector<unsigned char> wide(2 * 1280 * 720, 0x40);
    control->slotNewACImageReceived(wide.data(), static_cast<int>(wide.size()), 0);
    ASSERT_TRUE(settleUntil([&] { return control->threadState() == etaTRACKING && control->calState() == 0; }));

    // No fit ran on an image of the earlier run, nothing was uploaded, and the
    // user is told the run failed.
    EXPECT_LT(log.find("calib_success ="), 0) << log.lines().join("\n").toStdString();
    EXPECT_EQ(module->receivedCount(CMD_SET_CALIB_PARAMETER), 0);
    EXPECT_EQ(boxes.texts().size(), 2);
    EXPECT_GE(log.find("StopOrNextCalibration: 0 bAuto = true result = 0"), 0);
    EXPECT_TRUE(control->device()->isCalibrated(0));
}

TEST_F(SetupPathTest, FailedFitLogsTheFiguresOfThisRun)
{
    bus.plug(ModuleVariant::calibrated("TLM-1"));
    start();
    BoxAnswerer boxes;
    // Figures of an earlier fit are still in the workspace.
    tl::calibWorkspace().ac_loop = 1234;
    tl::calibWorkspace().ac_sse = 5.5;
    LogCapture log;
    control->startAutoCalibration();
    ASSERT_TRUE(settleUntil([&] { return control->threadState() == etaTRACKING && control->calState() == 0; }));
    // The test images hold no pattern: the fit's precondition fails.
    EXPECT_GE(log.find("calib_success = 0"), 0);
    EXPECT_LT(log.find("ac_loop = 1234"), 0) << log.lines().join("\n").toStdString();
    EXPECT_LT(log.find("ac_sse  = 5.5"), 0);
    EXPECT_GE(log.find("ac_loop = 0"), 0);
}

// The same for the pattern points: with a lens that gives the run no points
// (the fourth projector model), the fit's precondition fails and the log shows
// no centre an earlier run found.
TEST_F(SetupPathTest, FailedFitLogsNoPatternCentresOfAnEarlierRun)
{
    bus.plug(ModuleVariant::calibrated("TLM-1"));
    start(3);
    ASSERT_EQ(control->threadState(), etaTRACKING);
    BoxAnswerer boxes;
    tl::CalibWorkspace &ws = tl::calibWorkspace();
    for (int k = 0; k < tl::CalibWorkspace::kSlots; ++k) {
        ws.ac_pattern_center_org[k] = cv::Point2f(321.25f + k, 123.75f);
        ws.ac_pattern_center_twk[k] = cv::Point2f(654.25f + k, 456.75f);
    }
    LogCapture log;
    control->startAutoCalibration();
    ASSERT_TRUE(settleUntil([&] { return log.contains("calib_success ="); }));
    ASSERT_TRUE(settleUntil([&] { return control->threadState() == etaTRACKING && control->calState() == 0; }));
    EXPECT_GE(log.find("calib_success = 0"), 0);
    EXPECT_GE(log.find("-- ac_pattern_center_org --"), 0);
    EXPECT_LT(log.find("123.75"), 0) << log.lines().join("\n").toStdString();
    EXPECT_LT(log.find("456.75"), 0);
}

TEST_F(SetupPathTest, EveryCalibrationRowLogsItsStateAndModule)
{
    bus.plugAll({ModuleVariant::calibrated("TLM-L"), ModuleVariant::calibrated("TLM-R")});
    startTwo();
    ASSERT_EQ(control->threadState(), etaTRACKING);
    struct Row
    {
        int state;
        const char *line;
    };
    const Row rows[] = {
        {esysUSER_MANUAL_CAL_START, "nqmaincontrol::systemStateCalbrationChange(): ecsMANUAL_CAL_CAPTURE_POINT_IMAGE 0"},
        {esysUSER_MANUAL_CAL_POINT_IMAGE,
         "nqmaincontrol::systemStateCalbrationChange(): ecsMANUAL_CAL_CAPTURE_POINT_IMAGE 0"},
        {esysUSER_MANUAL_CAL_START_NEXT_DEVICE,
         "nqmaincontrol::systemStateCalbrationChange(): ecsMANUAL_CAL_CAPTURE_POINT_IMAGE 1"},
        {esysUSER_AUTO_CAL_START, "nqmaincontrol::systemStateCalbrationChange(): ecsAUTO_CAL_CAPTURE_BLACK_IMAGE 0"},
        {esysUSER_AUTO_CAL_START_NEXT_DEVICE,
         "nqmaincontrol::systemStateCalbrationChange(): ecsAUTO_CAL_CAPTURE_BLACK_IMAGE 1"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(systemStateName(row.state));
        LogCapture log;
        const int before = static_cast<int>(log.lines().size());
        control->systemStateChange(row.state, 0);
        const int stateLine = log.find(QString("nqmaincontrol::systemStateChange(): ") + systemStateName(row.state));
        ASSERT_GE(stateLine, before);
        const int rowLine = log.find(row.line, stateLine);
        EXPECT_GT(rowLine, stateLine) << log.lines().join("\n").toStdString();
        // Logged once, before the row acts (the thread state machine's line follows).
        EXPECT_LT(log.find(row.line, rowLine + 1), 0);
        EXPECT_GT(log.find("nqmaincontrol::threadStateChange():", rowLine), rowLine);
        control->calDlgWorkingDone(control->calibDialog()->devNum());
        control->calDlgWorkingDone(control->calibDialog()->devNum());
        ASSERT_TRUE(settleUntil([&] { return control->threadState() == etaTRACKING; }));
    }
}

// ---- manual calibration: a step the module ends without its index --------------------------

TEST_F(SetupPathTest, PatternEndWithoutIndexRepeatsTheCurrentTarget)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-1"));
    start();
    ASSERT_EQ(control->threadState(), etaTRACKING);
    control->startManualCalibration();
    ASSERT_EQ(control->threadState(), etaMANUAL_CALIBRATION);
    ASSERT_TRUE(settleUntil([&] { return module->receivedCount(CMD_MC_PATTERN_START) == 1; }));
    settle(10);
    const int starts = module->receivedCount(CMD_MC_PATTERN_START);
    // The module ends the step with a length field of 0: no index.
    module->injectPacket(kEpIn, packet(RES_MC_PATTERN_END, nullptr, 0));
    ASSERT_TRUE(settleUntil([&] { return module->receivedCount(CMD_MC_PATTERN_START) > starts; }, 300))
        << "the run stalls";
    const auto sent = module->received(CMD_MC_PATTERN_START);
    int32_t index = -1;
    std::memcpy(&index, sent.back().bytes.data() + 8, 4);
    EXPECT_EQ(index, control->calibDialog()->getCount());
    EXPECT_EQ(control->calState(), 1);
    QTest::keyClick(control->calibDialog(), Qt::Key_Escape);
    EXPECT_TRUE(settleUntil([&] { return control->threadState() == etaTRACKING; }));
}

// An index outside the targets (a corrupt end) is not sent back: the module
// would ignore a start of a target that does not exist and the run would
// stall. The step repeats the target the window shows.
TEST_F(SetupPathTest, PatternEndWithAnIndexOutsideTheTargetsRepeatsTheCurrentTarget)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-1"));
    start();
    control->startManualCalibration();
    ASSERT_TRUE(settleUntil([&] { return module->receivedCount(CMD_MC_PATTERN_START) == 1; }));
    settle(10);
    for (const int32_t index : {1000, 16, -3}) {
        SCOPED_TRACE(index);
        const int starts = module->receivedCount(CMD_MC_PATTERN_START);
        module->injectPacket(kEpIn, packet(RES_MC_PATTERN_END, &index, 4));
        ASSERT_TRUE(settleUntil([&] { return module->receivedCount(CMD_MC_PATTERN_START) > starts; }, 300));
        const auto sent = module->received(CMD_MC_PATTERN_START);
        int32_t asked = -1;
        std::memcpy(&asked, sent.back().bytes.data() + 8, 4);
        EXPECT_EQ(asked, control->calibDialog()->getCount());
        EXPECT_EQ(control->calState(), ecsMANUAL_CAL_CAPTURE_POINT_IMAGE);
    }
    QTest::keyClick(control->calibDialog(), Qt::Key_Escape);
    EXPECT_TRUE(settleUntil([&] { return control->threadState() == etaTRACKING; }));
}

// The end of a target carries an index and nothing more: a length field that
// claims more (up to a whole packet) is still the end of the target, never the
// point list the run waits for after the last one.
TEST_F(SetupPathTest, PatternEndWithALongLengthFieldIsATargetEnd)
{
    const int lengths[] = {200, 208, kMaxPayload};
    for (const int length : lengths) {
        SCOPED_TRACE(length);
        auto module = bus.plug(ModuleVariant::calibrated("TLM-1"));
        start();
        BoxAnswerer boxes;
        LogCapture log;
        control->startManualCalibration();
        ASSERT_TRUE(settleUntil([&] { return module->receivedCount(CMD_MC_PATTERN_START) == 1; }));
        settle(10);
        const int starts = module->receivedCount(CMD_MC_PATTERN_START);
        std::vector<int32_t> payload(kMaxPayload / 4, 0);   // index 0, then what the module left
        module->injectPacket(kEpIn, packet(RES_MC_PATTERN_END, payload.data(), length));
        EXPECT_TRUE(settleUntil([&] { return module->receivedCount(CMD_MC_PATTERN_START) > starts; }, 300))
            << "the run stalls";
        EXPECT_EQ(control->calState(), ecsMANUAL_CAL_CAPTURE_POINT_IMAGE);
        QTest::keyClick(control->calibDialog(), Qt::Key_Escape);
        ASSERT_TRUE(settleUntil([&] { return control->threadState() == etaTRACKING; }));
        closeController();
        bus.unplug(module);
    }

    // After the last target the run waits for the point list; such an end is not it.
    for (const int length : {200, kMaxPayload}) {
        SCOPED_TRACE(length);
        auto module = bus.plug(ModuleVariant::calibrated("TLM-1"));
        start();
        touchThroughView(*module);
        FaultPlan plan;
        plan.commands.push_back({CMD_MC_GET_INPUT_POINT, 0, 1, CommandFault::Ignore});
        module->setFaults(plan);
        BoxAnswerer boxes;
        LogCapture log;
        control->startManualCalibration();
        ASSERT_TRUE(settleUntil([&] {
            return control->calState() == ecsMANUAL_CAL_WAIT_POINT_LIST && module->stats().ignored >= 1;
        }, 5000));
        std::vector<int32_t> payload(kMaxPayload / 4, 0);
        module->injectPacket(kEpIn, packet(RES_MC_PATTERN_END, payload.data(), length));
        wait(1000);
        EXPECT_EQ(log.count("calib_success ="), 0);
        EXPECT_EQ(module->receivedCount(CMD_SET_CALIB_PARAMETER), 0);
        EXPECT_EQ(module->receivedCount(CMD_MC_CANCEL), 0);
        EXPECT_EQ(control->calState(), ecsMANUAL_CAL_WAIT_POINT_LIST);
        EXPECT_TRUE(boxes.texts().isEmpty());
        QTest::keyClick(control->calibDialog(), Qt::Key_Escape);
        ASSERT_TRUE(settleUntil([&] { return control->threadState() == etaTRACKING; }));
        closeController();
        bus.unplug(module);
    }
}

TEST_F(SetupPathTest, PointListWhileATargetRunsIsNoTargetIndex)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-1"));
    start();
    control->startManualCalibration();
    ASSERT_TRUE(settleUntil([&] { return module->receivedCount(CMD_MC_PATTERN_START) == 1; }));
    settle(10);
    const int starts = module->receivedCount(CMD_MC_PATTERN_START);
    // A point list nobody asked for, while the module is on target 0.
    float points[50];
    for (int i = 0; i < 50; ++i)
        points[i] = 100.5f + i;
    module->injectPacket(kEpIn, packet(DAT_MC_INPUT_POINT, points, 200));
    wait(1000);
    // Its bytes are not read as the index of a target to start.
    EXPECT_EQ(module->receivedCount(CMD_MC_PATTERN_START), starts);
    EXPECT_EQ(control->calState(), ecsMANUAL_CAL_CAPTURE_POINT_IMAGE);
    EXPECT_EQ(module->receivedCount(CMD_SET_CALIB_PARAMETER), 0);
    QTest::keyClick(control->calibDialog(), Qt::Key_Escape);
    EXPECT_TRUE(settleUntil([&] { return control->threadState() == etaTRACKING; }));
}

// Escape ends a run also on modules that hold no calibration (nothing to go
// back to): the modules stop, the window goes and the calibration machine is
// idle again, whichever step the run was in.
TEST_F(SetupPathTest, EscapeOnAModuleWithoutCalibrationLeavesTheMachineIdle)
{
    for (const bool bAuto : {false, true}) {
        SCOPED_TRACE(bAuto ? "auto" : "manual");
        auto module = bus.plug(ModuleVariant::blank("TLM-NEW"));
        start();
        ASSERT_TRUE(control->wizardPending());
        // The module takes its time over the first step: the run is still in it.
        FaultPlan plan;
        plan.commands.push_back({bAuto ? CMD_AC_BLACK_START : CMD_MC_PATTERN_START, 0, -1, CommandFault::Ignore});
        module->setFaults(plan);
        BoxAnswerer boxes;
        if (bAuto)
            control->startAutoCalibration();
        else
            control->startManualCalibration();
        ASSERT_TRUE(settleUntil([&] { return module->stats().ignored >= 1; }, 5000));
        ASSERT_NE(control->calState(), 0);
        QTest::keyClick(control->calibDialog(), Qt::Key_Escape);
        EXPECT_TRUE(settleUntil([&] {
            return control->calState() == 0 && control->threadState() == etaNULL &&
                   !control->calibDialog()->isVisible();
        }, 500)) << "calState " << control->calState() << " threadState " << control->threadState();
        EXPECT_TRUE(boxes.texts().isEmpty());
        closeController();
        bus.unplug(module);
    }
}

// Escape in an auto run waits for the module's answer to the cancel; a mode
// the user picks meanwhile (the alignment view, or tracking again) or a
// suspend ends the run there: the calibration machine is idle, with no cancel
// left pending.
TEST_F(SetupPathTest, AnotherModeWhileAnAutoRunIsBeingCancelledLeavesTheMachineIdle)
{
    for (const int next : {int(etaDISPLAY), int(etaTRACKING), int(etaNULL)}) {
        SCOPED_TRACE(next == etaDISPLAY ? "alignment view" : next == etaTRACKING ? "tracking" : "suspend");
        const bool view = next == etaDISPLAY;
        auto module = bus.plug(ModuleVariant::calibrated("TLM-CAL"));
        start();
        ASSERT_EQ(control->threadState(), etaTRACKING);
        FaultPlan plan;
        plan.commands.push_back({CMD_AC_BLACK_START, 0, -1, CommandFault::Ignore});
        module->setFaults(plan);
        BoxAnswerer boxes;
        control->startAutoCalibration();
        ASSERT_TRUE(settleUntil([&] { return module->stats().ignored >= 1; }, 5000));
        ASSERT_NE(control->calState(), 0);
        QTest::keyClick(control->calibDialog(), Qt::Key_Escape);
        if (view)
            control->systemStateChange(esysUSER_ALIGNMENT_VIEW, 0);
        else if (next == etaTRACKING)
            control->setPenTouchMode(1);
        else
            control->systemStateChange(esysCHANGE_TO_SLEEP, -1);
        ASSERT_EQ(control->threadState(), next);
        wait(5000);   // past the cancel's grace
        EXPECT_EQ(control->calState(), 0);
        EXPECT_EQ(control->threadState(), next);
        EXPECT_FALSE(control->calibDialog()->isVisible());
        closeController();
        bus.unplug(module);
    }
}

// ---- alignment frames after the view has closed ---------------------------------------

TEST_F(SetupPathTest, FrameThatArrivesAfterTheViewClosedRequestsNoFrame)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-1"));
    start();
    control->systemStateChange(esysUSER_ALIGNMENT_VIEW, 0);
    ASSERT_EQ(control->threadState(), etaDISPLAY);
    control->resumeAfterAlignment();
    ASSERT_EQ(control->threadState(), etaTRACKING);
    settle(5);
    module->clearReceived();
    // A frame the loop delivered just before it stopped reaches the GUI thread now.
    std::vector<unsigned char> frame(640 * 360, 0x80);
    control->slotNewFrameReceived(frame.data(), static_cast<int>(frame.size()), 0);
    wait(600);
    EXPECT_EQ(module->receivedCount(CMD_SENDFRM_MONO), 0);
    EXPECT_EQ(control->threadState(), etaTRACKING);
}

// ---- two modules: what one module's loop hands over is that module's ----------------------

TEST_F(SetupPathTest, AnswersOfTwoModulesDoNotMixOnTheWayToTheGuiThread)
{
    auto modules = bus.plugAll({ModuleVariant::calibrated("TLM-L"), ModuleVariant::calibrated("TLM-R")});
    startTwo();
    ASSERT_EQ(control->threadState(), etaTRACKING);
    control->startManualCalibration();
    ASSERT_EQ(control->threadState(), etaMANUAL_CALIBRATION);
    ASSERT_TRUE(settleUntil([&] { return modules[0]->receivedCount(CMD_MC_PATTERN_START) == 1; }));
    settle(5);
    modules[0]->clearReceived();

    // Module 0 ends each step with its index 7; module 1, whose run has not
    // started, sends ends of its own with index 3 at the same time. Both loops
    // run while the GUI thread takes module 0's.
    const int32_t mine = 7, other = 3;
    constexpr int kEnds = 40;
    for (int i = 0; i < kEnds; ++i) {
        modules[0]->injectPacket(kEpIn, packet(RES_MC_PATTERN_END, &mine, 4), i * 5);
        modules[1]->injectPacket(kEpIn, packet(RES_MC_PATTERN_END, &other, 4), i * 5);
    }
    ASSERT_TRUE(settleUntil([&] { return modules[0]->receivedCount(CMD_MC_PATTERN_START) == kEnds; }, 2000));
    // The window has accepted no touch: each end repeats the module's own index.
    for (const auto &p : modules[0]->received(CMD_MC_PATTERN_START)) {
        int32_t index = -1;
        std::memcpy(&index, p.bytes.data() + 8, 4);
        EXPECT_EQ(index, mine);
    }
    QTest::keyClick(control->calibDialog(), Qt::Key_Escape);
    EXPECT_TRUE(settleUntil([&] { return control->threadState() == etaTRACKING; }));
}

TEST_F(SetupPathTest, OneModulesAnswerIsNotOverwrittenByTheOthersLoop)
{
    auto modules = bus.plugAll({ModuleVariant::calibrated("TLM-L"), ModuleVariant::calibrated("TLM-R")});
    startTwo();
    ASSERT_EQ(control->threadState(), etaTRACKING);   // both modules' loops run
    // A receiver on the GUI thread that takes its time over module 0's answer,
    // as the fit takes its time over a point list, while module 1 keeps sending.
    int seen = 0, changed = 0;
    QObject receiver;
    QObject::connect(control->device(), &tl::CamDevCtrl::sigMCNextStep, &receiver,
                     [&](int *buf, int len, int nDevNum) {
                         if (nDevNum != 0 || !buf || len < 4)
                             return;
                         ++seen;
                         const int32_t first = buf[0];
                         for (int i = 0; i < 200; ++i) {
                             QThread::usleep(100);
                             if (buf[0] != first)
                                 ++changed;
                         }
                     });
    // Set on the receive loop's thread as it hands module 0's answer on.
    std::atomic<bool> answerRead{false};
    QObject::connect(control->device(), &tl::CamDevCtrl::sigMCNextStep, &receiver,
                     [&](int *, int, int nDevNum) {
                         if (nDevNum == 0)
                             answerRead = true;
                     },
                     Qt::DirectConnection);
    const int32_t mine = 7, other = 3;
    modules[0]->injectPacket(kEpIn, packet(RES_MC_PATTERN_END, &mine, 4));
    // Module 0's answer has been read; its signal waits for the GUI thread.
    ASSERT_TRUE(tl::test::sleepUntil([&] { return answerRead.load(); }, 10000));
    for (int i = 0; i < 20; ++i)
        modules[1]->injectPacket(kEpIn, packet(RES_MC_PATTERN_END, &other, 4), 2 + i);
    QCoreApplication::processEvents();
    settle(5);
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(changed, 0);
}

} // namespace
