#pragma once

#include "control/nqmaincontrol.h"
#include "ui/EngineerMode.h"

#include <QDialog>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>
#include <memory>

class AlignmentDlg;
class ConfigFileRW;
class CorvaneCompanion;
class CorvaneTray;
class LanguageTable;
class QCloseEvent;
class QPushButton;
class QSplitter;
class WizardDlg;

namespace tl {
class SystemEventSource;
class UsbAccess;
}

// The hidden main window. It owns the top-level objects, turns system events
// into state changes of the controller and tray actions into controller calls.
// It is never shown.
class Corvane : public QDialog
{
    Q_OBJECT
public:
    // The platform the window runs on: where system events and USB devices come
    // from, and what chooses the injection. The entry point passes the Linux
    // sources, tests pass fakes.
    struct Platform
    {
        tl::SystemEventSource *events = nullptr;
        tl::UsbAccess *usb = nullptr;
        // Makes the input injection object; empty: the system's, as `injection` chooses it.
        std::function<std::unique_ptr<tl::input::InputInjection>()> makeInjection;
        const tl::InjectionChooser *injection = nullptr;
    };

    explicit Corvane(const Platform &platform, QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~Corvane() override;

    void initialStart();

    nqmaincontrol *control() const { return m_control; }
    ConfigFileRW *settings() const { return m_settings; }
    LanguageTable *language() const { return m_language; }
    CorvaneTray *tray() const { return m_tray; }
    CorvaneCompanion *companion() const { return m_companion; }
    WizardDlg *wizard() const { return m_wizard; }
    EngineerMode *engineerDialog() const { return m_engineerDlg; }
    AlignmentDlg *alignmentView() const { return m_psAlignDlg; }

    // Device interface arrival or removal, as the system event source reports it.
    void handleDeviceInterface(const QString &name, bool arrival);
    void handleSuspend();
    void handleResume();
    // Starts (or restarts) the wait for the end of a burst of display events.
    void handleDisplayChange();
    void handleSessionEnd();
    // A companion application announced itself (window message 2024 / 2025).
    void handleRunningApp(quintptr wParam, qintptr lParam);
    void handleIntelApp(quintptr wParam, qintptr lParam);

signals:
    void changeDeviceEnd();

public slots:
    void StartWizardMenu();
    void StartAlignmentDisplay();
    void StopAlignmentDisplay(int changeDevice, bool bMask);
    void StartACalibration();
    void StartMCalibration();
    void StartPenMode();
    void StartLaserMode();
    void updateAlignImage(QImage image, int nDevNum);
    void StartSIPF();
    void StartScrivo();
    void StartAbout();
    void updateConfigFirm();
    void updateConfigFile();
    void handleEventData(TargetWindow target, bool bIntel);
    void slotTrayActivated(QSystemTrayIcon::ActivationReason reason);
    void startEnginnerMode(int nDevNum);
    void engModeCamUpDate(int nDevNum, ALIGNMENT_VIEW_MODE eMode, bool bModeChange);
    void engModeCamParamSend(int nDevNum, QString strAddr, QString strValue);
    void callClose();
    void resultKeySendToPJStart(bool bWait);
    void resultKeySendToPJExecute();
    void keyActionReception(uint nKeyActionNo);
    void shortcutReSensingPressed();
    void TrayHide();
    void TrayUpdateConnect(bool bConnect, bool bMessage, QString sDeviceName);
    void HideDialogs();
    void slotReceiveMask(unsigned char *mask, int len);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildForm();
    // What the report follows: a module's arrival leaves the wizard open.
    enum class ReportCause { Arrival, Other };
    void connectionReport(ReportCause cause = ReportCause::Other);
    // The dialogs that show or drive the modules: engineer mode, alignment view.
    void hideModuleDialogs();
    // Ends the alignment view's display and hides it (when it exists).
    void closeAlignmentView();
    // Starts a calibration run (`start`) from wherever the user is; an open
    // alignment view closes first.
    void startRunFromTheView(void (nqmaincontrol::*start)());
    void refreshTrayAfterModeSwitch();
    QString versionText(const char *separator) const;
    void releaseOwned();
    // The display events have stopped: the controller handles the change once.
    void displayChangeSettled();
    // A close that came while the controller was in a transition or a modal box
    // was open: the boxes are ended and the close is tried again once the stack
    // has unwound.
    bool closeMustWait() const;
    void deferClose();

    // The vestigial designer form: never visible.
    QSplitter *m_splitter = nullptr;
    QPushButton *m_buttons[4] = {};

    nqmaincontrol *m_control = nullptr;
    ConfigFileRW *m_settings = nullptr;
    LanguageTable *m_language = nullptr;
    CorvaneTray *m_tray = nullptr;
    WizardDlg *m_wizard = nullptr;
    EngineerMode *m_engineerDlg = nullptr;
    AlignmentDlg *m_psAlignDlg = nullptr;
    tl::SystemEventSource *m_events = nullptr;
    // Companion application, keyboard hook and hot key.
    CorvaneCompanion *m_companion = nullptr;
    bool m_bClosed = false;
    bool m_bClosePending = false;
    // Driver time without a further display event after which a change is handled.
    static constexpr int kDisplayChangeSettleMs = 500;
    QTimer m_displayChangeTimer;
    // The event loop level of the modal box a deferred close ended; the close
    // waits until the loop has been left (-1: no box was involved).
    int m_nCloseLoopLevel = -1;
};
