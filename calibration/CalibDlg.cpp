#include "calibration/CalibDlg.h"

#include "calibration/CalibWorkspace.h"
#include "calibration/PatternGeometry.h"
#include "input/NqUtils.h"
#include "platform/Clock.h"
#include "platform/Screens.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cmath>

namespace {

// Rounds to the nearest integer, halves upward.
int roundHalfUp(double v)
{
    return static_cast<int>(std::floor(v + 0.5));
}

// The three rings of the target image, as arc rectangles on the 113 x 113 mark.
const QRectF kRingRects[3] = {
    QRectF(19, 19, 74.5, 74.5),
    QRectF(31, 31, 51, 51),
    QRectF(43.2, 43.2, 26, 26),
};

} // namespace

CalibDlg::CalibDlg(ConfigFileRW *settings, const LanguageTable *language, QWidget *parent)
    : QDialog(parent)
    , m_psSettings(settings)
    , m_psLanguage(language)
{
    setObjectName("CalibDlg");
    resize(400, 300);
    setFont(m_psLanguage ? m_psLanguage->dialogFont() : QFont("Tahoma"));

    m_markImage = QImage(":/Corvane/pen1").convertToFormat(QImage::Format_ARGB32_Premultiplied);
    m_markCanvas = m_markImage;
    m_labelMark = new QLabel(this);
    m_labelMark->setObjectName("label_mark");
    m_labelMark->setScaledContents(true);
    m_labelMark->setGeometry(0, 0, kMarkSize, kMarkSize);
    m_labelMark->setPixmap(QPixmap::fromImage(m_markCanvas));
    m_labelMark->hide();

    m_ringTimer = new QTimer(this);
    m_ringTimer->setInterval(tl::Clock::wallMs(kRingPeriodMs));
    connect(m_ringTimer, SIGNAL(timeout()), this, SLOT(OnTimer()));

    m_moveAnimation = new QPropertyAnimation(m_labelMark, "geometry", this);
    m_moveAnimation->setDuration(tl::Clock::wallMs(kMoveDurationMs));

    for (cv::Point2f &p : m_points)
        p = cv::Point2f(0.f, 0.f);
    for (cv::Point2f &p : m_fitPoints)
        p = cv::Point2f(0.f, 0.f);
}

CalibDlg::~CalibDlg()
{
    m_ringTimer->stop();
    m_moveAnimation->stop();
    delete m_ringTimer;
    m_ringTimer = nullptr;
    delete m_moveAnimation;
    m_moveAnimation = nullptr;
}

void CalibDlg::showOnMonitor(int devNum, int mode)
{
    m_nDevNum = devNum;
    m_nDisplayMode = mode;
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
    setCursor(Qt::BlankCursor);

    QRect rect;
    if (devNum >= 0 && devNum <= 1) {
        if (m_psSettings && m_psSettings->getNumOfCamDevice() == 1) {
            NqUtils::getMonitorRect(rect, m_psSettings->getMonitor());
        } else {
            QRect rects[2];
            NqUtils::getWindowRect(rects);
            rect = rects[devNum];
        }
    }
    if (devNum < 0 || devNum > 1 || rect.isEmpty()) {
        // No display for this module: an empty window rather than a failure.
        setWindowState(windowState() & ~Qt::WindowFullScreen);
        setGeometry(0, 0, 0, 0);
        m_nWidth = 0;
        m_nHeight = 0;
        m_background = QImage();
        return;
    }
    // Bound to the monitor's screen before it is shown; where the window
    // system does not let a client place its window, full screen on it.
    winId();
    bool fullScreen = false;
    const QScreen *screen = tl::placement::bindToScreen(windowHandle(), rect, &fullScreen);
    setGeometry(rect);
    setWindowState(fullScreen ? (windowState() | Qt::WindowFullScreen) : (windowState() & ~Qt::WindowFullScreen));
    m_nWidth = rect.width();
    m_nHeight = rect.height();
    qDebug() << "CalibDlg::showOnMonitor():" << devNum << mode << rect << "screen"
             << (screen ? screen->name() : QString("none")) << "fullScreen" << fullScreen;
    m_background = QImage(":/Corvane/irpen").scaled(m_nWidth, m_nHeight, Qt::IgnoreAspectRatio,
                                                    Qt::SmoothTransformation);
}

