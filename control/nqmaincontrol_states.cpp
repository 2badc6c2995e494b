// nqmaincontrol: the system, calibration and thread state machines.
#include "control/nqmaincontrol.h"

#include "calibration/CalibDlg.h"

#include "calibration/WaitDlg.h"
#include "device/CamDevCtrl.h"
#include "device/codec/Commands.h"
#include "input/InputInjection.h"
#include "input/NqUtils.h"
#include "platform/Clock.h"
#include "settings/ConfigFileRW.h"

#include <QDebug>

using tl::CamDevCtrl;
using namespace tl::codec;
using tl::machines::SystemAction;
using tl::machines::ThreadAction;

void nqmaincontrol::stopReceiveThreads()
{
    m_device->StopRecvThread();
}

// One step of the calibration flow: the calibration state, then the receive
// loops stopped, then the thread state machine asked for the next state.
void nqmaincontrol::enterCalibrationState(int eCalState, int nDevNum, int eNextThreadState)
{
    m_calState = eCalState;
    stopReceiveThreads();
    emit callChangeNextThreadState(nDevNum, eNextThreadState);
}

// A row of the system machine that starts a calibration step logs it as the
// calibration machine logs its own rows, with the module it acts on.
void nqmaincontrol::calibrationRow(int eCalState, int nDevNum, int eNextThreadState)
{
    qDebug() << "nqmaincontrol::systemStateCalbrationChange():" << calibrationStateName(eCalState) << nDevNum;
    enterCalibrationState(eCalState, nDevNum, eNextThreadState);
}

// The system machine: the row of the requested state says what it sets off
// and which calibration and acquisition states it leads to.
void nqmaincontrol::systemStateChange(int eState, int nDevNum)
{
    const Transition busy(this);
    qDebug() << "nqmaincontrol::systemStateChange():" << systemStateName(eState) << nDevNum;
    m_systemState = eState;

    const tl::machines::SystemRow &row = tl::machines::systemRow(eState);
    switch (row.action) {
    case SystemAction::Idle:
        systemStateCalbrationChange(nDevNum, row.calState);
        break;
    case SystemAction::Connect:
        NotifyWait(true);
        initDeviceCheck();
        connectTail();
        break;
    case SystemAction::DeviceChange:
        NotifyWait(true);
        if (!suspendDeviceCheck(eState)) {
            NotifyWait(false);
            break;
        }
        connectTail();
        break;
    case SystemAction::Sleep:
        StopDevice();
        m_bConnectionStatus = false;
        break;
    case SystemAction::WakeUp:
        NotifyWait(true);
        suspendDeviceCheck(eState);
        connectTail();
        break;
    case SystemAction::DisplayChange:
        displayChanged();
        break;
    case SystemAction::AlignmentView:
        stopReceiveThreads();
        emit callChangeNextThreadState(nDevNum, row.threadState);
        break;
    case SystemAction::BackToTracking:
        if (calibrationReady(m_psDataMgr->displayMode()))
            systemStateCalbrationChange(nDevNum, row.calState);
        break;
    case SystemAction::CalibrationStart:
        closeMessage();
        m_run.result[0] = m_run.result[1] = 0;
        calibrationRow(row.calState, nDevNum + row.nextModule, row.threadState);
        break;
    case SystemAction::CalibrationRow:
        calibrationRow(row.calState, nDevNum + row.nextModule, row.threadState);
        break;
    case SystemAction::None:
        break;
    }
}

void nqmaincontrol::displayChanged()
{
    // Touch devices follow the monitors also while no module is connected.
    m_injection->desktopChanged(&m_sInjectionMessage);
    m_bTouchInjection = m_injection->touchInjectionAvailable();
    if (!m_bConnectionStatus)
        return;
    const QRect before = m_psDisplayInfo.isEmpty() ? QRect() : m_psDisplayInfo[0].sDisplayRect;
    GetMonitorInf();
    // The program is closing (asked while the geometry message was up): no
    // wait for the layout and no tracking for it.
    if (m_bCloseRequested)
        return;
    configureInjectorLayout();
    const QRect after = m_psDisplayInfo.isEmpty() ? QRect() : m_psDisplayInfo[0].sDisplayRect;
    if (after.right() == before.right() && after.bottom() == before.bottom())
        return;
    // The window system reports the change before the new layout has settled.
    tl::Clock::sleepMs(4000);
    if (calibrationReady(m_psDataMgr->displayMode()) && m_psDataMgr->getNumOfCamDevice() > 0)
        systemStateCalbrationChange(0, ecsIDLE_CALIBRATION);
}

