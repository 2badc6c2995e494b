#pragma once

#include "control/CalibrationRun.h"
#include "control/StateMachines.h"
#include "control/SystemStates.h"
#include "input/InputInjection.h"

#include <QDateTime>
#include <QImage>
#include <QList>
#include <QObject>
#include <QRect>
#include <QString>
#include <QVector>

#include <deque>
#include <memory>
#include <mutex>
#include <vector>

class CalibDlg;
class ConfigFileRW;
class LanguageTable;
class QMessageBox;
class WaitDlg;
class QWidget;

namespace tl {
class CamDevCtrl;
class UsbAccess;
}

// Display rectangle of one counted module, rebuilt by GetMonitorInf.
struct DisplayInfo
{
    int nDevNum = 0;
    QRect sDisplayRect;
};

// Window handle of the injection target (a companion application's window).
using TargetWindow = quintptr;

// The one object that decides what the camera modules are doing: the system,
// calibration and acquisition state machines. GUI thread only; the device layer
// reaches it through queued signals.
class nqmaincontrol : public QObject
{
    Q_OBJECT
public:
    // `injection` is the input injection object the controller owns; null
    // makes the system's with `injectionChooser` (touch device, pointer, XTest
    // or none), which must then be given and outlive the controller.
    // `companionLink` (may be null) is what that injection posts contact
    // messages through; it must outlive the controller.
    nqmaincontrol(ConfigFileRW *settings, LanguageTable *language, tl::UsbAccess *usb,
                  QWidget *mainWindow, QObject *parent = nullptr,
                  std::unique_ptr<tl::input::InputInjection> injection = nullptr,
                  tl::CompanionLink *companionLink = nullptr,
                  const tl::InjectionChooser *injectionChooser = nullptr);
    ~nqmaincontrol() override;

    // A call into the controller that may run a nested event loop (a message
    // box, a window's synchronous repaint) holds one of these while it runs;
    // the owner does not destroy the controller while any is held. Null: no-op.
    class Transition
    {
    public:
        explicit Transition(nqmaincontrol *control);
        ~Transition();
        Transition(const Transition &) = delete;
        Transition &operator=(const Transition &) = delete;

    private:
        nqmaincontrol *m_control;
    };
    bool inTransition() const { return m_nTransitions > 0; }
    // The program is about to end: the open message box is closed and no new
    // one is opened; the running transition finishes without waiting for the user.
    void requestClose();
    bool closeRequested() const { return m_bCloseRequested; }

    void systemStateChange(int eState, int nDevNum);
    void systemStateCalbrationChange(int nDevNum, int eCalState);
    void StopDevice();
    // Closes the modules the settings count (at most two).
    void closeDevices();
    // The rectangles of all monitors, left to right.
    static void desktopMonitors(QList<QRect> &rects);
    void NotifyWait(bool show);
    void setHandleEventData(TargetWindow target, bool intel);
    void GetMonitorInf();
    void setPenTouchMode(int mode);
    void swapAndReopen();
    void resumeAfterAlignment();
    void uploadMask(unsigned char *mask, int length);
    void closeMessage();
    int showMessage(const QString &text);

    bool allDevicesIdentified() const;
    QString deviceDisplayName() const;
    bool calibrationReady(int mode) const;
    bool connectionStatus() const { return m_bConnectionStatus; }
    int threadState() const { return m_threadState; }
    int systemState() const { return m_systemState; }
    int calState() const { return m_calState; }
    bool wizardPending() const { return m_bWizardPending; }
    void setWizardPending(bool pending) { m_bWizardPending = pending; }
    int modelTypeIfIdentified() const;
    int modelType(int nDevNum) const;
    int modelSubType(int nDevNum) const;
    int fwParam() const { return m_nFwParam; }
    bool intelMode() const { return m_bIntelMode; }
    TargetWindow targetWindow() const { return m_targetWindow; }
    const QVector<DisplayInfo> &displayInfo() const { return m_psDisplayInfo; }
    tl::CamDevCtrl *device() const { return m_device; }
    WaitDlg *waitDialog() const { return m_waitDlg; }
    tl::input::InputInjection *injection() const { return m_injection.get(); }
    // What the user should be told when no input can be injected; empty when it can.
    QString injectionMessage() const { return m_sInjectionMessage; }
    // The same for the user, from the language files, at most once per kind
    // (touch input off; touches not mapped to the board's monitor); empty when
    // there is nothing new to tell.
    QString takeInjectionMessage();
    bool touchInjection() const { return m_bTouchInjection; }
    // The display rectangles and module count of the tracking path, from the
    // current monitors and settings.
    void configureInjectorLayout();
    int GetNumberOfCameraDevices();

