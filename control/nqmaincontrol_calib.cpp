// The two calibration sequences of the controller: auto calibration (the
// module photographs black, white and the marker pattern; the host finds the
// pattern and fits the camera-to-window model) and manual calibration (the user
// touches the targets; the module reports where it saw the pen). Both run module
// by module, upload the 13 parameters and end in tracking.

#include "control/nqmaincontrol.h"

#include "calibration/CalibDlg.h"
#include "calibration/CalibWorkspace.h"
#include "calibration/CalibrationFit.h"
#include "calibration/PatternRecognition.h"
#include "device/CamDevCtrl.h"
#include "device/codec/Commands.h"
#include "platform/Clock.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"

#include <QDebug>
#include <QTimer>

#include <opencv2/core.hpp>

#include <cstring>

using namespace tl::codec;
using tl::machines::CalibrationAction;
using tl::machines::CaptureKind;

namespace {

constexpr int kAutoPointCount = 20;
constexpr int kCaptureWidth = 1280;
constexpr int kCaptureHeight = 720;
constexpr int kCaptureBytes = kCaptureWidth * kCaptureHeight;  // one byte per pixel
constexpr int kCaptureBytesWide = 2 * kCaptureBytes;            // two bytes per pixel: advances only
constexpr int kManualListBytes = 200;                          // 25 float pairs
// After Escape in an auto run the module's next answer ends the run; a module
// that gives none within this much driver time does not keep it going.
constexpr int kCancelGraceMs = 3000;

// The auto states that wait for an image (the others wait for the end of a capture).
bool waitsForImage(int calState)
{
    return tl::machines::calibrationTransition(calState, tl::machines::CalibrationEvent::Image) != nullptr;
}

// A grey QImage seen as an 8-bit OpenCV image (no copy).
cv::Mat matOf(QImage &image)
{
    return cv::Mat(image.height(), image.width(), CV_8UC1, image.bits(), static_cast<size_t>(image.bytesPerLine()));
}

void logParameters(const tl::FitResult &fit)
{
    qDebug().noquote() << QString::asprintf("calib_success = %d", fit.success ? 1 : 0);
    qDebug().noquote() << "-- tp --";
    for (int i = 0; i < 13; ++i)
        qDebug().noquote() << QString::asprintf("m_tp[%2d] = %e;", i, fit.parameters[i]);
    qDebug().noquote() << QString::asprintf("ac_loop = %d", fit.loops);
    qDebug().noquote() << QString::asprintf("ac_sse  = %f", fit.sse);
}

// A run starts from a clean workspace: the pattern tables (all slots, not only
// the run's count) and the last fit's figures, which a failed precondition (or
// a run with no pattern points at all) would otherwise leave from an earlier
// run for whoever reads them there.
void clearFitFigures()
{
    tl::CalibWorkspace &ws = tl::calibWorkspace();
    ws.ac_loop = 0;
    ws.ac_sse = 0.0;
    ws.calib_success = false;
    for (int k = 0; k < tl::CalibWorkspace::kSlots; ++k) {
        ws.ac_pattern_center_org[k] = cv::Point2f(0, 0);
        ws.ac_pattern_center_twk[k] = cv::Point2f(0, 0);
    }
}

void logPointList(const char *title, const cv::Point2f *points, int n)
{
    qDebug().noquote() << title;
    for (int i = 0; i < n; ++i)
        qDebug().noquote() << QString::asprintf("%2d: %.2f, %.2f", i, double(points[i].x), double(points[i].y));
}

} // namespace

int nqmaincontrol::manualPointOrder(int k, int side, int ceiling, int rear)
{
    if (side < 1 || k < 0 || k >= side * side)
        return -1;
    const int i = k / side;
    const int j = k % side;
    const int last = side - 1;
    if (!ceiling && !rear)
        return side * j + i;
    if (!ceiling && rear)
        return side * (last - j) + i;
    if (ceiling && !rear)
        return side * (last - j) + (last - i);
    return side * j + (last - i);
}