void nqmaincontrol::connectTail()
{
    if (!m_bConnectionStatus) {
        NotifyWait(false);
        return;
    }
    // The geometry message waits for the user: what stopped the modules while
    // it was up (a suspend, a removed module) decided what they do next.
    const quint64 stops = m_nStops;
    GetMonitorInf();
    // The program is closing (asked while the geometry message was up): no
    // tracking is started for it.
    if (m_bCloseRequested) {
        NotifyWait(false);
        return;
    }
    if (m_nStops != stops) {
        qDebug() << "nqmaincontrol::connectTail(): the modules were stopped while the message was up, no tracking"
                 << "started";
        NotifyWait(false);
        return;
    }
    const int mode = m_psDataMgr->displayMode();
    qDebug() << "nqmaincontrol::systemStateChange(): eDisplayMode =" << mode;
    if (mode != 1 && mode != 2) {
        NotifyWait(false);
        return;
    }

    const int count = m_psDataMgr->getNumOfCamDevice();
    qDebug() << "FirmwareLoad:" << count;
    if (count > 0) {
        m_psDataMgr->loadParam();
        m_bParamRead = true;
        m_bCeilingInFile = m_psDataMgr->getCheckCeiling();
        if (count == 2 && m_psDataMgr->checkDeviceSwap() && m_bConnectionStatus) {
            m_device->exchangeDeviceSlots();
            m_device->openDevices();
            copySerialsToRecords();
            FirmwareSave_Param();
        }
    }
    if (!calibrationReady(mode)) {
        // Nothing will track: the cover comes down here. The main window may
        // open the wizard in its setup mode next, but not on every path (a
        // module whose firmware is not recognised opens none), and the cover
        // stays above every window until someone hides it.
        NotifyWait(false);
        m_bWizardPending = true;
        return;
    }
    systemStateCalbrationChange(0, ecsIDLE_CALIBRATION);
}

// The calibration machine's entry: the state's row says which acquisition
// state it asks for (none: the state is only stored).
void nqmaincontrol::systemStateCalbrationChange(int nDevNum, int eCalState)
{
    const Transition busy(this);
    qDebug() << "nqmaincontrol::systemStateCalbrationChange():" << calibrationStateName(eCalState) << nDevNum;
    m_calState = eCalState;
    const int next = tl::machines::calibrationStateRow(eCalState).threadState;
    if (next == tl::machines::kNone)
        return;
    if (next != etaTRACKING) {
        enterCalibrationState(eCalState, nDevNum, next);
        return;
    }
    // The cover's show turns the event loop: what stopped the modules
    // meanwhile (a suspend, a removed module, another mode) decided what they
    // do next, and tracking is not started under it.
    const quint64 stops = m_nStops;
    NotifyWait(true);
    if (m_nStops != stops) {
        qDebug() << "nqmaincontrol::systemStateCalbrationChange(): the modules were stopped while the cover"
                 << "opened, no tracking started";
        NotifyWait(false);
        return;
    }
    stopReceiveThreads();
    QList<QRect> monitors;
    NqUtils::getWindowRectAll(monitors);
    QRect screen = monitors.size() == 1 ? monitors[0] : QRect();
    if (monitors.size() != 1 && !m_psDisplayInfo.isEmpty())
        screen = m_psDisplayInfo[0].sDisplayRect;
    m_injection->setScreenSize(screen.width(), screen.height());
    emit callChangeNextThreadState(nDevNum, next);
}