    // What the alignment frame path did since the last reset: frames shown per
    // module, frames refused for their size, and the GUI thread's time for each
    // shown frame (conversion and display), in nanoseconds.
    struct AlignFrameStats
    {
        int shown[2] = {0, 0};
        int refused = 0;
        QVector<qint64> guiNs;
    };
    const AlignFrameStats &alignFrameStats() const { return m_alignStats; }
    void resetAlignFrameStats() { m_alignStats = AlignFrameStats(); }
    // Calibration runs (auto and manual), module by module, ending in tracking.
    void startAutoCalibration();
    void startManualCalibration();
    void StopOrNextCalibration(bool bAuto, int result, int nDevNum);
    CalibDlg *calibDialog() const { return m_calibDlg; }
    // The module's point number for entry k of the fitted list of a manual run
    // with side x side targets (4 or 5), by mounting; -1 outside the list.
    static int manualPointOrder(int k, int side, int ceiling, int rear);

signals:
    void callSaveFirmwareParam();
    void TrayHide();
    void TrayUpdateConnect(bool bConnect, bool bMessage, QString sDeviceName);
    void HideDialogs();
    void callClose();
    void resultKeySendToPJStart(bool bWait);
    void updateAlignImage(QImage sImage, int nDevNum);
    void callAutoCalibrationStop(int nDevNum);
    void callChangeNextThreadState(int nDevNum, int eNextState);
    void sigReceiveMask(unsigned char *mask, int len);

public slots:
    void slotCamParamSend(int addr, int value);
    void slotCamParamSendWait(unsigned short gain, unsigned int expo, int nDevNum);
    void calDlgWorkingDone(int devNum);
    void threadStateChange(int nDevNum, int eNextState);
    void FirmwareSave_Param();
    // Saves param.ini for a change the user did not make on the wizard's first
    // page (the modules exchanged): while the set-up wizard is pending, the
    // ceiling box's cleared start value stays out of the file.
    void saveParamKeepingTheFilesCeiling();
    void slotSetFWVersion(QString sVersion, int nDevNum);
    void slotNewFrameReceived(unsigned char *buf, int size, int nDevNum);
    void slotReceiveMask(unsigned char *mask, int len);
    void slotRequestMask(int idx);
    void OnTimer();
    void slotNewACImageReceived(unsigned char *buf, int size, int nDevNum);
    void slotACNextStep(int nDevNum);
    void slotMCNextStep(int *buf, int len, int nDevNum);
    void slotMCDone();
    void slotMCNextStepPointer();
    void slotMCPrevStepPointer(int nDevNum);
    void slotCalibReadyEnd(int nDevNum);

private:
    // One RES_MC_PATTERN_END or DAT_MC_INPUT_POINT as a receive loop copied it.
    struct ManualAnswer
    {
        std::vector<int> values;
        int len = 0;
        int nDevNum = 0;
    };
    // Hands the queued answers to slotMCNextStep, in arrival order.
    Q_INVOKABLE void takeManualAnswers();

