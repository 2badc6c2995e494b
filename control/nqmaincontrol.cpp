// nqmaincontrol: construction, the wait cover, messages and the injection
// target. The state machines, display layout and pairing, and the device
// records live in nqmaincontrol_<job>.cpp.
#include "control/nqmaincontrol.h"

#include "calibration/CalibDlg.h"
#include "calibration/WaitDlg.h"
#include "device/CamDevCtrl.h"
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

#include <algorithm>
#include <cstring>

using tl::CamDevCtrl;

nqmaincontrol::nqmaincontrol(ConfigFileRW *settings, LanguageTable *language, tl::UsbAccess *usb,
                             QWidget *mainWindow, QObject *parent,
                             std::unique_ptr<tl::input::InputInjection> injection,
                             tl::CompanionLink *companionLink, const tl::InjectionChooser *injectionChooser)
    : QObject(parent)
    , m_injection(std::move(injection))
    , m_psDataMgr(settings)
    , m_language(language)
    , m_mainWindow(mainWindow)
{
    if (!m_injection) {
        if (!injectionChooser)
            qFatal("nqmaincontrol: neither an injection object nor an injection chooser");
        m_injection = std::make_unique<tl::input::InputInjection>(*injectionChooser, companionLink,
                                                                  &m_sInjectionMessage);
    }
    m_device = new CamDevCtrl(settings, usb);
    m_device->setTrackingSink(m_injection.get());
    connect(m_device, &CamDevCtrl::sigSetFWVersion, this, &nqmaincontrol::slotSetFWVersion);
    connect(m_device, &CamDevCtrl::sigNewFrame, this, &nqmaincontrol::slotNewFrameReceived);
    connect(m_device, &CamDevCtrl::sigReceiveMask, this, &nqmaincontrol::slotReceiveMask);
    connect(m_device, &CamDevCtrl::sigRequestMask, this, &nqmaincontrol::slotRequestMask);
    connect(m_device, &CamDevCtrl::sigACNewFrame, this, &nqmaincontrol::slotNewACImageReceived);
    connect(m_device, &CamDevCtrl::sigACNextStep, this, &nqmaincontrol::slotACNextStep);
    // The device layer's store of a module's answer is refilled by its next
    // packet: the values are copied at once on the receive loop that raised the
    // signal, queued under a lock, and taken by the GUI thread.
    connect(m_device, &CamDevCtrl::sigMCNextStep, this, [this](int *buf, int len, int nDevNum) {
        // The end of a target step (RES_MC_PATTERN_END, handed on in its own
        // store) carries the module's index and nothing else. Whatever its
        // length field claims beyond that, it is never the 200-byte point list.
        if (buf && buf == CamDevCtrl::mcPatternEndValue(nDevNum))
            len = std::min(len, 4);
        ManualAnswer answer;
        answer.len = len;
        answer.nDevNum = nDevNum;
        if (buf && len > 0) {
            answer.values.resize(static_cast<size_t>((len + 3) / 4));
            std::memcpy(answer.values.data(), buf, static_cast<size_t>(len));
        }
        {
            std::lock_guard<std::mutex> lock(m_manualAnswersMutex);
            m_manualAnswers.push_back(std::move(answer));
        }
        QMetaObject::invokeMethod(this, "takeManualAnswers", Qt::QueuedConnection);
    }, Qt::DirectConnection);
    connect(m_device, &CamDevCtrl::sigMCDone, this, &nqmaincontrol::slotMCDone);
    connect(m_device, &CamDevCtrl::sigCalibReadyEnd, this, &nqmaincontrol::slotCalibReadyEnd);

    connect(this, &nqmaincontrol::callChangeNextThreadState, this, &nqmaincontrol::threadStateChange,
            Qt::DirectConnection);
    connect(this, &nqmaincontrol::callSaveFirmwareParam, this, &nqmaincontrol::FirmwareSave_Param,
            Qt::DirectConnection);

    m_systemState = m_calState = m_threadState = 0;
    m_run.cancelRequested = false;
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
    // A close that came before the connection read param.ini (a logout during
    // start-up or an arrival) leaves the file alone: the records still hold
    // their defaults, which nobody chose. So does a close while the set-up
    // wizard is still pending: the records hold its starting values (CheckCeiling
    // cleared), and what the user confirmed on its first page was saved then.
    if (m_bParamRead && !m_bWizardPending)
        FirmwareSave_Param();
    else if (!m_bParamRead)
        qDebug() << "nqmaincontrol::~nqmaincontrol(): param.ini not read, not written";
    else
        qDebug() << "nqmaincontrol::~nqmaincontrol(): set-up not confirmed, param.ini not written";
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
}

