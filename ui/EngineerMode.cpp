#include "ui/EngineerMode.h"

#include "input/ContactSlots.h"
#include "input/NqUtils.h"
#include "settings/ConfigFileRW.h"
#include "platform/Screens.h"
#include "ui/DialogScale.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QWindow>

using DialogScale::make;

namespace {

constexpr int kMargin = 8;

struct SliderRow
{
    const char *name;
    int maximum;
    int start;
    const char *caption;
};
const SliderRow kSliders[] = {
    {"hSlideAlignmentViewGain", 255, 40, "[ Alignment View ] - GAIN"},
    {"hSlideAutoCalibrationGain", 255, 31, "[ Auto Calibration ] - GAIN"},
    {"hSlideFingerModeGain", 255, 40, "[ Finger Mode ] - GAIN"},
    {"hSlideFingerThA", 100, 40, "[ Finger Mode Th = A * Image + B  ] : A [Image %]"},
    {"hSlideFingerThB", 255, 40, "[ Finger Mode Th = A * Image + B  ] : B [0-255] 254 Clip"},
};
} // namespace

EngineerMode::EngineerMode(QWidget *parent, ConfigFileRW *settings, int nDevNum)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                          | Qt::WindowStaysOnTopHint)
    , m_settings(settings)
    , m_nDevNum(nDevNum)
{
    qRegisterMetaType<ALIGNMENT_VIEW_MODE>("ALIGNMENT_VIEW_MODE");
    setObjectName("EngineerMode");
    setWindowTitle("Engineer Mode");
    resize(470, 540);

    groupBox_2 = make<QGroupBox>(this, "groupBox_2", 10, 8, 450, 84);
    groupBox_2->setTitle("Display");
    radioDisp_AV = make<QRadioButton>(groupBox_2, "radioDisp_AV", 14, 24, 130, 22);
    radioDisp_ACal = make<QRadioButton>(groupBox_2, "radioDisp_ACal", 158, 24, 130, 22);
    radioDisp_PT = make<QRadioButton>(groupBox_2, "radioDisp_PT", 302, 24, 130, 22);
    radioDisp_FT = make<QRadioButton>(groupBox_2, "radioDisp_FT", 14, 52, 130, 22);
    radioDisp_PTBin = make<QRadioButton>(groupBox_2, "radioDisp_PTBin", 158, 52, 130, 22);
    radioDisp_FTBin = make<QRadioButton>(groupBox_2, "radioDisp_FTBin", 302, 52, 130, 22);
    radioDisp_AV->setText("AV");
    radioDisp_ACal->setText("ACal");
    radioDisp_PT->setText("PT_MCal");
    radioDisp_FT->setText("FT");
    radioDisp_PTBin->setText("PT_Bin");
    radioDisp_FTBin->setText("FT_Bin");

    auto *groupReg = make<QGroupBox>(this, "groupBox_3", 10, 98, 450, 92);
    groupReg->setTitle("CMOS Reg Set");
    make<QLabel>(groupReg, "labelAddr", 14, 26, 120, 24)->setText("Address (HEX)");
    lineEditAddr = make<QLineEdit>(groupReg, "lineEditAddr", 138, 24, 140, 26);
    make<QLabel>(groupReg, "labelValue", 14, 58, 120, 24)->setText("Value (HEX)");
    lineEditValue = make<QLineEdit>(groupReg, "lineEditValue", 138, 56, 140, 26);
    pushButtonSend = make<QPushButton>(groupReg, "pushButtonSend", 310, 22, 124, 28);
    pushButtonSend->setText("Send");
    pushButtonReset = make<QPushButton>(groupReg, "pushButtonReset", 310, 55, 124, 28);
    pushButtonReset->setText("Reset");

    chkTrackingSave = make<QCheckBox>(this, "chkTrackingSave", 14, 198, 200, 22);
    chkTrackingSave->setText("Save Tracking");

    QSlider **sliders[] = {&hSlideAlignmentViewGain, &hSlideAutoCalibrationGain, &hSlideFingerModeGain,
                           &hSlideFingerThA, &hSlideFingerThB};
    int y = 228;
    for (int i = 0; i < 5; ++i, y += 54) {
        const SliderRow &row = kSliders[i];
        make<QLabel>(this, qPrintable(QString("labelSlider%1").arg(i + 1)), 14, y, 446, 20)->setText(row.caption);
        QSlider *slider = make<QSlider>(this, row.name, 14, y + 24, 370, 22);
        slider->setOrientation(Qt::Horizontal);
        slider->setRange(0, row.maximum);
        slider->setSingleStep(1);
        slider->setPageStep(1);
        slider->setValue(row.start);
        auto *number = make<QLCDNumber>(this, qPrintable(QString("numSlider%1").arg(i + 1)), 394, y + 20, 62, 28);
        number->setSegmentStyle(QLCDNumber::Flat);
        number->setDigitCount(3);
        number->display(row.start);
        // The number only mirrors its slider; neither reaches the module.
        connect(slider, &QSlider::valueChanged, number, QOverload<int>::of(&QLCDNumber::display));
        *sliders[i] = slider;
    }

    pushButton = make<QPushButton>(this, "pushButton", 356, 500, 104, 30);
    pushButton->setText("OK");

    const double ratio = DialogScale::pixelRatio();
    setFixedSize(DialogScale::scaled(width(), ratio), DialogScale::scaled(height(), ratio));
    DialogScale::scaleChildren(this, ratio);

    connect(pushButton, &QPushButton::clicked, this, &EngineerMode::clickOk);
    connect(pushButtonSend, &QPushButton::clicked, this, &EngineerMode::clickSend);
    connect(pushButtonReset, &QPushButton::clicked, this, &EngineerMode::clickReset);
    connect(radioDisp_AV, &QRadioButton::clicked, this, &EngineerMode::clickDisp_AV);
    connect(radioDisp_ACal, &QRadioButton::clicked, this, &EngineerMode::clickDisp_ACal);
    connect(radioDisp_PT, &QRadioButton::clicked, this, &EngineerMode::clickDisp_Pen_MCal);
    connect(radioDisp_FT, &QRadioButton::clicked, this, &EngineerMode::clickDisp_Finger);
    connect(radioDisp_PTBin, &QRadioButton::clicked, this, &EngineerMode::clickDisp_Pen_Analysis);
    connect(radioDisp_FTBin, &QRadioButton::clicked, this, &EngineerMode::clickDisp_Finger_Analysis);
    connect(chkTrackingSave, &QCheckBox::clicked, this, &EngineerMode::clickSaveTracking);

    // In the corner of the module's display, 8 pixels in from its right and
    // bottom edges: the display its touches map to (one module: the monitor
    // the settings name). A module without a display of its own uses the first one.
    const tl::input::DisplayMap map = m_settings
        ? tl::input::selectDisplayRects(m_settings->getNumOfCamDevice(), m_settings->getMonitor())
        : tl::input::selectDisplayRects(2, -1);
    QRect display = (m_nDevNum == 0 || m_nDevNum == 1) ? map.rect[m_nDevNum] : QRect();
    if (display.isNull())
        display = map.rect[0];
    if (!display.isNull()) {
        move(display.right() - kMargin - width() + 1, display.bottom() - kMargin - height() + 1);
        m_placement = geometry();
    }
}