int CalibDlg::manualPointCount() const
{
    return tl::calibWorkspace().mc_point_count;
}

void CalibDlg::computePoints(bool bAuto)
{
    if (m_psSettings) {
        m_nCeiling = m_psSettings->getCheckCeiling() ? 1 : 0;
        m_nRear = m_psSettings->getCheckRear() ? 1 : 0;
        m_nPenType = m_psSettings->getPenSelect();
    }
    for (cv::Point2f &p : m_points)
        p = cv::Point2f(0.f, 0.f);

    const int mcCount = manualPointCount();
    const double d = tl::patternMargin(m_nWidth, m_nHeight, bAuto, mcCount);
    const double e = (m_nHeight - 1) - 2 * d;
    const double f = (m_nWidth - 1) - 2 * d;

    if (bAuto) {
        static const int kColumns[4] = { 0, 1, 3, 4 };
        for (int g = 0; g < tl::kPatternRows; ++g) {
            const int y = roundHalfUp(g * e / 3 + d);
            for (int i = 0; i < 4; ++i)
                m_points[5 * g + kColumns[i]] = cv::Point2f(roundHalfUp(i * f / 3 + d), y);
            m_points[5 * g + 2] = cv::Point2f(m_nWidth / 2, y);
        }
    } else if (mcCount == 25) {
        for (int i = 0; i < 5; ++i)
            for (int j = 0; j < 5; ++j)
                m_points[5 * i + j] = cv::Point2f(roundHalfUp(i * f / 4 + d), roundHalfUp(j * e / 4 + d));
    } else {
        for (int i = 0; i < 4; ++i)
            for (int k = 0; k < 4; ++k)
                m_points[4 * i + k] = cv::Point2f(static_cast<float>((i * f + 1) / 3 + d),
                                                  static_cast<float>((k * e + 1) / 3 + d));
    }

    for (int k = 0; k < kPointSlots; ++k)
        m_fitPoints[k] = m_points[k];
    if (bAuto) {
        for (int k = 0; k < tl::kPatternPoints; ++k) {
            double x = 0, y = 0;
            tl::patternDrawnPoint(&m_points[0].x, k, m_nWidth, m_nHeight, m_nCeiling != 0, m_nRear != 0, &x, &y);
            m_fitPoints[k] = cv::Point2f(static_cast<float>(x), static_cast<float>(y));
        }
    }
}

void CalibDlg::prepareAutoPattern()
{
    m_labelMark->hide();
    computePoints(true);
}

void CalibDlg::prepareManualMarks()
{
    m_labelMark->show();
    computePoints(false);
    m_labelMark->setGeometry(markRect(0));
}

QRect CalibDlg::markRect(int k) const
{
    if (k < 0 || k >= kPointSlots)
        k = 0;
    return QRect(roundHalfUp(m_points[k].x - kMarkHalf), roundHalfUp(m_points[k].y - kMarkHalf), kMarkSize,
                 kMarkSize);
}

void CalibDlg::getWindowSize(int &width, int &height) const
{
    width = m_nWidth;
    height = m_nHeight;
}

template <typename Done>
void CalibDlg::spinUntil(Done done, int limit)
{
    for (int i = 0; !done() && i < limit; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        tl::Clock::sleepMs(1);
    }
}

void CalibDlg::spinWhile(const bool &flag, int limit)
{
    spinUntil([&flag] { return !flag; }, limit);
}

void CalibDlg::setDisplayMode(int mode)
{
    spinWhile(m_bChangePending);
    m_bChangePending = true;
    spinWhile(m_bRepaintPending);
    if (mode != ModeKeep)
        m_nDisplayMode = mode;
    m_bRepaintPending = true;
    update();
    spinWhile(m_bRepaintPending);
    waitUntilPresented();
    m_bChangePending = false;
}

void CalibDlg::showDisplay()
{
    spinWhile(m_bChangePending);
    m_bChangePending = true;
    spinWhile(m_bRepaintPending);
    m_bRepaintPending = true;
    show();
    spinWhile(m_bRepaintPending);
    // A compositor may first configure the window at another size (a tiled
    // window, then full screen a frame later). The module photographs the
    // screen, so the display is ready only once it was painted at its
    // monitor's size; a window system that never gives that size (a window
    // manager that keeps a panel free) costs the bounded wait, nothing more.
    const QSize wanted(m_nWidth, m_nHeight);
    spinUntil([&] { return wanted.isEmpty() || m_paintedSize == wanted; }, kConfigureSpinLimit);
    waitUntilPresented();
    m_bChangePending = false;
}