bool nqmaincontrol::calibrationStartChecks()
{
    if (m_modelType[0] == 0)
        return false;
    if (m_psDataMgr->getNumOfCamDevice() == 2) {
        if (m_modelType[1] == 0)
            return false;
        if (m_modelType[0] != m_modelType[1]) {
            showMessage(QStringLiteral("Please connect two projectors of same type."));
            return false;
        }
    }
    const int lensCode = lensCodeForLens(m_psDataMgr->getLensSelect());
    m_device->setMcPointCounts(m_modelType[0], lensCode);
    tl::setCalibPointCounts(lensCode);
    m_run.cancelRequested = false;
    m_run.cancelDeadlineMs = -1;
    return true;
}

void nqmaincontrol::startAutoCalibration()
{
    const Transition busy(this);
    if (!calibrationStartChecks())
        return;
    systemStateChange(esysUSER_AUTO_CAL_START, 0);
}

void nqmaincontrol::startManualCalibration()
{
    const Transition busy(this);
    if (!calibrationStartChecks())
        return;
    systemStateChange(esysUSER_MANUAL_CAL_START, 0);
}

bool nqmaincontrol::prepareCalibrationWindow(int nDevNum, bool bAuto)
{
    // The window's show turns the event loop until it is presented: the user's
    // Escape, a suspend or a removed module handled meanwhile stops the modules
    // and decides what they do next. The run that opened the window then ends
    // here; going on would put the modules into calibration under that.
    const quint64 stops = m_nStops;
    m_calibDlg->hide();
    if (bAuto) {
        m_calibDlg->showOnMonitor(nDevNum, CalibDlg::ModeBlack);
        m_calibDlg->prepareAutoPattern();
    } else {
        m_calibDlg->showOnMonitor(nDevNum, CalibDlg::ModeManual);
        m_calibDlg->startMarkRing(false);
        m_calibDlg->setCount(0);
        m_calibDlg->prepareManualMarks();
    }
    m_calibDlg->showDisplay();
    if (m_nStops == stops)
        return true;
    qDebug() << "nqmaincontrol::prepareCalibrationWindow(): the modules were stopped while the window opened,"
             << "the run ends, module" << nDevNum;
    return false;
}

// How a module's run starts, once threadStateChange has stopped the modules.
void nqmaincontrol::enterManualCalibration(const tl::machines::ThreadRow &row, int nDevNum, int reverse)
{
    if (!prepareCalibrationWindow(nDevNum, false))
        return;
    setThreadState(row.state, nDevNum);
    m_device->StartRecvThread(0, reverse);
    setCalibrationState(row.calState, row.name, nDevNum);
    m_device->SendCommand(nullptr, CMD_MC_START, 0, nDevNum, false);
    tl::Clock::sleepMs(200);
    const qint32 rev = reverse;
    m_device->SendCommand(&rev, CMD_SET_IMAGE_REVERSE, 4, nDevNum, false);
    tl::Clock::sleepMs(200);
    const qint32 first = 0;
    m_device->SendCommand(&first, CMD_MC_PATTERN_START, 4, nDevNum, false);
}

void nqmaincontrol::enterAutoCalibration(const tl::machines::ThreadRow &row, int nDevNum, int reverse, int lensCode)
{
    clearCalibrationImages();
    if (!prepareCalibrationWindow(nDevNum, true))
        return;
    setThreadState(row.state, nDevNum);
    m_device->StartRecvThread(0, reverse);
    setCalibrationState(row.calState, row.name, nDevNum);
    tl::Clock::sleepMs(200);
    const qint32 rev = reverse;
    m_device->SendCommand(&rev, CMD_SET_IMAGE_REVERSE, 4, nDevNum, false);
    tl::Clock::sleepMs(200);
    m_device->send_ac_black_start(lensCode, nDevNum, m_nFwParam);
}

// ---- auto calibration -------------------------------------------------------

