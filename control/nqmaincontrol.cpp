#include "control/nqmaincontrol.h"

#include "calibration/CalibDlg.h"
#include "calibration/WaitDlg.h"
#include "device/CamDevCtrl.h"
#include "device/codec/Commands.h"
#include "input/InputInjection.h"
#include "input/NqUtils.h"
#include "platform/Clock.h"
#include "settings/BrandProfile.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"

#include <QDebug>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QWidget>

using tl::CamDevCtrl;
using namespace tl::codec;

namespace {
nqmaincontrol *g_instance = nullptr;

// Model designations shown through "%1" of the tray texts, per model type 1 and 2.
const char *const kModelNames[] = {"TL-40", "TL-30"};

// The lens code of the calibration model and the "reverse image" flag both follow
// the projector model: the three throw distances mount the camera upside down.
int reverseForLens(int lensSelect)
{
    return (lensSelect >= 0 && lensSelect <= 2) ? 1 : 0;
}

int lensCodeForLens(int lensSelect)
{
    return (lensSelect >= 0 && lensSelect <= 2) ? lensSelect + 1 : 0;
}

int decimalOrZero(const QString &text)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    return ok ? v : 0;
}
} // namespace

nqmaincontrol *nqmaincontrol::instance()
{
    return g_instance;
}

nqmaincontrol::nqmaincontrol(ConfigFileRW *settings, LanguageTable *language, tl::UsbAccess *usb,
                             QWidget *mainWindow, QObject *parent,
                             std::unique_ptr<tl::input::InputInjection> injection)
    : QObject(parent)
    , m_injection(std::move(injection))
    , m_psDataMgr(settings)
    , m_language(language)
    , m_mainWindow(mainWindow)
{
    if (!m_injection)
        m_injection = tl::input::InputInjection::createForPlatform(nullptr, &m_sInjectionMessage);
    m_device = new CamDevCtrl(settings, usb);
    m_device->setTrackingSink(m_injection.get());
    connect(m_device, &CamDevCtrl::sigSetFWVersion, this, &nqmaincontrol::slotSetFWVersion);
    connect(m_device, &CamDevCtrl::sigNewFrame, this, &nqmaincontrol::slotNewFrameReceived);
    connect(m_device, &CamDevCtrl::sigReceiveMask, this, &nqmaincontrol::slotReceiveMask);
    connect(m_device, &CamDevCtrl::sigRequestMask, this, &nqmaincontrol::slotRequestMask);
    connect(m_device, &CamDevCtrl::sigACNewFrame, this, &nqmaincontrol::slotNewACImageReceived);
    connect(m_device, &CamDevCtrl::sigACNextStep, this, &nqmaincontrol::slotACNextStep);
    connect(m_device, &CamDevCtrl::sigMCNextStep, this, &nqmaincontrol::slotMCNextStep);
    connect(m_device, &CamDevCtrl::sigMCDone, this, &nqmaincontrol::slotMCDone);
    connect(m_device, &CamDevCtrl::sigCalibReadyEnd, this, &nqmaincontrol::slotCalibReadyEnd);
    g_instance = this;

    connect(this, &nqmaincontrol::callChangeNextThreadState, this, &nqmaincontrol::threadStateChange,
            Qt::DirectConnection);
    connect(this, &nqmaincontrol::callSaveFirmwareParam, this, &nqmaincontrol::FirmwareSave_Param,
            Qt::DirectConnection);

    m_systemState = m_calState = m_threadState = 0;
    m_bCancelRequested = false;
    m_targetWindow = 0;
    m_bConnectionStatus = false;
    m_calibDlg = new CalibDlg(settings, language);
    connect(m_calibDlg, &CalibDlg::calDlgWorkingDone, this, &nqmaincontrol::calDlgWorkingDone);
    connect(m_calibDlg, &CalibDlg::sigMCNextStepPointer, this, &nqmaincontrol::slotMCNextStepPointer);
    connect(m_calibDlg, &CalibDlg::sigMCPrevStepPointer, this, &nqmaincontrol::slotMCPrevStepPointer);
    m_waitDlg = new WaitDlg();
    m_rcMergedSensor = QRect(0, 0, 9600, 3000);
    m_injection->resetTracking(0);
    m_injection->resetTracking(1);
    // This platform's touch injection is the multi-touch device, when it could be made.
    m_bTouchInjection = m_injection->touchInjectionAvailable();
    m_modelType[0] = m_modelType[1] = 0;
    m_modelSubType[0] = m_modelSubType[1] = 0;
    m_nFwParam = 10;
    for (QImage &image : m_calibImages) {
        image = QImage(1280, 720, QImage::Format_Grayscale8);
        image.fill(0);
    }
    qDebug() << "nqmaincontrol::nqmaincontrol()";
}

