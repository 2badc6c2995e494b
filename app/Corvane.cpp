#include "app/Corvane.h"

#include "app/CorvaneCompanion.h"
#include "app/CorvaneTray.h"
#include "platform/Clock.h"
#include "platform/SystemEvents.h"
#include "platform/linux/SwayWindowPlacer.h"
#include "settings/BrandProfile.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"
#include "ui/AboutDlg.h"
#include "ui/WizardDlg.h"
#include "ui/AlignmentDlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDebug>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QThread>
#include <QTimer>

namespace {
// A module interface: the vendor and product of the camera module, and one of
// the two interfaces the driver claims.
bool isModuleInterface(const QString &name)
{
    return name.contains("VID_16D0", Qt::CaseInsensitive) && name.contains("PID_0F8C", Qt::CaseInsensitive)
        && (name.contains("MI_02", Qt::CaseInsensitive) || name.contains("MI_03", Qt::CaseInsensitive));
}
} // namespace

Corvane::Corvane(const Platform &platform, QWidget *parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
    , m_events(platform.events)
{
    buildForm();

    QList<QRect> displays;
    nqmaincontrol::desktopMonitors(displays);
    m_settings = new ConfigFileRW(displays);
    m_language = new LanguageTable();
    m_language->loadLanguageData(m_settings->getLanguageId());

    // The companion link exists before the controller: the injector posts to it.
    m_companion = new CorvaneCompanion(this);
    m_control = new nqmaincontrol(m_settings, m_language, platform.usb, this, this,
                                  platform.makeInjection ? platform.makeInjection() : nullptr,
                                  m_companion->link(), platform.injection);
    connect(m_control, &nqmaincontrol::updateAlignImage, this, &Corvane::updateAlignImage);
    connect(m_control, &nqmaincontrol::sigReceiveMask, this, &Corvane::slotReceiveMask);
    connect(m_control, &nqmaincontrol::TrayHide, this, &Corvane::TrayHide);
    connect(m_control, &nqmaincontrol::TrayUpdateConnect, this, &Corvane::TrayUpdateConnect);
    connect(m_control, &nqmaincontrol::HideDialogs, this, &Corvane::HideDialogs);
    connect(m_control, &nqmaincontrol::callClose, this, &Corvane::callClose);
    connect(m_control, &nqmaincontrol::resultKeySendToPJStart, this, &Corvane::resultKeySendToPJStart);

    m_tray = new CorvaneTray(this, m_settings, m_language);
    const QList<void (Corvane::*)()> handlers = {
        &Corvane::StartWizardMenu, &Corvane::StartAlignmentDisplay, &Corvane::StartACalibration,
        &Corvane::StartMCalibration, &Corvane::StartPenMode, &Corvane::StartLaserMode,
        &Corvane::StartScrivo, &Corvane::StartSIPF, &Corvane::StartAbout, &Corvane::callClose,
    };
    for (int i = 0; i < handlers.size(); ++i)
        connect(m_tray->action(i), &QAction::triggered, this, handlers[i]);
    connect(m_tray, &QSystemTrayIcon::activated, this, &Corvane::slotTrayActivated);

    m_wizard = new WizardDlg(this, m_settings, m_language);
    connect(m_wizard, &WizardDlg::workingDoneFirm, this, &Corvane::updateConfigFirm);
    connect(m_wizard, &WizardDlg::workingDoneFile, this, &Corvane::updateConfigFile);
    connect(m_wizard, &WizardDlg::reStartDisplay, this, &Corvane::StartAlignmentDisplay);
    connect(m_wizard, &WizardDlg::reStartACalibration, this, &Corvane::StartACalibration);
    connect(m_wizard, &WizardDlg::reStartMCalibration, this, &Corvane::StartMCalibration);
    // Queued: the close handling destroys the wizard, which must not happen
    // inside its own button's signal.
    connect(m_wizard, &WizardDlg::callClose, this, &Corvane::callClose, Qt::QueuedConnection);
    m_psAlignDlg = new AlignmentDlg(this, m_settings, m_language);
    connect(m_psAlignDlg, &AlignmentDlg::alignmentDisplayDone, this, &Corvane::StopAlignmentDisplay);
    connect(m_psAlignDlg, &AlignmentDlg::startEnginnerMode, this, &Corvane::startEnginnerMode);
    connect(m_psAlignDlg, &AlignmentDlg::sigCamParamSend, m_control, &nqmaincontrol::slotCamParamSend,
            Qt::DirectConnection);
    connect(m_psAlignDlg, &AlignmentDlg::sigCamParamSendWait, m_control, &nqmaincontrol::slotCamParamSendWait,
            Qt::DirectConnection);
    m_psAlignDlg->setBrightness(5);

    if (m_events) {
        connect(m_events, &tl::SystemEventSource::deviceInterfaceArrived, this,
                [this](const QString &name) { handleDeviceInterface(name, true); });
        connect(m_events, &tl::SystemEventSource::deviceInterfaceRemoved, this,
                [this](const QString &name) { handleDeviceInterface(name, false); });
        connect(m_events, &tl::SystemEventSource::suspending, this, &Corvane::handleSuspend);
        connect(m_events, &tl::SystemEventSource::resumed, this, &Corvane::handleResume);
        connect(m_events, &tl::SystemEventSource::displayChanged, this, &Corvane::handleDisplayChange);
        connect(m_events, &tl::SystemEventSource::sessionEnding, this, &Corvane::handleSessionEnd);
    }
    m_displayChangeTimer.setSingleShot(true);
    connect(&m_displayChangeTimer, &QTimer::timeout, this, &Corvane::displayChangeSettled);
    qDebug() << "Corvane::Corvane()" << QThread::currentThreadId();
}

Corvane::~Corvane()
{
    releaseOwned();
    delete m_language;
    m_language = nullptr;
    delete m_settings;
    m_settings = nullptr;
}

void Corvane::buildForm()
{
    if (objectName().isEmpty())
        setObjectName("Corvane");
    resize(300, 350);
    m_splitter = new QSplitter(Qt::Vertical, this);
    m_splitter->setObjectName("splitter");
    m_splitter->setGeometry(90, 70, 121, 191);
    m_splitter->setHandleWidth(15);
    const char *names[] = {"configButton", "alignmentButton", "aCalibButton", "mCalibButton"};
    const char *texts[] = {"Configuration", "Alignment", "Auto Calibration", "Manual Calibration"};
    for (int i = 0; i < 4; ++i) {
        m_buttons[i] = new QPushButton(m_splitter);
        m_buttons[i]->setObjectName(names[i]);
        m_buttons[i]->setText(QCoreApplication::translate("Corvane", texts[i]));
        m_splitter->addWidget(m_buttons[i]);
    }
    setWindowTitle(QString());
    QMetaObject::connectSlotsByName(this);
}

void Corvane::initialStart()
{
    const nqmaincontrol::Transition busy(m_control);
    qDebug() << "Corvane::initialStart() - 1";
    m_companion->lookupAndAnnounce();
    m_control->systemStateChange(esysCONNECTION_START, -1);
    m_companion->startHookAndHotKey();
    m_tray->updateConnect(m_control->allDevicesIdentified(), true, m_control->deviceDisplayName());
    m_settings->saveDeviceCount();
    // Without any way to inject input the board cannot move the desktop: say how
    // to enable it, once.
    m_tray->showNotice(m_control->takeInjectionMessage());
    if (m_control->wizardPending()) {
        m_settings->setCheckCeiling(false);
        m_settings->setStartProgram(false);
        StartWizardMenu();
    }
    // Minimised and hidden, never shown: a shown window is mapped, if only for an instant.
    setWindowState(windowState() | Qt::WindowMinimized);
    hide();
}

// ---- system events ----------------------------------------------------------

void Corvane::handleDeviceInterface(const QString &name, bool arrival)
{
    const nqmaincontrol::Transition busy(m_control);
    qDebug() << "Corvane::nativeEvent(): WM_DEVICECHANGE"
             << (arrival ? "DBT_DEVICEARRIVAL" : "DBT_DEVICEREMOVECOMPLETE") << name;
    if (!isModuleInterface(name) || !m_control)
        return;
    const int stored = m_settings->getNumOfCamDevice();
    const int present = m_control->GetNumberOfCameraDevices();
    qDebug() << "Corvane::nativeEvent(): device count =" << stored << present;
    if (stored == present)
        return;
    // Only the alignment view shows what the modules stream; the wizard the user
    // has open stays (a disconnect hides it in the connection report).
    closeAlignmentView();
    m_tray->hide();
    if (m_psAlignDlg)
        m_psAlignDlg->forgetReceivedMask();
    m_control->systemStateChange(esysDEVICE_FOUND_OR_REMOVE, -1);
    connectionReport(arrival ? ReportCause::Arrival : ReportCause::Other);
}

void Corvane::handleSuspend()
{
    const nqmaincontrol::Transition busy(m_control);
    qDebug() << "Corvane::nativeEvent(): WM_POWERBROADCAST: PBT_APMSUSPEND";
    if (!m_control)
        return;
    m_tray->hide();
    // The modules stop streaming: a view open over the desktop would show nothing.
    closeAlignmentView();
    m_control->systemStateChange(esysCHANGE_TO_SLEEP, -1);
    m_tray->updateConnect(m_control->allDevicesIdentified(), false, "");
}

void Corvane::handleResume()
{
    const nqmaincontrol::Transition busy(m_control);
    qDebug() << "Corvane::nativeEvent(): WM_POWERBROADCAST: PBT_APMRESUMEAUTOMATIC";
    if (!m_control)
        return;
    m_tray->hide();
    // The modules are reopened into tracking, not into the view's stream.
    closeAlignmentView();
    if (m_psAlignDlg)
        m_psAlignDlg->forgetReceivedMask();
    m_control->systemStateChange(esysCHANGE_WAKE_UP, -1);
    connectionReport();
}

void Corvane::handleDisplayChange()
{
    qDebug() << "Corvane::nativeEvent(): WM_DISPLAYCHANGE";
    // One change of the desktop comes as several events (a screen added, then
    // each screen's geometry): they are handled once, when they have stopped.
    m_displayChangeTimer.start(tl::Clock::wallMs(kDisplayChangeSettleMs));
}

void Corvane::displayChangeSettled()
{
    // The timer also fires inside the event loops a transition turns (the wait
    // cover's show, a message box): the change is handled once that
    // transition has ended, never in the middle of its opening of the modules.
    if (m_control && m_control->inTransition()) {
        qDebug() << "Corvane::displayChangeSettled(): a transition runs, handled after it";
        m_displayChangeTimer.start(tl::Clock::wallMs(kDisplayChangeSettleMs));
        return;
    }
    // The alignment view shows the modules' frames on the displays as they
    // were; its close starts tracking again. The change is handled after that
    // close, never under the open view (it would start tracking under it).
    if (m_control && m_control->threadState() == etaDISPLAY) {
        qDebug() << "Corvane::displayChangeSettled(): the alignment view is open, handled after it";
        m_displayChangeTimer.start(tl::Clock::wallMs(kDisplayChangeSettleMs));
        return;
    }
    qDebug() << "Corvane::displayChangeSettled()";
    if (m_control) {
        const nqmaincontrol::Transition busy(m_control);
        m_control->systemStateChange(esysDISPLAY_CHANGE, -1);
        // Touches that can no longer be mapped to the board: said once.
        m_tray->showNotice(m_control->takeInjectionMessage());
    }
}

void Corvane::handleSessionEnd()
{
    qDebug() << "Corvane::nativeEvent(): WM_ENDSESSION:" << 1 << 0;
    close();
    qDebug() << "WM_ENDSESSION: after callClose()";
    tl::Clock::sleepMs(1000);
}

void Corvane::handleRunningApp(quintptr wParam, qintptr lParam)
{
    qDebug() << "Corvane::nativeEvent(): WM_RUNNING_APP:" << wParam << lParam;
    if (m_control)
        m_control->setHandleEventData(wParam, lParam != 0);
}

void Corvane::handleIntelApp(quintptr wParam, qintptr lParam)
{
    qDebug() << "Corvane::nativeEvent(): WM_INTEL_APP:" << wParam << lParam;
    if (m_control)
        m_control->setHandleEventData(0, lParam != 0);
}

void Corvane::connectionReport(ReportCause cause)
{
    if (m_control->allDevicesIdentified()) {
        m_tray->updateConnect(true, true, m_control->deviceDisplayName());
        if (m_control->wizardPending()) {
            if (m_wizard && m_wizard->isVisible()) {
                // The user is in the wizard: opening it afresh would drop the
                // page and the choices not yet applied. Only the wait cover goes.
                qDebug() << "Corvane::connectionReport(): the wizard is open, kept as it is";
                m_control->NotifyWait(false);
                m_wizard->raise();
            } else {
                m_settings->setCheckCeiling(false);
                StartWizardMenu();
            }
        }
        return;
    }
    m_settings->saveDeviceCount();
    m_control->StopDevice();
    // A module that came never takes the wizard away from the user (it leads
    // to nothing that needs the modules until its second page).
    if (cause == ReportCause::Arrival && m_wizard && m_wizard->isVisible()) {
        qDebug() << "Corvane::connectionReport(): arrival, the wizard stays open";
        hideModuleDialogs();
    } else {
        HideDialogs();
    }
    m_tray->hide();
    m_tray->updateConnect(false, true, m_control->deviceDisplayName());
}

// ---- tray and dialog slots --------------------------------------------------

QString Corvane::versionText(const char *separator) const
{
    const int count = m_settings->getNumOfCamDevice();
    if (count == 1)
        return m_settings->getDeviceFwVersion(0);
    if (count == 2)
        return m_settings->getDeviceFwVersion(0) + separator + m_settings->getDeviceFwVersion(1);
    return QString();
}

void Corvane::StartWizardMenu()
{
    const nqmaincontrol::Transition busy(m_control);
    m_control->NotifyWait(false);
    m_control->closeMessage();
    qDebug() << "Corvane::StartWizardMenu():" << m_control->wizardPending() << m_settings->getNumOfCamDevice();
    if (!m_wizard)
        return;
    m_wizard->initialize(m_control->wizardPending(), m_settings->getNumOfCamDevice(), versionText(" \n"),
                         m_control->modelTypeIfIdentified());
    m_wizard->show();
    m_wizard->raise();
    m_wizard->activateWindow();
}

void Corvane::StartAlignmentDisplay()
{
    const nqmaincontrol::Transition busy(m_control);
    m_control->closeMessage();
    m_control->systemStateChange(esysUSER_ALIGNMENT_VIEW, 0);
    m_psAlignDlg->imageDisplay(true, 0);
    m_psAlignDlg->show();
    m_psAlignDlg->raise();
    m_psAlignDlg->activateWindow();
}

void Corvane::StopAlignmentDisplay(int changeDevice, bool bMask)
{
    const nqmaincontrol::Transition busy(m_control);
    if (changeDevice != 0) {
        m_settings->swapDevices();
        m_control->swapAndReopen();
    }
    m_control->resumeAfterAlignment();
    m_psAlignDlg->imageDisplay(false, 0);
    qDebug() << "bMask :" << bMask;
    if (bMask) {
        qDebug() << "m_psAlignDlg->m_pMaskBufBit size :" << AlignmentDlg::kMaskBytes;
        m_control->uploadMask(m_psAlignDlg->m_pMaskBufBit, AlignmentDlg::kMaskBytes);
    }
}

void Corvane::StartACalibration()
{
    const nqmaincontrol::Transition busy(m_control);
    qDebug() << "Corvane::StartACalibration()";
    startRunFromTheView(&nqmaincontrol::startAutoCalibration);
}

void Corvane::StartMCalibration()
{
    const nqmaincontrol::Transition busy(m_control);
    qDebug() << "Corvane::StartMCalibration()";
    startRunFromTheView(&nqmaincontrol::startManualCalibration);
}

void Corvane::startRunFromTheView(void (nqmaincontrol::*start)())
{
    // A run takes the modules out of the view's stream, and its window takes
    // the display the module photographs: an open view closes first.
    const bool viewOpen = m_psAlignDlg && m_psAlignDlg->isVisible();
    if (viewOpen)
        closeAlignmentView();
    (m_control->*start)();
    // No run started (the modules do not allow one): the view's stream ends
    // as at the view's own close.
    if (viewOpen && m_control->threadState() == etaDISPLAY)
        m_control->resumeAfterAlignment();
}

void Corvane::refreshTrayAfterModeSwitch()
{
    // The switch restarts tracking in the other mode: the view's stream ended.
    closeAlignmentView();
    m_tray->hide();
    m_tray->refreshModeMarks();
    m_tray->updateConnect(m_control->allDevicesIdentified(), false, "");
    m_tray->show();
}

void Corvane::StartPenMode()
{
    const nqmaincontrol::Transition busy(m_control);
    if (m_settings->getPenTouchMode() == 1) {
        m_control->setPenTouchMode(0);
        refreshTrayAfterModeSwitch();
    } else {
        m_tray->refreshModeMarks();
    }
}

void Corvane::StartLaserMode()
{
    const nqmaincontrol::Transition busy(m_control);
    if (m_settings->getPenTouchMode() == 0) {
        m_control->setPenTouchMode(1);
        refreshTrayAfterModeSwitch();
    } else {
        m_tray->refreshModeMarks();
    }
}

void Corvane::updateAlignImage(QImage image, int nDevNum)
{
    if (m_psAlignDlg)
        m_psAlignDlg->setImage(image, nDevNum);
}

void Corvane::StartSIPF()
{
}

void Corvane::StartScrivo()
{
    m_companion->startScrivo();
}

void Corvane::StartAbout()
{
    const QString firmware = AboutDlg::firmwareText(m_settings->getNumOfCamDevice(), m_settings->getDeviceFwVersion(0),
                                                    m_settings->getDeviceFwVersion(1));
    qDebug() << "Corvane::StartAbout():" << firmware;
    // Built for each opening; the close handling may end the program (and
    // destroy the box with the window) while it runs.
    QPointer<AboutDlg> about = new AboutDlg(this);
    about->setTexts(m_language->trayText(8), firmware, m_language->languageIndex());
    about->exec();
    delete about.data();
}

void Corvane::updateConfigFirm()
{
    const nqmaincontrol::Transition busy(m_control);
    if (m_settings->getNumOfCamDevice() > 0) {
        m_control->FirmwareSave_Param();
        m_control->configureInjectorLayout();
    }
}

void Corvane::updateConfigFile()
{
    if (m_wizard)
        m_control->setWizardPending(m_wizard->setupMode());
    // This build creates no start-up shortcut for Start_Program.
    m_settings->saveConfig();
}

void Corvane::handleEventData(TargetWindow target, bool bIntel)
{
    m_control->setHandleEventData(target, bIntel);
}

void Corvane::slotTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::DoubleClick && reason != QSystemTrayIcon::Trigger)
        return;
    m_tray->menu()->activateWindow();
    m_tray->menu()->popup(QCursor::pos());
}