void nqmaincontrol::requestCapture(CaptureKind kind, int nDevNum)
{
    m_run.captureTimer = QDateTime::fromMSecsSinceEpoch(tl::Clock::nowMs());
    m_run.capture = kind;
    m_device->sendAcImageRequest(static_cast<uint8_t>(kind), 0, nDevNum);
}

int nqmaincontrol::captureElapsedMs() const
{
    return static_cast<int>(tl::Clock::nowMs() - m_run.captureTimer.toMSecsSinceEpoch());
}

bool nqmaincontrol::calibrationEventFor(int nDevNum, int threadState) const
{
    // Every module's receive loop runs during a calibration: an answer counts
    // only from the module being calibrated, and only while its run goes on.
    return m_threadState == threadState && m_calState != 0 && m_calibDlg->devNum() == nDevNum;
}

void nqmaincontrol::armCancelDeadline(int nDevNum)
{
    const qint64 due = tl::Clock::nowMs() + kCancelGraceMs;
    m_run.cancelDeadlineMs = due;
    QTimer::singleShot(tl::Clock::wallMs(kCancelGraceMs), this, [this, nDevNum, due] {
        if (m_run.cancelDeadlineMs != due || !m_run.cancelRequested || m_threadState != etaAUTO_CALIBRATION ||
            m_calState == 0)
            return;
        qDebug() << "nqmaincontrol: no answer from module" << nDevNum << "after the cancel, calState" << m_calState;
        setCalibrationState(ecsIDLE_CALIBRATION, "cancel", nDevNum);
        calDlgWorkingDone(nDevNum);
    });
}

void nqmaincontrol::slotACNextStep(int nDevNum)
{
    const Transition busy(this);
    if (!calibrationEventFor(nDevNum, etaAUTO_CALIBRATION)) {
        qDebug() << "nqmaincontrol::slotACNextStep(): no auto calibration waits for module" << nDevNum;
        return;
    }
    autoCalibrationStep(nDevNum, false);
}

void nqmaincontrol::autoCalibrationStep(int nDevNum, bool image)
{
    if (m_run.cancelRequested) {
        qDebug() << "nqmaincontrol::slotACNextStep(): AutoCalib Canceled" << nDevNum;
        setCalibrationState(ecsIDLE_CALIBRATION, "cancel", nDevNum);
        calDlgWorkingDone(nDevNum);
        return;
    }
    if (m_calibDlg->isHidden()) {
        qDebug() << "nqmaincontrol::slotACNextStep(): CalibDlg is hidden, maybe AutoCalib Canceled" << nDevNum;
        setCalibrationState(ecsIDLE_CALIBRATION, "window hidden", nDevNum);
        calDlgWorkingDone(nDevNum);
        return;
    }
    // An end where an image is due (or an image where an end is due) is not the
    // step the state waits for: the sequence keeps waiting for that one.
    if (m_calState <= ecsAUTO_CAL_GET_PATTERN_IMAGE && waitsForImage(m_calState) != image) {
        qDebug().noquote() << QString::asprintf("slotACNextStep: calState %d waits for %s, %s ignored", m_calState,
                                                waitsForImage(m_calState) ? "an image" : "a capture end",
                                                image ? "an image" : "a capture end");
        return;
    }

    calibrationStep(image ? CalibrationEvent::Image : CalibrationEvent::CaptureEnd, nDevNum, nullptr, 0);
}