nqmaincontrol::~nqmaincontrol()
{
    qDebug() << "nqmaincontrol::~nqmaincontrol()";
    for (QImage &image : m_calibImages)
        image = QImage();
    NotifyWait(false);
    FirmwareSave_Param();
    m_device->disconnect(this);
    delete m_device;
    m_device = nullptr;
    delete m_messageBox;
    m_messageBox = nullptr;
    m_calibDlg->disconnect(this);
    delete m_calibDlg;
    m_calibDlg = nullptr;
    m_waitDlg->hide();
    delete m_waitDlg;
    m_waitDlg = nullptr;
    m_psDisplayInfo.clear();
    disconnect(this, nullptr, nullptr, nullptr);
    // The receive loops ended with the device layer; what is down comes up now.
    m_injection.reset();
    if (g_instance == this)
        g_instance = nullptr;
}

int nqmaincontrol::GetNumberOfCameraDevices()
{
    return m_device->GetNumberOfCameraDevices();
}

void nqmaincontrol::stopReceiveThreads()
{
    m_device->StopRecvThread();
}

// ---- system state machine -------------------------------------------------

void nqmaincontrol::systemStateChange(int eState, int nDevNum)
{
    qDebug() << "nqmaincontrol::systemStateChange():" << systemStateName(eState) << nDevNum;
    m_systemState = eState;

    switch (eState) {
    case esysIDLE_SYS:
        systemStateCalbrationChange(nDevNum, ecsIDLE_CALIBRATION);
        break;
    case esysCONNECTION_START:
        NotifyWait(true);
        initDeviceCheck();
        connectTail();
        break;
    case esysDEVICE_FOUND_OR_REMOVE:
        NotifyWait(true);
        if (!suspendDeviceCheck(eState)) {
            NotifyWait(false);
            break;
        }
        connectTail();
        break;
    case esysCHANGE_TO_SLEEP:
        StopDevice();
        m_bConnectionStatus = false;
        break;
    case esysCHANGE_WAKE_UP:
        NotifyWait(true);
        suspendDeviceCheck(eState);
        connectTail();
        break;
    case esysDISPLAY_CHANGE: {
        if (!m_bConnectionStatus)
            break;
        const QRect before = m_psDisplayInfo.isEmpty() ? QRect() : m_psDisplayInfo[0].sDisplayRect;
        GetMonitorInf();
        m_injection->desktopChanged(&m_sInjectionMessage);
        m_bTouchInjection = m_injection->touchInjectionAvailable();
        configureInjectorLayout();
        const QRect after = m_psDisplayInfo.isEmpty() ? QRect() : m_psDisplayInfo[0].sDisplayRect;
        if (after.right() == before.right() && after.bottom() == before.bottom())
            break;
        // The window system reports the change before the new layout has settled.
        tl::Clock::sleepMs(4000);
        if (calibrationReady(m_psDataMgr->displayMode()) && m_psDataMgr->getNumOfCamDevice() > 0)
            systemStateCalbrationChange(0, ecsIDLE_CALIBRATION);
        break;
    }
    case esysUSER_ALIGNMENT_VIEW:
        stopReceiveThreads();
        emit callChangeNextThreadState(nDevNum, etaDISPLAY);
        break;
    case esysUSER_START_ANALYSYS_BEFOR_TRACKING:
        if (calibrationReady(m_psDataMgr->displayMode()))
            systemStateCalbrationChange(nDevNum, ecsIDLE_CALIBRATION);
        break;
    case esysUSER_MANUAL_CAL_START:
        closeMessage();
        m_calResult[0] = m_calResult[1] = 0;
        qDebug() << "nqmaincontrol::systemStateCalbrationChange():"
                 << calibrationStateName(ecsMANUAL_CAL_CAPTURE_POINT_IMAGE) << nDevNum;
        m_calState = ecsMANUAL_CAL_CAPTURE_POINT_IMAGE;
        stopReceiveThreads();
        emit callChangeNextThreadState(nDevNum, etaMANUAL_CALIBRATION);
        break;
    case esysUSER_AUTO_CAL_START:
        closeMessage();
        m_calResult[0] = m_calResult[1] = 0;
        qDebug() << "nqmaincontrol::systemStateCalbrationChange():"
                 << calibrationStateName(ecsAUTO_CAL_CAPTURE_BLACK_IMAGE) << nDevNum;
        m_calState = ecsAUTO_CAL_CAPTURE_BLACK_IMAGE;
        stopReceiveThreads();
        emit callChangeNextThreadState(nDevNum, etaAUTO_CALIBRATION);
        break;
    case esysUSER_MANUAL_CAL_POINT_IMAGE:
        m_calState = ecsMANUAL_CAL_CAPTURE_POINT_IMAGE;
        stopReceiveThreads();
        emit callChangeNextThreadState(nDevNum, etaMANUAL_CALIBRATION);
        break;
    case esysUSER_MANUAL_CAL_START_NEXT_DEVICE:
        m_calState = ecsMANUAL_CAL_CAPTURE_POINT_IMAGE;
        stopReceiveThreads();
        emit callChangeNextThreadState(nDevNum + 1, etaMANUAL_CALIBRATION);
        break;
    case esysUSER_AUTO_CAL_START_NEXT_DEVICE:
        m_calState = ecsAUTO_CAL_CAPTURE_BLACK_IMAGE;
        stopReceiveThreads();
        emit callChangeNextThreadState(nDevNum + 1, etaAUTO_CALIBRATION);
        break;
    default:
        // 12, 14 to 17 and anything else: only logged and stored.
        break;
    }
}