nqmaincontrol::Transition::Transition(nqmaincontrol *control)
    : m_control(control)
{
    if (m_control)
        ++m_control->m_nTransitions;
}

nqmaincontrol::Transition::~Transition()
{
    if (m_control)
        --m_control->m_nTransitions;
}

void nqmaincontrol::requestClose()
{
    if (!m_bCloseRequested)
        qDebug() << "nqmaincontrol::requestClose(): transitions running:" << m_nTransitions;
    m_bCloseRequested = true;
    closeMessage();
}

void nqmaincontrol::takeManualAnswers()
{
    for (;;) {
        ManualAnswer answer;
        {
            std::lock_guard<std::mutex> lock(m_manualAnswersMutex);
            if (m_manualAnswers.empty())
                return;
            answer = std::move(m_manualAnswers.front());
            m_manualAnswers.pop_front();
        }
        slotMCNextStep(answer.values.empty() ? nullptr : answer.values.data(), answer.len, answer.nDevNum);
    }
}

void nqmaincontrol::closeDevices()
{
    const int count = m_psDataMgr->getNumOfCamDevice();
    for (int i = 0; i < count && i < 2; ++i)
        m_device->Close(i);
}

void nqmaincontrol::desktopMonitors(QList<QRect> &rects)
{
    NqUtils::getWindowRectAll(rects);
}

// Changes of the acquisition state and the calibration steps' changes of the
// calibration state, each logged with the names of both states. (The rows of
// systemStateCalbrationChange log their own line.)
QString nqmaincontrol::moduleSuffix(int nDevNum)
{
    return nDevNum >= 0 ? QString::asprintf(", module %d", nDevNum) : QString();
}

void nqmaincontrol::setThreadState(int eState, int nDevNum)
{
    if (eState != m_threadState)
        qDebug().noquote() << QString::asprintf("nqmaincontrol: thread %s -> %s", threadStateName(m_threadState),
                                                threadStateName(eState)) +
                                  moduleSuffix(nDevNum);
    m_threadState = eState;
}

void nqmaincontrol::logCalibrationChange(int from, int to, const char *why, int nDevNum)
{
    qDebug().noquote() << QString::asprintf("nqmaincontrol: calibration %s -> %s on %s",
                                            tl::machines::calibrationStepName(from),
                                            tl::machines::calibrationStepName(to), why) +
                              moduleSuffix(nDevNum);
}

void nqmaincontrol::setCalibrationState(int to, const char *why, int nDevNum)
{
    if (to == m_calState)
        return;
    logCalibrationChange(m_calState, to, why, nDevNum);
    m_calState = to;
}

void nqmaincontrol::NotifyWait(bool show)
{
    const Transition busy(this);   // the cover's show runs the event loop
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
    const Transition busy(this);
    NotifyWait(false);
    closeMessage();
    if (m_bCloseRequested) {
        qDebug() << "nqmaincontrol::showMessage(): closing, not shown:" << text;
        return QMessageBox::Rejected;
    }
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
            // Minimised and hidden, never shown: a shown window is mapped, if only for an instant.
            m_mainWindow->setWindowState(m_mainWindow->windowState() | Qt::WindowMinimized);
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

void nqmaincontrol::OnTimer()
{
}