// The calibration machine: the current state's row for the event says what
// the step does and where it goes (StateMachines.cpp). An event the state
// takes no row for changes nothing.
void nqmaincontrol::calibrationStep(CalibrationEvent event, int nDevNum, const int *buf, int len)
{
    const CalibrationStep *step = tl::machines::calibrationTransition(m_calState, event);
    if (!step)
        return;
    switch (step->action) {
    case CalibrationAction::FetchImage:
        onCaptureEnd(*step, nDevNum);
        break;
    case CalibrationAction::NextCapture:
        onCaptureImage(*step, nDevNum);
        break;
    case CalibrationAction::FetchPattern:
        onPatternCaptured(*step, nDevNum);
        break;
    case CalibrationAction::EvaluateAuto:
        if (m_run.capture != step->kind)
            break;
        if (evaluateAutoCalibration(nDevNum))
            setCalibrationState(step->to, tl::machines::eventName(event), nDevNum);
        break;
    case CalibrationAction::NextTarget:
        onManualTargetEnd(*step, buf, len, nDevNum);
        break;
    case CalibrationAction::EvaluateManual:
        if (evaluateManualCalibration(buf, nDevNum))
            setCalibrationState(step->to, tl::machines::eventName(event), nDevNum);
        break;
    case CalibrationAction::ModuleEnd:
        logCalibrationChange(step->from, step->to, tl::machines::eventName(event), nDevNum);
        onParametersStored(step->from == ecsAUTO_CAL_WAIT_STORED, nDevNum);
        break;
    }
}

// The end of the black or white capture: the window shows the next screen and
// the captured image is asked for. The window's synchronous repaint runs the
// event loop: the state moves on before it, so that an answer handled
// meanwhile meets the state it belongs to.
void nqmaincontrol::onCaptureEnd(const CalibrationStep &step, int nDevNum)
{
    setCalibrationState(step.to, tl::machines::eventName(step.event), nDevNum);
    m_calibDlg->setDisplayMode(step.kind == CaptureKind::Black ? CalibDlg::ModeWhite : CalibDlg::ModePattern);
    requestCapture(step.kind, nDevNum);
}

// The black or white image is stored: the module captures the next screen.
void nqmaincontrol::onCaptureImage(const CalibrationStep &step, int nDevNum)
{
    const qint32 elapsed = captureElapsedMs();
    const int32_t next = step.kind == CaptureKind::Black ? CMD_AC_WHITE_START : CMD_AC_PATTERN_START;
    m_device->SendCommand(&elapsed, next, 4, nDevNum, false);
    setCalibrationState(step.to, tl::machines::eventName(step.event), nDevNum);
}

void nqmaincontrol::onPatternCaptured(const CalibrationStep &step, int nDevNum)
{
    tl::Clock::sleepMs(100);
    m_run.capture = step.kind;
    m_device->sendAcImageRequest(static_cast<uint8_t>(step.kind), 0, nDevNum);
    setCalibrationState(step.to, tl::machines::eventName(step.event), nDevNum);
}

void nqmaincontrol::slotNewACImageReceived(unsigned char *buf, int size, int nDevNum)
{
    const Transition busy(this);
    if (size != kCaptureBytes && size != kCaptureBytesWide)
        return;
    if (!calibrationEventFor(nDevNum, etaAUTO_CALIBRATION)) {
        qDebug() << "nqmaincontrol::slotNewACImageReceived(): no auto calibration waits for module" << nDevNum;
        return;
    }
    // An image nobody waits for (sent twice, or unasked) must not replace one
    // already stored for the fit.
    if (size == kCaptureBytes && buf && waitsForImage(m_calState)) {
        // Only the image's own 921,600 bytes are copied, whatever else the buffer holds.
        const int slot = CalibrationRun::imageSlot(m_run.capture);
        QImage &dest = m_calibImages[slot];
        for (int y = 0; y < kCaptureHeight; ++y)
            std::memcpy(dest.scanLine(y), buf + y * kCaptureWidth, kCaptureWidth);
        m_run.storedImages |= 1 << slot;
    } else if (size == kCaptureBytesWide && waitsForImage(m_calState)) {
        // The run moves on, but this capture is not one the fit can use.
        qDebug() << "nqmaincontrol::slotNewACImageReceived(): image" << static_cast<int>(m_run.capture) << "of" << size
                 << "bytes is not stored, module" << nDevNum;
    }
    autoCalibrationStep(nDevNum, true);
}

void nqmaincontrol::clearCalibrationImages()
{
    for (int i = 0; i < 3; ++i)
        m_calibImages[i].fill(0);
    m_run.storedImages = 0;
}