bool nqmaincontrol::initDeviceCheck()
{
    // Device interface notifications come from the system event source that the
    // main window owns; nothing is registered here.
    qDebug() << "InitDeviceCheck()";
    const quint16 n = static_cast<quint16>(m_device->GetNumberOfCameraDevices());
    qDebug() << "InitDeviceCheck(): device count =" << n;
    m_psDataMgr->setNumOfCamDevice(0);
    if (n == 0 || n > 2)
        m_bConnectionStatus = false;
    else
        openDeviceSet(n);
    qDebug() << "InitDeviceCheck(): m_bConnectionStatus =" << m_bConnectionStatus;
    return m_bConnectionStatus;
}

bool nqmaincontrol::suspendDeviceCheck(int eState)
{
    const int stored = m_psDataMgr->getNumOfCamDevice();
    const int n = m_device->GetNumberOfCameraDevices();
    if (stored == n && eState == esysDEVICE_FOUND_OR_REMOVE)
        return false;

    qDebug() << "SuspendDeviceCheck()";
    if (m_psDataMgr->getDeviceActive(0)) {
        StopDevice();
        qDebug() << "SuspendDeviceCheck(): m_psDataMgr->getNumOfCamDevice() =" << stored;
        for (int i = 0; i < stored && i < 2; ++i) {
            if (n != 0)
                m_device->Close(i);
            m_psDataMgr->setDeviceActive(i, 0);
        }
        qDebug() << "SuspendDeviceCheck() - 2";
    }
    m_psDataMgr->setNumOfCamDevice(0);
    if (n == 1 || n == 2)
        openDeviceSet(n);
    else
        m_bConnectionStatus = false;
    m_psDataMgr->saveDeviceCount();
    return true;
}