void Corvane::startEnginnerMode(int nDevNum)
{
    if (!m_engineerDlg) {
        m_engineerDlg = new EngineerMode(this, m_settings, nDevNum);
        connect(m_engineerDlg, &EngineerMode::engModeCamUpDate, this, &Corvane::engModeCamUpDate);
        connect(m_engineerDlg, &EngineerMode::engModeCamParamSend, this, &Corvane::engModeCamParamSend);
    }
    m_engineerDlg->start();
    m_engineerDlg->show();
    // Where the window system ignored the dialog's position.
    if (m_engineerDlg->windowHandle())
        tl::placeShownWindow(m_engineerDlg->windowHandle(), QStringLiteral("the engineer dialog"),
                             m_engineerDlg->placement());
}

void Corvane::engModeCamUpDate(int, ALIGNMENT_VIEW_MODE, bool)
{
}

void Corvane::engModeCamParamSend(int, QString, QString)
{
}

void Corvane::callClose()
{
    close();
}

void Corvane::resultKeySendToPJStart(bool)
{
}

void Corvane::resultKeySendToPJExecute()
{
}

void Corvane::keyActionReception(uint)
{
}

void Corvane::shortcutReSensingPressed()
{
    qDebug() << "Corvane::shortcutReSensingPressed()";
}