bool nqmaincontrol::evaluateAutoCalibration(int nDevNum)
{
    // The fit uses this run's black, white and pattern images of this module,
    // never what an earlier run (or the other module) left.
    if (m_run.storedImages != CalibrationRun::kAllImages) {
        qDebug() << "nqmaincontrol::evaluateAutoCalibration(): images stored in this run:" << m_run.storedImages
                 << "of" << CalibrationRun::kAllImages << ", no fit, module" << nDevNum;
        StopOrNextCalibration(true, 0, nDevNum);
        return false;
    }
    const qint64 threadCpuStart = tl::threadCpuNs();
    cv::Mat working = matOf(m_calibImages[3]);
    cv::Mat normalized;
    tl::makeNormalizedPatternImage(matOf(m_calibImages[0]), matOf(m_calibImages[1]), matOf(m_calibImages[2]),
                                   normalized);
    if (normalized.size() == working.size() && normalized.type() == working.type())
        normalized.copyTo(working);

    int width = 0, height = 0;
    m_calibDlg->getWindowSize(width, height);
    const int lensCode = lensCodeForLens(m_psDataMgr->getLensSelect());
    const int reverse = reverseForLens(m_psDataMgr->getLensSelect());
    tl::setCalibInformation(m_calibDlg->getFitPoints(), kAutoPointCount, m_calibDlg->ceiling(), m_calibDlg->rear(),
                            width, height, lensCode, m_nFwParam, m_calibDlg->penType());
    clearFitFigures();
    const tl::PatternSearchResult search = tl::AC_FindPatternCenter(working);
    double tp[13] = {};
    m_run.fit = tl::AC_CallCalcCalibParameter(tp);
    const tl::FitResult &fit = m_run.fit;
    // This thread's CPU and the search's worker threads', not the rest of the process.
    const double threadCpu = (tl::threadCpuNs() - threadCpuStart) / 1e9;
    const double workerCpu = search.workerCpuNs / 1e9;
    qDebug().noquote() << QString::asprintf("evaluation cpu: %.3f s (evaluating thread %.3f s, search workers %.3f s)",
                                            threadCpu + workerCpu, threadCpu, workerCpu);

    logParameters(fit);
    logPointList("-- ac_pattern_center_org --", search.found, kAutoPointCount);
    logPointList("-- ac_pattern_center_twk --", search.foundTweaked, kAutoPointCount);

    if (fit.success) {
        const int yThreshold = tl::calcYThreshold(fit.parameters, width, height);
        m_device->send_set_calib_parameter(fit.parameters, m_calibDlg->ceiling(), m_calibDlg->rear(), width, height,
                                           lensCode, reverse, false, 0, nullptr, true, yThreshold, yThreshold,
                                           nDevNum, m_nFwParam);
        return true;
    }
    StopOrNextCalibration(true, 0, nDevNum);
    return false;
}

// ---- manual calibration -----------------------------------------------------

void nqmaincontrol::slotMCDone()
{
    const Transition busy(this);
    // The module saw the pen on the target: only a manual run that waits for a
    // touch turns the ring. A late or stray report would start the ring timer
    // of a hidden (or automatic) calibration window, and nothing stops it.
    if (m_threadState != etaMANUAL_CALIBRATION || m_calState != ecsMANUAL_CAL_CAPTURE_POINT_IMAGE || !m_calibDlg->isVisible()) {
        qDebug() << "nqmaincontrol::slotMCDone(): no manual calibration waits for a touch";
        return;
    }
    m_calibDlg->setTouchAccepted(false);
    m_calibDlg->startMarkRing(true);
}

void nqmaincontrol::slotMCNextStepPointer()
{
    const Transition busy(this);
    qDebug() << "slotMCNextStepPointer";
    m_calibDlg->setTouchAccepted(true);
    m_calibDlg->startMarkRing(false);
    m_calibDlg->incCount();
    m_calibDlg->nextMark();
}