void nqmaincontrol::openDeviceSet(int n)
{
    n = std::min(n, 2);
    if (!m_psDataMgr->getDeviceActive(0))
        for (int i = 0; i < n; ++i)
            m_psDataMgr->setDeviceActive(i, 1);

    const int opened = m_device->UpdateCameraInfo();
    if ((opened == 1 || opened == 2) && m_device->openDevices()) {
        for (int i = 0; i < n; ++i) {
            m_psDataMgr->setDeviceSerial(i, m_device->serialNumber(i));
            m_psDataMgr->incNumOfCamDevice();
            m_device->requestEeprom(i);
        }
    }
    const int count = m_psDataMgr->getNumOfCamDevice();
    if (m_psDataMgr->getDeviceActive(0) && count < 3)
        m_bConnectionStatus = count != 0;
    else
        m_bConnectionStatus = false;
}

void nqmaincontrol::copySerialsToRecords()
{
    for (int i = 0; i < m_psDataMgr->getNumOfCamDevice() && i < 2; ++i)
        m_psDataMgr->setDeviceSerial(i, m_device->serialNumber(i));
}

void nqmaincontrol::connectTail()
{
    if (!m_bConnectionStatus) {
        NotifyWait(false);
        return;
    }
    GetMonitorInf();
    const int mode = m_psDataMgr->displayMode();
    qDebug() << "nqmaincontrol::systemStateChange(): eDisplayMode =" << mode;
    if (mode != 1 && mode != 2)
        return;

    const int count = m_psDataMgr->getNumOfCamDevice();
    qDebug() << "FirmwareLoad:" << count;
    if (count > 0) {
        m_psDataMgr->loadParam();
        if (count == 2 && m_psDataMgr->checkDeviceSwap() && m_bConnectionStatus) {
            m_device->exchangeDeviceSlots();
            m_device->openDevices();
            copySerialsToRecords();
            FirmwareSave_Param();
        }
    }
    if (!calibrationReady(mode)) {
        // The wizard opens in its setup mode and hides the wait cover.
        m_bWizardPending = true;
        return;
    }
    systemStateCalbrationChange(0, ecsIDLE_CALIBRATION);
}

// ---- calibration state machine --------------------------------------------

void nqmaincontrol::systemStateCalbrationChange(int nDevNum, int eCalState)
{
    qDebug() << "nqmaincontrol::systemStateCalbrationChange():" << calibrationStateName(eCalState) << nDevNum;
    m_calState = eCalState;
    switch (eCalState) {
    case ecsIDLE_CALIBRATION: {
        NotifyWait(true);
        stopReceiveThreads();
        QList<QRect> monitors;
        NqUtils::getWindowRectAll(monitors);
        QRect screen = monitors.size() == 1 ? monitors[0] : QRect();
        if (monitors.size() != 1 && !m_psDisplayInfo.isEmpty())
            screen = m_psDisplayInfo[0].sDisplayRect;
        m_injection->setScreenSize(screen.width(), screen.height());
        emit callChangeNextThreadState(nDevNum, etaTRACKING);
        break;
    }
    case ecsMANUAL_CAL_CAPTURE_POINT_IMAGE:
        stopReceiveThreads();
        emit callChangeNextThreadState(nDevNum, etaMANUAL_CALIBRATION);
        break;
    case ecsAUTO_CAL_CAPTURE_BLACK_IMAGE:
        stopReceiveThreads();
        emit callChangeNextThreadState(nDevNum, etaAUTO_CALIBRATION);
        break;
    default:
        break;
    }
}

// ---- thread state machine -------------------------------------------------