EngineerMode::~EngineerMode() = default;

void EngineerMode::start()
{
    m_eMode = eavALIGNMENT_VIEW;
    radioDisp_AV->setChecked(true);
    emit engModeCamUpDate(m_nDevNum, m_eMode, true);
}

QRadioButton *EngineerMode::buttonOf(ALIGNMENT_VIEW_MODE mode) const
{
    QRadioButton *const buttons[] = {radioDisp_AV, radioDisp_ACal, radioDisp_PT,
                                     radioDisp_FT, radioDisp_PTBin, radioDisp_FTBin};
    return buttons[mode];
}

void EngineerMode::chooseMode(ALIGNMENT_VIEW_MODE mode)
{
    buttonOf(mode)->setChecked(true);
    if (m_eMode == mode)
        return;
    m_eMode = mode;
    emit engModeCamUpDate(m_nDevNum, m_eMode, true);
}

void EngineerMode::clickDisp_AV() { chooseMode(eavALIGNMENT_VIEW); }
void EngineerMode::clickDisp_ACal() { chooseMode(eavAUTO_CALIBRATION); }
void EngineerMode::clickDisp_Pen_MCal() { chooseMode(eavPEN_TRACKING); }
void EngineerMode::clickDisp_Finger() { chooseMode(eavFINGER_TOUCH); }
void EngineerMode::clickDisp_Pen_Analysis() { chooseMode(eavPEN_ANALYSIS); }
void EngineerMode::clickDisp_Finger_Analysis() { chooseMode(eavFINGER_ANALYSIS); }

void EngineerMode::clickReset()
{
    emit engModeCamUpDate(m_nDevNum, m_eMode, false);
}

void EngineerMode::clickSend()
{
    m_sStrAddr = lineEditAddr->text();
    m_sStrValue = lineEditValue->text();
    emit engModeCamParamSend(m_nDevNum, m_sStrAddr, m_sStrValue);
}

void EngineerMode::clickOk()
{
    hide();
}

void EngineerMode::clickSaveTracking()
{
}

void EngineerMode::showEvent(QShowEvent *event)
{
    // On the screen of the display it was placed on, before it is mapped. A
    // Wayland compositor places the dialog itself (sway: on the focused
    // output) and ignores the position; the main window asks sway to move it
    // once it is shown.
    if (windowHandle())
        tl::placement::bindToScreen(windowHandle(), geometry(), nullptr);
    DialogScale::standAloneIfOwnerHidden(this);
    QDialog::showEvent(event);
}