void nqmaincontrol::slotMCPrevStepPointer(int nDevNum)
{
    const Transition busy(this);
    if (m_calState != ecsMANUAL_CAL_CAPTURE_POINT_IMAGE || m_calibDlg->getCount() <= 0)
        return;
    m_calibDlg->setTouchAccepted(true);
    m_calibDlg->startMarkRing(false);
    m_calibDlg->decCount();
    m_calibDlg->prevMark();
    int index = m_calibDlg->getCount();
    slotMCNextStep(&index, 4, nDevNum);
}

void nqmaincontrol::slotMCNextStep(int *buf, int len, int nDevNum)
{
    const Transition busy(this);
    if (!calibrationEventFor(nDevNum, etaMANUAL_CALIBRATION)) {
        qDebug() << "nqmaincontrol::slotMCNextStep(): no manual calibration waits for module" << nDevNum;
        return;
    }
    // The module's point list is 200 bytes; anything else ends a target step.
    calibrationStep(len == kManualListBytes && buf ? CalibrationEvent::PointList : CalibrationEvent::PatternEnd,
                    nDevNum, buf, len);
}

// The module ended the step of a target: the next target when the window
// accepted the touch (the point list after the last one), else the same again.
void nqmaincontrol::onManualTargetEnd(const CalibrationStep &step, const int *buf, int len, int nDevNum)
{
    // An end without its index (a length field below 4) still ends the step:
    // the target is the one the window shows. So does an end whose index names
    // no target: sent back, the module would ignore it and the run would stall.
    const bool hasIndex = buf && len >= 4;
    const int targets = std::clamp(tl::calibWorkspace().mc_point_count, 0, tl::CalibWorkspace::kSlots);
    if (!hasIndex)
        qDebug() << "slotMCNextStep: no index, length" << len << "module" << nDevNum;
    else if (buf[0] < 0 || buf[0] >= targets)
        qDebug() << "slotMCNextStep: index" << buf[0] << "names no target of" << targets << "module" << nDevNum;
    int curidx = hasIndex && buf[0] >= 0 && buf[0] < targets ? buf[0] : m_calibDlg->getCount();
    if (m_calibDlg->isTouchAccepted()) {
        curidx = m_calibDlg->getCount();
        if (curidx == tl::calibWorkspace().mc_point_count) {
            setCalibrationState(step.orElse, tl::machines::eventName(step.event), nDevNum);
            m_device->SendCommand(nullptr, CMD_MC_GET_INPUT_POINT, 0, nDevNum, false);
            return;
        }
        m_calibDlg->setTouchAccepted(false);
    } else {
        m_calibDlg->startMarkRing(false);
        m_calibDlg->setDisplayMode(CalibDlg::ModeKeep);
        qDebug().noquote() << QString::asprintf("slotMCNextStep: curidx = %d, m_psCalibDlg->getCount() = %d",
                                                curidx, m_calibDlg->getCount());
    }
    const qint32 index = curidx;
    // The state stays (step.to): the repaint above may have ended the run meanwhile.
    m_device->SendCommand(&index, CMD_MC_PATTERN_START, 4, nDevNum, false);
}