void nqmaincontrol::threadStateChange(int nDevNum, int eNextState)
{
    qDebug() << "nqmaincontrol::threadStateChange():" << threadStateName(eNextState) << nDevNum;
    StopDevice();
    const int lens = m_psDataMgr->getLensSelect();
    const int reverse = reverseForLens(lens);
    const int lensCode = lensCodeForLens(lens);

    switch (eNextState) {
    case etaDISPLAY:
        m_threadState = etaDISPLAY;
        m_device->StartRecvThread(1, reverse);
        break;
    case etaMANUAL_CALIBRATION: {
        prepareCalibrationWindow(nDevNum, false);
        m_threadState = etaMANUAL_CALIBRATION;
        m_device->StartRecvThread(0, reverse);
        m_calState = ecsMANUAL_CAL_CAPTURE_POINT_IMAGE;
        m_device->SendCommand(nullptr, CMD_MC_START, 0, nDevNum, false);
        tl::Clock::sleepMs(200);
        const qint32 rev = reverse;
        m_device->SendCommand(&rev, CMD_SET_IMAGE_REVERSE, 4, nDevNum, false);
        tl::Clock::sleepMs(200);
        const qint32 first = 0;
        m_device->SendCommand(&first, CMD_MC_PATTERN_START, 4, nDevNum, false);
        break;
    }
    case etaAUTO_CALIBRATION: {
        prepareCalibrationWindow(nDevNum, true);
        m_threadState = etaAUTO_CALIBRATION;
        m_device->StartRecvThread(0, reverse);
        m_calState = ecsAUTO_CAL_CAPTURE_BLACK_IMAGE;
        tl::Clock::sleepMs(200);
        const qint32 rev = reverse;
        m_device->SendCommand(&rev, CMD_SET_IMAGE_REVERSE, 4, nDevNum, false);
        tl::Clock::sleepMs(200);
        m_device->send_ac_black_start(lensCode, nDevNum, m_nFwParam);
        break;
    }
    case etaTRACKING: {
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
        m_threadState = etaTRACKING;
        m_device->StartRecvThread(0, reverse);
        NotifyWait(false);
        break;
    }
    default:
        break;
    }
}

void nqmaincontrol::StopDevice()
{
    qDebug() << "nqmaincontrol::StopDevice() - 1";
    m_device->StopRecvThread();
    qDebug() << "nqmaincontrol::StopDevice() - 2";
    if (m_threadState == etaTRACKING)
        m_injection->releaseAllContacts();
    m_threadState = etaNULL;
    qDebug() << "nqmaincontrol::StopDevice() - 3: m_psDataMgr->getNumOfCamDevice() ="
             << m_psDataMgr->getNumOfCamDevice();
    m_calibDlg->hide();
    qDebug() << "nqmaincontrol::StopDevice() - 4";
}

void nqmaincontrol::calDlgWorkingDone(int devNum)
{
    if (m_threadState == etaAUTO_CALIBRATION && m_calState != 0) {
        qDebug() << "nqmaincontrol::calDlgWorkingDone(): canceled:" << devNum << m_calState;
        m_bCancelRequested = true;
        return;
    }
    StopDevice();
    if (calibrationReady(m_psDataMgr->displayMode()))
        systemStateChange(esysUSER_START_ANALYSYS_BEFOR_TRACKING, 0);
    else
        m_calibDlg->hide();
}

// ---- queries --------------------------------------------------------------

bool nqmaincontrol::allDevicesIdentified() const
{
    if (!m_bConnectionStatus)
        return false;
    const int count = m_psDataMgr->getNumOfCamDevice();
    if (count < 1 || count > 2)
        return false;
    for (int i = 0; i < count; ++i)
        if (m_modelType[i] == 0)
            return false;
    return true;
}

QString nqmaincontrol::deviceDisplayName() const
{
    if (allDevicesIdentified() && (m_modelType[0] == 1 || m_modelType[0] == 2))
        return QString::fromLatin1(kModelNames[m_modelType[0] - 1]);
    return QStringLiteral("Device");
}

bool nqmaincontrol::calibrationReady(int mode) const
{
    if (mode == 1)
        return m_device->isCalibrated(0);
    if (mode == 2)
        return m_device->isCalibrated(0) && m_device->isCalibrated(1);
    return false;
}

int nqmaincontrol::modelTypeIfIdentified() const
{
    return allDevicesIdentified() ? m_modelType[0] : 0;
}