// The module photographs the screen, not this widget: a paint counts once the
// window system shows it. A compositor answers a window's update request when
// it has presented the window's last frame (on X11 and offscreen the request
// comes back on a short timer), so the request's arrival is the sign.
void CalibDlg::waitUntilPresented()
{
    QWindow *window = windowHandle();
    if (!window || !isVisible() || !window->isExposed())
        return;
    // The handle is made anew when the window's flags change.
    if (m_presentWindow != window) {
        window->installEventFilter(this);
        m_presentWindow = window;
    }
    m_bPresentPending = true;
    window->requestUpdate();
    spinWhile(m_bPresentPending, kConfigureSpinLimit);
    m_bPresentPending = false;
}

bool CalibDlg::eventFilter(QObject *watched, QEvent *event)
{
    // The request that was asked only as the sign is taken here: nothing is
    // left to paint, and a second paint would log the pattern again.
    if (m_bPresentPending && event->type() == QEvent::UpdateRequest && watched == windowHandle()) {
        m_bPresentPending = false;
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CalibDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    switch (m_nDisplayMode) {
    case ModeBlack:
        painter.fillRect(rect(), Qt::black);
        break;
    case ModeWhite:
        painter.fillRect(rect(), Qt::white);
        break;
    case ModeManual:
        paintManual(painter);
        break;
    case ModePattern:
        paintPattern(painter);
        break;
    default:
        break;
    }
    m_paintedSize = size();
    m_bRepaintPending = false;
}

void CalibDlg::paintManual(QPainter &painter)
{
    if (m_nCount > manualPointCount() - 1)
        return;
    painter.drawImage(0, 0, m_background);
    if (m_nCount == 0 && !isMoveRunning())
        m_labelMark->setGeometry(markRect(0));

    QString text;
    if (m_psLanguage)
        text = m_psLanguage->calibText(0) + "\r\n\r\n" + m_psLanguage->calibText(1) + "\r\n\r\n"
            + m_psLanguage->calibText(3);
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.setPen(Qt::white);
    if (m_psLanguage && m_psLanguage->isRightToLeft())
        painter.setLayoutDirection(Qt::RightToLeft);
    painter.drawText(QRect(m_nWidth / 2 - 450, m_nHeight / 2, 900, 100),
                     Qt::AlignCenter | Qt::TextWordWrap | Qt::TextDontClip, text);
}

void CalibDlg::paintPattern(QPainter &painter)
{
    painter.setPen(Qt::NoPen);
    painter.fillRect(rect(), Qt::white);
    int R = 0, S = 0;
    tl::patternCircleRadius(m_nWidth, m_nHeight, R, S);
    const int m = (2 * R + 5) / 6;
    qDebug() << "marker size =" << R << m;

    for (int a = 0; a < tl::kPatternRows; ++a) {
        for (int b = 0; b < tl::kPatternColumns; ++b) {
            const cv::Point2f &p = m_points[5 * a + b];
            const QPoint centre(roundHalfUp(p.x), roundHalfUp(p.y));
            const int l = tl::patternElement(a, b, m_nCeiling != 0, m_nRear != 0);
            if (tl::isMarkerIndex(l)) {
                for (int i = 0; i < tl::kMarkerGrid; ++i)
                    for (int j = 0; j < tl::kMarkerGrid; ++j)
                        if (tl::markerCellBlack(l, i, m_nRear ? tl::kMarkerGrid - 1 - j : j))
                            painter.fillRect(tl::markerCellOrigin(centre.x(), m) + j * m,
                                             tl::markerCellOrigin(centre.y(), m) + i * m, m, m, Qt::black);
                continue;
            }
            const int firstRow = m_nCeiling ? 3 : 0;
            const int radius = (a == firstRow || b == 0 || b == 4) ? R : S;
            painter.setPen(QPen(Qt::black, 1));
            painter.setBrush(Qt::black);
            painter.drawEllipse(centre, radius, radius);
            painter.setPen(Qt::NoPen);
        }
    }
}

void CalibDlg::startMarkRing(bool on)
{
    m_nRingAngle = 0;
    if (on) {
        m_bRingRunning = true;
        // Driver time: under a compressed clock the ring completes as fast as
        // the module's waits do.
        m_ringTimer->start(tl::Clock::wallMs(kRingPeriodMs));
        return;
    }
    m_ringTimer->stop();
    m_bRingRunning = false;
    m_markCanvas = m_markImage;
    m_labelMark->setPixmap(QPixmap::fromImage(m_markCanvas));
}

void CalibDlg::drawRings(const QColor &color, int spanDegrees)
{
    QPainter painter(&m_markCanvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, 7));
    painter.setBrush(Qt::NoBrush);
    for (const QRectF &r : kRingRects)
        painter.drawArc(r, 0, spanDegrees * 16);
}