bool nqmaincontrol::evaluateManualCalibration(const int *buf, int nDevNum)
{
    const int count = std::clamp(tl::calibWorkspace().mc_point_count, 0, 25);
    const int side = count == 25 ? 5 : 4;
    const int ceiling = m_calibDlg->ceiling();
    const int rear = m_calibDlg->rear();

    // The module's 25 float pairs, read as bytes (the signal carries them in an int buffer).
    float module[2 * 25];
    std::memcpy(module, buf, sizeof module);

    tl::CalibWorkspace &ws = tl::calibWorkspace();
    const cv::Point2f *window = m_calibDlg->getPoints();
    cv::Point2f targets[25];
    cv::Point2f touched[25];
    for (int k = 0; k < count && k < side * side; ++k) {
        const int i = k / side;
        const int j = k % side;
        targets[k] = window[side * j + i];
        const int m = manualPointOrder(k, side, ceiling, rear);
        touched[k] = cv::Point2f(module[2 * m], module[2 * m + 1]);
    }

    int width = 0, height = 0;
    m_calibDlg->getWindowSize(width, height);
    const int lensCode = lensCodeForLens(m_psDataMgr->getLensSelect());
    const int reverse = reverseForLens(m_psDataMgr->getLensSelect());
    tl::setCalibInformation(targets, count, ceiling, rear, width, height, lensCode, m_nFwParam,
                            m_calibDlg->penType());
    clearFitFigures();
    for (int k = 0; k < count; ++k)
        ws.ac_pattern_center_twk[k] = touched[k];
    double tp[13] = {};
    m_run.fit = tl::MC_CallCalcCalibParameter(tp);
    const tl::FitResult &fit = m_run.fit;

    logParameters(fit);
    logPointList("-- ac_pattern_center_twk --", touched, count);

    if (fit.success) {
        const int yThreshold = tl::calcYThreshold(fit.parameters, width, height);
        m_device->send_set_calib_parameter(fit.parameters, ceiling, rear, width, height, lensCode, reverse, false, 0,
                                           nullptr, true, yThreshold, yThreshold, nDevNum, m_nFwParam);
        return true;
    }
    m_device->SendCommand(nullptr, CMD_MC_CANCEL, 0, nDevNum, false);
    StopOrNextCalibration(false, 0, nDevNum);
    return false;
}

// ---- end of one module --------------------------------------------------------

void nqmaincontrol::slotCalibReadyEnd(int nDevNum)
{
    const Transition busy(this);
    qDebug() << "slotCalibReadyEnd:" << nDevNum << m_threadState;
    // Only the module that was sent the parameters, in the run that sent them,
    // ends its calibration with this.
    const bool waited = (m_calState == ecsAUTO_CAL_WAIT_STORED && calibrationEventFor(nDevNum, etaAUTO_CALIBRATION)) ||
                        (m_calState == ecsMANUAL_CAL_WAIT_STORED &&
                         calibrationEventFor(nDevNum, etaMANUAL_CALIBRATION));
    if (!waited)
        return;
    calibrationStep(CalibrationEvent::Stored, nDevNum, nullptr, 0);
}

// The module stored what was uploaded: it holds a calibration from now on, as
// its EEPROM will say at the next opening.
void nqmaincontrol::onParametersStored(bool bAuto, int nDevNum)
{
    const bool success = m_run.fit.success;
    if (success)
        m_device->markCalibrated(nDevNum);
    StopOrNextCalibration(bAuto, success ? 1 : 0, nDevNum);
}

void nqmaincontrol::StopOrNextCalibration(bool bAuto, int result, int nDevNum)
{
    const Transition busy(this);
    if (m_run.cancelRequested) {
        qDebug() << "nqmaincontrol::StopOrNextCalibration(): AutoCalib Canceled" << nDevNum;
        setCalibrationState(ecsIDLE_CALIBRATION, "cancel", nDevNum);
        calDlgWorkingDone(nDevNum);
        return;
    }
    qDebug() << "StopOrNextCalibration:" << nDevNum << "bAuto =" << bAuto << "result =" << result;
    if (nDevNum != 0 && nDevNum != 1)
        return;
    m_run.result[nDevNum] = result;

    const int count = m_psDataMgr->getNumOfCamDevice();
    if (nDevNum + 1 >= count) {
        m_calibDlg->hide();
        systemStateCalbrationChange(nDevNum, ecsIDLE_CALIBRATION);
        bool failed = false;
        for (int i = 0; i < count && i < 2; ++i)
            failed = failed || m_run.result[i] == 0;
        if (failed) {
            NotifyWait(false);
            showMessage(m_language ? m_language->messageText(13)
                                   : QStringLiteral("Calibration failed. Please try again."));
        }
        return;
    }
    systemStateChange(bAuto ? esysUSER_AUTO_CAL_START_NEXT_DEVICE : esysUSER_MANUAL_CAL_START_NEXT_DEVICE, 0);
}