int nqmaincontrol::modelType(int nDevNum) const
{
    return (nDevNum == 0 || nDevNum == 1) ? m_modelType[nDevNum] : 0;
}

int nqmaincontrol::modelSubType(int nDevNum) const
{
    return (nDevNum == 0 || nDevNum == 1) ? m_modelSubType[nDevNum] : 0;
}

// ---- slots and operations -------------------------------------------------

void nqmaincontrol::slotSetFWVersion(QString sVersion, int nDevNum)
{
    qDebug() << "slotSetFWVersion:" << nDevNum << sVersion;
    // The index comes from the device layer's slot table; anything else is a
    // driver fault and must not write outside the two records.
    if (nDevNum != 0 && nDevNum != 1)
        return;
    m_modelType[nDevNum] = 0;
    if (sVersion.startsWith("40.")) {
        m_modelType[nDevNum] = 1;
    } else if (sVersion.startsWith("30.")) {
        m_modelType[nDevNum] = 2;
    } else if (sVersion.startsWith("50.")) {
        m_modelType[nDevNum] = 3;
    } else if (sVersion.startsWith("51.")) {
        m_modelType[nDevNum] = 3;
        const int param = decimalOrZero(sVersion.right(2));
        m_nFwParam = param < 10 ? 0 : param;
    } else if (sVersion.startsWith("100.")) {
        m_modelType[nDevNum] = 3;
    }
    if (m_modelType[nDevNum] == 2) {
        m_modelSubType[nDevNum] = 1;
        const int verMinor = decimalOrZero(sVersion.mid(sVersion.indexOf('.') + 1));
        qDebug() << "slotSetFWVersion: verMinor =" << verMinor;
        if (verMinor > 5)
            m_modelSubType[nDevNum] = 2;
    }
    m_psDataMgr->setDeviceFwVersion(nDevNum, sVersion);
}

void nqmaincontrol::FirmwareSave_Param()
{
    const int count = m_psDataMgr->getNumOfCamDevice();
    qDebug() << "FirmwareSave_Param:" << count;
    if (count > 0)
        m_psDataMgr->saveParamAll(count);
}

void nqmaincontrol::NotifyWait(bool show)
{
    qDebug().noquote() << QTime::currentTime().toString("HH:mm:ss.zzz")
                       << (show ? "NotifyWait: true" : "NotifyWait: false");
    if (show)
        m_waitDlg->showAllMonitors();
    else
        m_waitDlg->hide();
}

void nqmaincontrol::closeMessage()
{
    delete m_messageBox;
    m_messageBox = nullptr;
}

int nqmaincontrol::showMessage(const QString &text)
{
    NotifyWait(false);
    closeMessage();
    QMessageBox *box = new QMessageBox();
    m_messageBox = box;
    box->setWindowTitle(QString::fromUtf8(tl::kBrand.productDisplayName));
    box->setText(text);
    QPushButton *ok = box->addButton(m_language ? m_language->configText(13) : QStringLiteral("Finish"),
                                     QMessageBox::AcceptRole);
    box->setDefaultButton(ok);
    const int result = box->exec();
    // A new message may have replaced this one while it was open.
    if (m_messageBox == box) {
        if (m_mainWindow) {
            m_mainWindow->showMinimized();
            m_mainWindow->hide();
        }
        closeMessage();
    }
    return result;
}

void nqmaincontrol::setHandleEventData(TargetWindow target, bool intel)
{
    qDebug() << "setHandleEventData:" << target << intel;
    m_bIntelMode = intel;
    if (target != 0) {
        m_targetWindow = target;
        m_injection->setTargetWindow(target);
    }
    m_injection->configure(intel ? 2 : 1, 0.8, 1);
}

void nqmaincontrol::configureInjectorLayout()
{
    m_injection->selectDisplayLayout(m_psDataMgr->getNumOfCamDevice(), m_psDataMgr->getMonitor());
}

