#pragma once

#include <QDialog>
#include <QMetaType>
#include <QString>

class ConfigFileRW;
class QCheckBox;
class QGroupBox;
class QLCDNumber;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;

// Which picture a module delivers to the engineer.
enum ALIGNMENT_VIEW_MODE {
    eavALIGNMENT_VIEW = 0,
    eavAUTO_CALIBRATION = 1,
    eavPEN_TRACKING = 2,      // pen tracking / manual calibration
    eavFINGER_TOUCH = 3,
    eavPEN_ANALYSIS = 4,      // thresholded pen picture
    eavFINGER_ANALYSIS = 5,   // thresholded finger picture
};
Q_DECLARE_METATYPE(ALIGNMENT_VIEW_MODE)

// A service dialog for one camera module: the picture it delivers, and single
// sensor register writes typed in hexadecimal. It only raises signals.
class EngineerMode : public QDialog
{
    Q_OBJECT
public:
    EngineerMode(QWidget *parent, ConfigFileRW *settings, int nDevNum);
    ~EngineerMode() override;

    // Alignment view picture, announced as a mode change.
    void start();

    int devNum() const { return m_nDevNum; }
    // Where the dialog is meant to be: its module display's bottom-right
    // corner (null without a display).
    QRect placement() const { return m_placement; }
    ALIGNMENT_VIEW_MODE mode() const { return m_eMode; }

signals:
    void engModeCamUpDate(int nDevNum, ALIGNMENT_VIEW_MODE eMode, bool bModeChange);
    void engModeCamParamSend(int nDevNum, QString m_sStrAddr, QString m_sStrValue);

public slots:
    void clickOk();
    void clickSend();
    void clickReset();
    void clickDisp_AV();
    void clickDisp_ACal();
    void clickDisp_Pen_MCal();
    void clickDisp_Finger();
    void clickDisp_Pen_Analysis();
    void clickDisp_Finger_Analysis();
    void clickSaveTracking();

protected:
    void showEvent(QShowEvent *event) override;

public:
    QPushButton *pushButton = nullptr;
    QGroupBox *groupBox_2 = nullptr;
    QRadioButton *radioDisp_AV = nullptr;
    QRadioButton *radioDisp_ACal = nullptr;
    QRadioButton *radioDisp_PT = nullptr;
    QRadioButton *radioDisp_FT = nullptr;
    QRadioButton *radioDisp_PTBin = nullptr;
    QRadioButton *radioDisp_FTBin = nullptr;
    QLineEdit *lineEditAddr = nullptr;
    QLineEdit *lineEditValue = nullptr;
    QPushButton *pushButtonSend = nullptr;
    QPushButton *pushButtonReset = nullptr;
    QCheckBox *chkTrackingSave = nullptr;
    QSlider *hSlideAlignmentViewGain = nullptr;
    QSlider *hSlideAutoCalibrationGain = nullptr;
    QSlider *hSlideFingerModeGain = nullptr;
    QSlider *hSlideFingerThA = nullptr;
    QSlider *hSlideFingerThB = nullptr;

private:
    void chooseMode(ALIGNMENT_VIEW_MODE mode);
    QRadioButton *buttonOf(ALIGNMENT_VIEW_MODE mode) const;

    ConfigFileRW *m_settings = nullptr;
    int m_nDevNum = 0;
    QRect m_placement;
    ALIGNMENT_VIEW_MODE m_eMode = eavALIGNMENT_VIEW;
    QString m_sStrAddr;
    QString m_sStrValue;
};