void CalibDlg::OnTimer()
{
    if (m_nRingAngle <= 360) {
        m_nRingAngle += 36;
        drawRings(QColor(255, 0, 0), m_nRingAngle);
    } else {
        drawRings(Qt::white, 360);
        // The white arcs cover the rings; the stored image takes away the
        // antialiased red fringe as well.
        m_markCanvas = m_markImage;
        if (m_nCount < manualPointCount())
            emit sigMCNextStepPointer();
    }
    m_labelMark->setPixmap(QPixmap::fromImage(m_markCanvas));
    m_labelMark->update();
}

void CalibDlg::setTouchAccepted(bool accepted)
{
    QMutexLocker lock(&m_acceptLock);
    m_bTouchAccepted = accepted;
}

bool CalibDlg::isTouchAccepted()
{
    QMutexLocker lock(&m_acceptLock);
    return m_bTouchAccepted;
}

bool CalibDlg::isMoveRunning() const
{
    return m_moveAnimation->state() == QAbstractAnimation::Running;
}

void CalibDlg::nextMark()
{
    m_moveAnimation->stop();
    if (m_nCount >= manualPointCount() || m_nCount < 0 || m_nCount >= kPointSlots) {
        m_labelMark->hide();
        return;
    }
    m_labelMark->show();
    m_moveAnimation->setDuration(tl::Clock::wallMs(kMoveDurationMs));
    m_moveAnimation->setStartValue(markRect(m_nCount - 1));
    m_moveAnimation->setEndValue(markRect(m_nCount));
    m_moveAnimation->start();
}

void CalibDlg::prevMark()
{
    m_moveAnimation->stop();
    if (m_nCount < 0 || m_nCount >= manualPointCount() || m_nCount >= kPointSlots) {
        m_labelMark->hide();
        return;
    }
    m_labelMark->show();
    m_moveAnimation->setDuration(tl::Clock::wallMs(kMoveDurationMs));
    m_moveAnimation->setStartValue(markRect(m_nCount + 1 < manualPointCount() ? m_nCount + 1 : m_nCount));
    m_moveAnimation->setEndValue(markRect(m_nCount));
    m_moveAnimation->start();
}

void CalibDlg::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        qDebug() << "CalibDlg::keyPressEvent(): Key_Escape" << isVisible();
        if (isVisible()) {
            hide();
            emit calDlgWorkingDone(m_nDevNum);
        }
        break;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        if (isVisible())
            emit sigMCPrevStepPointer(m_nDevNum);
        break;
    default:
        break;
    }
    // Every key stops here: Escape must not reject the dialog.
    event->accept();
}

void CalibDlg::closeEvent(QCloseEvent *event)
{
    hide();
    event->accept();
    emit calDlgWorkingDone(m_nDevNum);
}

void CalibDlg::hideEvent(QHideEvent *event)
{
    unsetCursor();
    // Whoever hides the window (Escape, the end of a run, a stop for another
    // mode): nothing of it goes on turning. The mark lands where it was going.
    if (m_bRingRunning)
        startMarkRing(false);
    if (m_moveAnimation->state() != QAbstractAnimation::Stopped)
        m_moveAnimation->setCurrentTime(m_moveAnimation->totalDuration());
    m_moveAnimation->stop();
    QDialog::hideEvent(event);
}