void nqmaincontrol::GetMonitorInf()
{
    qDebug() << "nqmaincontrol::GetMonitorInf()";
    if (!m_bConnectionStatus)
        return;
    const int count = std::clamp(m_psDataMgr->getNumOfCamDevice(), 0, 2);
    m_psDisplayInfo = QVector<DisplayInfo>(count);
    QRect rects[2];
    NqUtils::getWindowRect(rects);
    if (count == 1)
        NqUtils::getMonitorRect(rects[0], m_psDataMgr->getMonitor());
    for (int i = 0; i < count; ++i) {
        m_psDisplayInfo[i] = {i, rects[i]};
        qDebug() << "nqmaincontrol::GetMonitorInf() - m_psDisplayInfo[nDev].sDisplayRect =" << i << rects[i];
    }
    if (count == 2) {
        const QRect &a = rects[0];
        const QRect &b = rects[1];
        const bool sideBySide = a.width() == b.width() && a.height() == b.height() && a.top() == b.top()
            && b.left() == a.left() + a.width();
        if (!sideBySide)
            showMessage(QStringLiteral("Please check monitor resolution and alignment."));
    }
}

void nqmaincontrol::setPenTouchMode(int mode)
{
    m_psDataMgr->setPenTouchMode(mode);
    systemStateChange(esysUSER_START_ANALYSYS_BEFOR_TRACKING, 0);
    m_psDataMgr->savePenTouchMode();
}

void nqmaincontrol::swapAndReopen()
{
    if (!m_bConnectionStatus || m_psDataMgr->getNumOfCamDevice() != 2)
        return;
    NotifyWait(true);
    stopReceiveThreads();
    tl::Clock::sleepMs(1000);
    m_device->exchangeDeviceSlots();
    m_device->openDevices();
    copySerialsToRecords();
    FirmwareSave_Param();
}

void nqmaincontrol::resumeAfterAlignment()
{
    if (calibrationReady(m_psDataMgr->displayMode()))
        systemStateChange(esysUSER_START_ANALYSYS_BEFOR_TRACKING, 0);
    else
        stopReceiveThreads();
}

void nqmaincontrol::uploadMask(unsigned char *mask, int length)
{
    m_device->sendSetMask(mask, length);
}

void nqmaincontrol::slotCamParamSend(int addr, int value)
{
    m_device->sendIicWrite(static_cast<uint16_t>(addr), static_cast<uint8_t>(value), 0);
    tl::Clock::sleepMs(50);
    m_device->sendIicWrite(static_cast<uint16_t>(addr), static_cast<uint8_t>(value), 1);
}

void nqmaincontrol::slotCamParamSendWait(unsigned short gain, unsigned int expo, int nDevNum)
{
    // The alignment view always sends exposure 0; the queued writes are the two
    // gain registers, sent at the module's next frame end.
    Q_UNUSED(expo);
    m_device->addGainRegisters(gain, nDevNum);
}

void nqmaincontrol::slotNewFrameReceived(unsigned char *buf, int size, int nDevNum)
{
    constexpr int kWidth = 640, kHeight = 360;
    if (size != kWidth * kHeight || !buf)
        return;
    const QByteArray copy(reinterpret_cast<const char *>(buf), size);
    if (m_alignRgb.isEmpty())
        m_alignRgb.resize(kWidth * kHeight * 3);
    uchar *rgb = reinterpret_cast<uchar *>(m_alignRgb.data());
    for (int i = 0; i < size; ++i)
        rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = static_cast<uchar>(copy[i]);
    emit updateAlignImage(QImage(rgb, kWidth, kHeight, kWidth * 3, QImage::Format_RGB888), nDevNum);
    if (!m_device->frameStreamStopped())
        m_device->requestFrame(nDevNum);
}

void nqmaincontrol::slotReceiveMask(unsigned char *mask, int len)
{
    qDebug() << "nqmaincontrol::slotReceiveMask():" << len;
    emit sigReceiveMask(mask, len);
}

void nqmaincontrol::slotRequestMask(int idx)
{
    m_device->request_get_mask(idx);
}

void nqmaincontrol::OnTimer()
{
}
