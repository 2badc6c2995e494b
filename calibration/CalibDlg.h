#pragma once

#include <QDialog>
#include <QImage>
#include <QMutex>
#include <QPixmap>
#include <QPointer>
#include <QWindow>
#include <QRect>

#include <opencv2/core.hpp>

class ConfigFileRW;
class LanguageTable;
class QLabel;
class QPropertyAnimation;
class QTimer;

// The full-screen window shown on the display a module watches while that
// module is calibrated: black, white or the marker pattern for the camera in
// auto calibration; one target mark at a time, with its ring animation, in
// manual calibration. It computes the window coordinates of the pattern points
// and targets; the controller switches its modes and reacts to its signals.
class CalibDlg : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kPointSlots = 25;
    static constexpr int kMarkSize = 113;
    static constexpr int kMarkHalf = 56;
    static constexpr int kRingPeriodMs = 20;
    static constexpr int kMoveDurationMs = 400;
    static constexpr int kSpinLimit = 30;
    // How long showDisplay waits for the window system to give the window its monitor's size.
    static constexpr int kConfigureSpinLimit = 1000;

    enum DisplayMode { ModeBlack = 0, ModeWhite = 1, ModeManual = 2, ModePattern = 3, ModeKeep = 4 };

    // `settings` and `language` are shared with the main window and outlive
    // this window.
    CalibDlg(ConfigFileRW *settings, const LanguageTable *language, QWidget *parent = nullptr);
    ~CalibDlg() override;

    // Places the window over the display of module devNum (one module: the
    // monitor of the Monitor setting; two: the module's window rectangle) and
    // stores the display mode. A devNum outside 0..1 leaves an empty window.
    void showOnMonitor(int devNum, int mode);
    // Hides the mark and computes the 20 auto pattern points.
    void prepareAutoPattern();
    // Shows the mark, computes the manual targets and puts the mark on target 0.
    void prepareManualMarks();

    // Sets the mode (ModeKeep keeps it), repaints and returns once the new
    // content has been painted, or after 30 spins of 1 ms without a paint.
    void setDisplayMode(int mode);
    // As setDisplayMode without a mode change, but shows the window.
    void showDisplay();

    const cv::Point2f *getPoints() const { return m_points; }
    // The points to hand the fit, slot k for element k: for the auto pattern
    // the middle of each element as drawn (a marker's middle lies half a pixel
    // before its position), in the frame the module reads the fitted model in
    // (turned or mirrored about the pixel centres for ceiling or rear); for
    // manual targets the targets themselves.
    const cv::Point2f *getFitPoints() const { return m_fitPoints; }
    void getWindowSize(int &width, int &height) const;
    int displayMode() const { return m_nDisplayMode; }
    int devNum() const { return m_nDevNum; }
    int ceiling() const { return m_nCeiling; }
    int rear() const { return m_nRear; }
    int penType() const { return m_nPenType; }

    int getCount() const { return m_nCount; }
    void setCount(int n) { m_nCount = n; }
    void incCount() { ++m_nCount; }
    void decCount() { --m_nCount; }

    // on: angle 0 and the 20 ms ring timer runs; off: ring erased, timer
    // stopped, angle 0.
    void startMarkRing(bool on);
    bool isRingRunning() const { return m_bRingRunning; }
    int ringAngle() const { return m_nRingAngle; }

    void setTouchAccepted(bool accepted);
    bool isTouchAccepted();

    // Animate the mark from target count - 1 (next) or count + 1 (prev) to
    // target count in 400 ms. Past the last target the mark is hidden.
    void nextMark();
    void prevMark();

    // Top-left placed rectangle of the mark on target k.
    QRect markRect(int k) const;
    // The mark's label, for the controller's tests and screenshots.
    QLabel *markLabel() const { return m_labelMark; }
    bool isMoveRunning() const;

signals:
    void calDlgWorkingDone(int devNum);
    void sigMCNextStepPointer();
    void sigMCPrevStepPointer(int nDevNum);

public slots:
    void OnTimer();

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void computePoints(bool bAuto);
    void paintPattern(QPainter &painter);
    void paintManual(QPainter &painter);
    void drawRings(const QColor &color, int spanDegrees);
    int manualPointCount() const;
    // Turns the event loop while the flag is set, at most `limit` rounds of 1 ms.
    static void spinWhile(const bool &flag, int limit = kSpinLimit);
    template <typename Done> static void spinUntil(Done done, int limit);
    // Waits (bounded) until the window system has put the last paint on screen.
    void waitUntilPresented();
    bool eventFilter(QObject *watched, QEvent *event) override;

    ConfigFileRW *m_psSettings = nullptr;
    const LanguageTable *m_psLanguage = nullptr;
    QLabel *m_labelMark = nullptr;
    QImage m_markImage;        // the target as loaded, restored after a ring
    QImage m_markCanvas;       // what the label shows, rings drawn on it

    int m_nCeiling = 0;
    int m_nRear = 0;
    int m_nPenType = 0;
    cv::Point2f m_points[kPointSlots];
    cv::Point2f m_fitPoints[kPointSlots];
    int m_nCount = 0;
    int m_nDisplayMode = ModeBlack;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nDevNum = 0;
    bool m_bRepaintPending = false;
    QSize m_paintedSize;  // the size of the last paint
    bool m_bPresentPending = false;
    QPointer<QWindow> m_presentWindow;  // the handle the filter is on
    bool m_bChangePending = false;
    bool m_bRingRunning = false;
    QPropertyAnimation *m_moveAnimation = nullptr;
    QTimer *m_ringTimer = nullptr;
    int m_nRingAngle = 0;
    QMutex m_acceptLock;
    bool m_bTouchAccepted = false;
    QImage m_background;
};