void Corvane::TrayHide()
{
    m_tray->hide();
}

void Corvane::TrayUpdateConnect(bool bConnect, bool bMessage, QString sDeviceName)
{
    m_tray->updateConnect(bConnect, bMessage, sDeviceName);
}

void Corvane::HideDialogs()
{
    if (m_wizard)
        m_wizard->hide();
    hideModuleDialogs();
}

void Corvane::hideModuleDialogs()
{
    if (m_engineerDlg)
        m_engineerDlg->hide();
    closeAlignmentView();
}

void Corvane::closeAlignmentView()
{
    // A view closed from outside ends its display as well, so that a late frame
    // finds it closed.
    if (m_psAlignDlg && m_psAlignDlg->displaying())
        m_psAlignDlg->imageDisplay(false, 0);
    else if (m_psAlignDlg)
        m_psAlignDlg->hide();
}

void Corvane::slotReceiveMask(unsigned char *mask, int len)
{
    qDebug() << "Corvane::slotReceiveMask():" << len;
    if (m_psAlignDlg)
        m_psAlignDlg->SetReceiveMask(mask, len);
}

// ---- close handling ---------------------------------------------------------

void Corvane::releaseOwned()
{
    if (m_companion)
        m_companion->shutDown();
    if (m_control) {
        m_control->StopDevice();
        m_control->closeDevices();
        m_control->disconnect(this);
        delete m_control;
        m_control = nullptr;
    }
    if (m_wizard) {
        m_wizard->disconnect(this);
        delete m_wizard;
        m_wizard = nullptr;
    }
    if (m_psAlignDlg) {
        m_psAlignDlg->disconnect(this);
        delete m_psAlignDlg;
        m_psAlignDlg = nullptr;
    }
    if (m_engineerDlg) {
        m_engineerDlg->disconnect(this);
        m_engineerDlg->hide();
        delete m_engineerDlg;
        m_engineerDlg = nullptr;
    }
    if (m_tray) {
        for (int i = 0; i < CorvaneTray::ActionCount; ++i)
            m_tray->action(i)->disconnect(this);
        m_tray->hide();
        delete m_tray;
        m_tray = nullptr;
    }
}