    bool initDeviceCheck();
    // Returns false when nothing changed (device change with an unchanged count).
    bool suspendDeviceCheck(int eState);
    void openDeviceSet(int n);
    void connectTail();
    void copySerialsToRecords();
    void stopReceiveThreads();
    bool calibrationStartChecks();
    // Shows the calibration window for a run; false when the modules were
    // stopped while it opened (the run must not go on).
    bool prepareCalibrationWindow(int nDevNum, bool bAuto);
    void requestCapture(tl::machines::CaptureKind kind, int nDevNum);
    int captureElapsedMs() const;
    // One step of the auto sequence, set off by an end of a capture (`image`
    // false) or by a complete image (`image` true).
    void autoCalibrationStep(int nDevNum, bool image);
    // True when nDevNum is the module whose calibration runs in `threadState`.
    bool calibrationEventFor(int nDevNum, int threadState) const;
    // After a cancel of an auto run, ends the run if the module brings no step.
    void armCancelDeadline(int nDevNum);
    // The calibration machine: the step the current state takes on `event`
    // (StateMachines.cpp), or nothing when it takes none.
    using CalibrationEvent = tl::machines::CalibrationEvent;
    using CalibrationStep = tl::machines::CalibrationTransition;
    void calibrationStep(CalibrationEvent event, int nDevNum, const int *buf, int len);
    // The calibration state, logged with its names when it changes (`why`:
    // the event or the machine that changes it).
    void setCalibrationState(int to, const char *why, int nDevNum);
    void logCalibrationChange(int from, int to, const char *why, int nDevNum);
    void onCaptureEnd(const CalibrationStep &step, int nDevNum);
    void onCaptureImage(const CalibrationStep &step, int nDevNum);
    void onPatternCaptured(const CalibrationStep &step, int nDevNum);
    void onManualTargetEnd(const CalibrationStep &step, const int *buf, int len, int nDevNum);
    void onParametersStored(bool bAuto, int nDevNum);
    // The fit of a module's run: true when its parameters went to the module
    // (the step's next state waits for them to be stored), false when the run
    // of the module ended without.
    bool evaluateAutoCalibration(int nDevNum);
    // Blanks the black, white and pattern images before a module's auto run.
    void clearCalibrationImages();
    bool evaluateManualCalibration(const int *buf, int nDevNum);
    // Sets the calibration state, stops the receive loops and asks the thread
    // state machine for its next state.
    void enterCalibrationState(int eCalState, int nDevNum, int eNextThreadState);
    // The same for a row of the system machine, logged as a calibration row.
    void calibrationRow(int eCalState, int nDevNum, int eNextThreadState);
    // ", module n" for a transition line; empty for all modules (-1).
    static QString moduleSuffix(int nDevNum);
    // The acquisition state, logged with its names when it changes.
    void setThreadState(int eState, int nDevNum);
    // How the acquisition states start (threadStateChange has stopped the modules).
    void startTracking(int reverse);
    void enterManualCalibration(const tl::machines::ThreadRow &row, int nDevNum, int reverse);
    void enterAutoCalibration(const tl::machines::ThreadRow &row, int nDevNum, int reverse, int lensCode);
    // The system machine's rows that touch the modules.
    void displayChanged();

    std::unique_ptr<tl::input::InputInjection> m_injection;
    QString m_sInjectionMessage;
    ConfigFileRW *m_psDataMgr = nullptr;
    LanguageTable *m_language = nullptr;
    QWidget *m_mainWindow = nullptr;
    tl::CamDevCtrl *m_device = nullptr;
    QMessageBox *m_messageBox = nullptr;
    std::mutex m_manualAnswersMutex;
    std::deque<ManualAnswer> m_manualAnswers;
    int m_nTransitions = 0;
    bool m_bCloseRequested = false;
    bool m_bParamRead = false;   // the records hold param.ini's values (loadParam ran)
    bool m_bCeilingInFile = true;  // the CheckCeiling param.ini holds (last read or written)
    int m_systemState = 0;
    int m_calState = 0;
    int m_threadState = 0;
    // How often StopDevice ran: a transition that turns the event loop sees
    // whether another one stopped the modules meanwhile.
    quint64 m_nStops = 0;
    TargetWindow m_targetWindow = 0;
    bool m_bConnectionStatus = false;
    int m_modelType[2] = {0, 0};
    int m_modelSubType[2] = {0, 0};
    int m_nFwParam = 10;
    QImage m_calibImages[4];
    // The running calibration's own state besides m_calState.
    CalibrationRun m_run;
    bool m_bDispatchEnabled = true;
    bool m_bWizardPending = false;
    bool m_bIntelMode = false;
    bool m_bTouchInjection = true;
    QVector<DisplayInfo> m_psDisplayInfo;
    WaitDlg *m_waitDlg = nullptr;
    CalibDlg *m_calibDlg = nullptr;
    QRect m_rcMergedSensor;
    QByteArray m_alignRgb;
    AlignFrameStats m_alignStats;
};
