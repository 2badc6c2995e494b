#pragma once

#include <QDialog>
#include <QImage>
#include <QRect>

#include <array>

class ConfigFileRW;
class LanguageTable;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLCDNumber;
class QPushButton;
class QSlider;
class maskDlg;

// The alignment view: a frameless window over the board's monitor (one module)
// or both modules' monitors, with a thick black frame near the screen edges and
// each module's live camera image in the middle of its monitor. The user sets
// the camera brightness, may exchange two modules, and with one module may paint
// the mask the module is to ignore. GUI thread only.
class AlignmentDlg : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kImageWidth = 640;
    static constexpr int kImageHeight = 360;
    static constexpr int kBitmapBytes = kImageWidth * kImageHeight / 8;   // 28,800
    static constexpr int kMaskBytes = kBitmapBytes + 1;                   // + the enable byte
    static constexpr int kFrameInset = 50;
    static constexpr int kLevels = 10;
    // Module gain for each brightness level.
    static constexpr std::array<unsigned short, kLevels> kGainTable = {16, 32, 64, 128, 192,
                                                                        256, 384, 512, 768, 1023};

    AlignmentDlg(QWidget *parent, ConfigFileRW *settings, LanguageTable *language);
    ~AlignmentDlg() override;

    void imageDisplay(bool bDisplay, int arg);
    void setImage(const QImage &image, int devIndex);
    void SetReceiveMask(const unsigned char *data, int len);
    // The modules are about to be opened afresh (another module may come): the
    // mask read before is no longer known to be the module's. Opening reads it
    // again.
    void forgetReceivedMask();
    void setBrightness(int level);

    // The mask record: the bitmap and the enable byte.
    unsigned char *m_pMaskBufBit = nullptr;

    bool displaying() const { return m_bDisplaying; }
    bool maskEditorOpen() const { return m_bMaskEditorOpen; }
    bool maskReceived() const { return m_bMaskReceived; }
    int brightnessLevel() const { return m_nBrightnessLevel; }
    QRect monitorRect(int i) const { return (i == 0 || i == 1) ? m_rcMonitor[i] : QRect(); }
    maskDlg *maskEditor() const { return m_psMaskDlg; }

    // Painted pixels (alpha 255 and red 255) of a 640 x 360 mask image as the
    // bitmap, one bit a pixel, the leftmost pixel of each byte in bit 7.
    static void imageToBitmap(const QImage &image, unsigned char *bits);

signals:
    void alignmentDisplayDone(int changeDevice, bool bMask);
    void sigCamParamSend(int addr, int value);
    void sigCamParamSendWait(unsigned short gain, unsigned int expo, int nDevNum);
    void sigDraw();
    void sigEraserFree();
    void sigEraserAll();
    void startEnginnerMode(int nDevNum);

public slots:
    void clickOK();
    void clickPushB();
    void clickConvert1();
    void clickConvert2();
    void valueAlignmentGain1();
    void valueAlignmentGain2();
    void onDraw();
    void onEraser();
    void onEraserAll();

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void placeMonitor(int i, const QRect &monitor);
    void sendGainToBoth(int level);
    void convertClicked(QCheckBox *clicked, QCheckBox *other);
    void showMaskPanel(bool show);
    int deviceCount() const;
    // Exactly one module, and its firmware keeps a mask (minor version 14 on).
    bool moduleTakesMask() const;
    void userMovedSlider(int i);

    ConfigFileRW *m_psDataMgr;
    LanguageTable *m_language;
    std::array<unsigned char, kMaskBytes> m_maskBuf{};
    bool m_bDisplaying = false;
    bool m_bMaskEditorOpen = false;
    bool m_bMaskReceived = false;
    QRect m_rcMonitor[2];
    int m_nBrightnessLevel = 5;
    // The mask editor's edit count when the view opened: OK sends a mask only
    // when the user changed it since.
    int m_nEditsAtOpening = 0;
    // A slider step of the user (key, wheel, click in the groove) is on its way
    // to the slider's value.
    bool m_bUserStep[2] = {};
    maskDlg *m_psMaskDlg = nullptr;

    QLabel *m_label[2] = {};
    QSlider *m_slider[2] = {};
    QLCDNumber *m_number[2] = {};
    QLabel *m_labelBr[2] = {};
    QPushButton *m_ok[2] = {};
    QCheckBox *m_change[2] = {};
    QGroupBox *m_group[2] = {};
    QPushButton *m_pushB = nullptr;
    QFrame *m_frameMask = nullptr;
    QLabel *m_labelMask = nullptr;
    QPushButton *m_draw = nullptr;
    QPushButton *m_eraser = nullptr;
    QPushButton *m_eraserAll = nullptr;
    QWidget *m_hidden[5] = {};   // cb_touch and the four guide lines
};