bool Corvane::closeMustWait() const
{
    if (m_control && m_control->inTransition())
        return true;
    if (QApplication::activeModalWidget())
        return true;
    return m_nCloseLoopLevel >= 0 && QThread::currentThread()->loopLevel() >= m_nCloseLoopLevel;
}

void Corvane::deferClose()
{
    if (!m_bClosePending)
        qDebug() << "Corvane::closeEvent(): a transition or a box is running; the close follows when it has ended";
    m_bClosePending = true;
    if (m_control)
        m_control->requestClose();
    // Whatever box is still open (the wizard's, the about box) is ended too: its
    // loop returns before the objects under it go.
    for (int i = 0; i < 8; ++i) {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            break;
        if (m_nCloseLoopLevel < 0)
            m_nCloseLoopLevel = QThread::currentThread()->loopLevel();
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
    }
    QTimer::singleShot(tl::Clock::wallMs(10), this, [this] {
        if (!m_bClosed)
            close();
    });
}

void Corvane::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (m_bClosed)
        return;
    if (closeMustWait()) {
        deferClose();
        return;
    }
    m_bClosed = true;
    m_displayChangeTimer.stop();
    releaseOwned();
    m_settings->setNumOfCamDevice(0);
    m_settings->saveDeviceCount();
    tl::Clock::sleepMs(100);
    QCoreApplication::exit(0);
}
