#pragma once

#include <QDialog>
#include <QHash>

class ConfigFileRW;
class LanguageTable;
class MonitorSelWidget;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTextEdit;
class QWidget;

// The three-page configuration wizard: installation and user options, the
// way to the alignment view, and the calibration buttons. It edits the
// settings and raises signals; the main window turns them into actions.
// One instance lives as long as the main window and is reused for every
// opening.
class WizardDlg : public QDialog
{
    Q_OBJECT
public:
    WizardDlg(QWidget *parent, ConfigFileRW *settings, LanguageTable *language);
    ~WizardDlg() override;

    // Prepares one opening; the caller shows and activates the dialog.
    // deviceCount and modelType are not used by this build's wizard.
    void initialize(bool setupMode, int deviceCount, const QString &firmwareText, int modelType);

    bool setupMode() const { return m_bSetupMode; }
    int page() const;
    double dpiRatio() const { return m_dpiRatio; }

    // Values edited on the first page, applied only on Next.
    int pendingLens() const { return m_nLens; }
    bool pendingCeiling() const { return m_bCeiling; }
    bool pendingRear() const { return m_bRear; }
    int pendingPen() const { return m_nPen; }
    int pendingMonitor() const { return m_nMonitor; }

signals:
    void workingDoneFirm();
    void workingDoneFile();
    void reStartDisplay();
    void reStartMCalibration();
    void reStartACalibration();
    void callClose();

public slots:
    void clickCancel();
    void clickPre();
    void clickNext();
    void clickUpdate();
    void clickView();
    void clickAutoCalib();
    void clickManualCalib();
    void clickTBLens();
    void clickTALens();
    void clickTULens();
    void clickLens4();
    void clickLens5();
    void clickDefaultServer();
    void clickOtherServer();
    void clickAutoStart();
    void clickCelling();
    void clickRear();
    void changeLanguage(int index);
    void changeServerList(int index);
    void changeMonitor(int index);
    void clickNormal();
    void clickPlus();

    // Escape and the dialog's own rejection run clickCancel.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildForm();
    void applyBrandVisibility();
    void connectControls();
    void fillInfoBox(QTextEdit *box, const QString &text);
    void mirrorForRightToLeft(QGroupBox *group);
    void fitInsideGroup(QGroupBox *group);
    void applyPending();
    bool pendingDiffers() const;
    void goToPage(int page);
    // Stored values brought into the ranges the first page can show.
    int storedLens() const;
    int storedPen() const;
    int storedMonitor() const;

    ConfigFileRW *m_settings = nullptr;
    LanguageTable *m_language = nullptr;
    bool m_bSetupMode = false;
    QString m_sFirmware;
    double m_dpiRatio = 1.0;
    bool m_bMirrored = false;
    // Top of each group's control as designed (scaled), before any fitting.
    QHash<const QWidget *, int> m_designTop;

    int m_nLens = 2;
    bool m_bCeiling = false;
    bool m_bRear = false;
    int m_nPen = 0;
    int m_nMonitor = 0;

public:
    // Designer names of the controls.
    QLabel *labelBanner = nullptr;
    QPushButton *pushCancel = nullptr;
    QPushButton *pushPre = nullptr;
    QPushButton *pushNext = nullptr;
    QStackedWidget *stackedWidget = nullptr;
    QWidget *page_1 = nullptr; // "page"
    QWidget *page_2 = nullptr;
    QWidget *page_3 = nullptr;
    QGroupBox *groupLens = nullptr;
    QRadioButton *radioTBLens = nullptr;
    QRadioButton *radioTALens = nullptr;
    QRadioButton *radioTULens = nullptr;
    QRadioButton *radioLens4 = nullptr;
    QRadioButton *radioLens5 = nullptr;
    QGroupBox *groupLanguage = nullptr;
    QLabel *labelUse = nullptr;
    QLabel *labelUseL = nullptr;
    QLabel *labelSel = nullptr;
    QComboBox *comboLanguage = nullptr;
    QGroupBox *groupBasic = nullptr;
    QCheckBox *checkAutoStart = nullptr;
    QCheckBox *checkCelling = nullptr;
    QCheckBox *checkRear = nullptr;
    QGroupBox *groupUpdate = nullptr;
    QRadioButton *radioDefaultServer = nullptr;
    QRadioButton *radioOtherServer = nullptr;
    QComboBox *comboServerList = nullptr;
    QPushButton *pushUpdate = nullptr;
    QTextEdit *textEditInfo = nullptr;
    QLabel *labelHWVersion = nullptr;
    QLabel *labelSWVersion = nullptr;
    QGroupBox *groupMonitor = nullptr;
    MonitorSelWidget *widgetMonitorSel = nullptr;
    QGroupBox *groupPen = nullptr;
    QRadioButton *radioNormal = nullptr;
    QRadioButton *radioPlus = nullptr;
    QGroupBox *groupAdjust = nullptr;
    QLabel *labelInfo1 = nullptr;
    QLabel *labelInfo2 = nullptr;
    QPushButton *pushView = nullptr;
    QTextEdit *textEditInfo1 = nullptr;
    QTextEdit *textEditInfo2 = nullptr;
    QGroupBox *groupCalib = nullptr;
    QLabel *labelInfo3 = nullptr;
    QLabel *labelInfo4 = nullptr;
    QLabel *labelInfo5 = nullptr;
    QPushButton *pushAutoCalib = nullptr;
    QPushButton *pushManualCalib = nullptr;
    QTextEdit *textEditInfo3 = nullptr;
    QTextEdit *textEditInfo4 = nullptr;
};