// The acquisition machine: every change stops the modules, then the row of
// the requested state says how it starts.
void nqmaincontrol::threadStateChange(int nDevNum, int eNextState)
{
    const Transition busy(this);
    qDebug() << "nqmaincontrol::threadStateChange():" << threadStateName(eNextState) << nDevNum;
    StopDevice();
    // Tracking reports reach the injector only while the system tracks: one a
    // module sends while it calibrates would put down a contact that nothing
    // lifts (the loops have ended here, none reads the sink).
    m_device->setTrackingSink(eNextState == etaTRACKING ? m_injection.get() : nullptr);
    const int lens = m_psDataMgr->getLensSelect();
    const int reverse = reverseForLens(lens);

    const tl::machines::ThreadRow &row = tl::machines::threadRow(eNextState);
    switch (row.action) {
    case ThreadAction::Frames:
        setThreadState(row.state, nDevNum);
        m_device->StartRecvThread(1, reverse);
        break;
    case ThreadAction::ManualCalibration:
        enterManualCalibration(row, nDevNum, reverse);
        break;
    case ThreadAction::AutoCalibration:
        enterAutoCalibration(row, nDevNum, reverse, lensCodeForLens(lens));
        break;
    case ThreadAction::Tracking:
        startTracking(reverse);
        break;
    case ThreadAction::None:
        break;
    }
}

void nqmaincontrol::startTracking(int reverse)
{
    qDebug() << "etaTRACKING";
    m_calibDlg->hide();
    if (m_modelType[0] != 0)
        configureInjectorLayout();
    const int count = m_psDataMgr->getNumOfCamDevice();
    for (int i = 0; i < count && i < 2; ++i) {
        const qint32 finger = m_psDataMgr->getPenTouchMode() == 1 ? 1 : 0;
        m_device->SendCommand(&finger, CMD_SET_FINGER_TOUCH_MODE, 4, i, false);
        tl::Clock::sleepMs(200);
        const qint32 transfer = 2;
        m_device->SendCommand(&transfer, CMD_SET_TRANSFER_MODE, 4, i, false);
        tl::Clock::sleepMs(200);
        m_device->SendCommand(nullptr, CMD_START_TRACKING, 0, i, false);
        tl::Clock::sleepMs(200);
    }
    m_injection->resetTracking(0);
    m_injection->resetTracking(1);
    setThreadState(etaTRACKING, -1);
    m_device->StartRecvThread(0, reverse);
    NotifyWait(false);
}

void nqmaincontrol::StopDevice()
{
    qDebug() << "nqmaincontrol::StopDevice() - 1";
    m_device->StopRecvThread();
    ++m_nStops;
    qDebug() << "nqmaincontrol::StopDevice() - 2";
    if (m_threadState == etaTRACKING)
        m_injection->releaseAllContacts();
    setThreadState(etaNULL, -1);
    // With the loops the run stops too, also one whose cancel still waits for
    // the module's answer: nothing of it may act later (a new run sets its
    // own state after this).
    setCalibrationState(ecsIDLE_CALIBRATION, "stop", -1);
    m_run.cancelRequested = false;
    qDebug() << "nqmaincontrol::StopDevice() - 3: m_psDataMgr->getNumOfCamDevice() ="
             << m_psDataMgr->getNumOfCamDevice();
    m_calibDlg->hide();
    qDebug() << "nqmaincontrol::StopDevice() - 4";
}

void nqmaincontrol::calDlgWorkingDone(int devNum)
{
    const Transition busy(this);
    if (m_threadState == etaAUTO_CALIBRATION && m_calState != 0) {
        qDebug() << "nqmaincontrol::calDlgWorkingDone(): canceled:" << devNum << m_calState;
        m_run.cancelRequested = true;
        armCancelDeadline(devNum);
        return;
    }
    StopDevice();
    if (calibrationReady(m_psDataMgr->displayMode())) {
        systemStateChange(esysUSER_START_ANALYSYS_BEFOR_TRACKING, 0);
    } else {
        // Nothing to go back to: the modules stay stopped, and the run is over
        // as surely as on the way back to tracking.
        setCalibrationState(ecsIDLE_CALIBRATION, "stop", devNum);
        m_calibDlg->hide();
    }
}

void nqmaincontrol::setPenTouchMode(int mode)
{
    const Transition busy(this);
    m_psDataMgr->setPenTouchMode(mode);
    systemStateChange(esysUSER_START_ANALYSYS_BEFOR_TRACKING, 0);
    m_psDataMgr->savePenTouchMode();
}

void nqmaincontrol::resumeAfterAlignment()
{
    const Transition busy(this);
    if (calibrationReady(m_psDataMgr->displayMode())) {
        systemStateChange(esysUSER_START_ANALYSYS_BEFOR_TRACKING, 0);
    } else {
        stopReceiveThreads();
        // An exchange of modules put the wait cover up; without tracking to
        // start, nothing else would take it down.
        NotifyWait(false);
    }
}
