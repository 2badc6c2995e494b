#include "calibration/WaitDlg.h"

#include "input/NqUtils.h"
#include "platform/Clock.h"
#include "platform/Screens.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPainter>
#include <QWindow>

namespace {

const Qt::WindowFlags kCoverFlags
    = Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint;

// Gives `w` the rectangle `r`, bound to the screen that shows it, full screen
// where the window system places windows itself.
void placeCover(QWidget *w, const QRect &r)
{
    w->winId();
    bool fullScreen = false;
    tl::placement::bindToScreen(w->windowHandle(), r, &fullScreen);
    w->setGeometry(r);
    w->setWindowState(fullScreen ? (w->windowState() | Qt::WindowFullScreen)
                                 : (w->windowState() & ~Qt::WindowFullScreen));
}

} // namespace

WaitDlg::WaitDlg(QWidget *parent)
    : QDialog(parent)
{
    setObjectName("WaitDlg");
    resize(500, 500);
    setWindowTitle(QString());
    m_labelGif = new QLabel(this);
    m_labelGif->setObjectName("label_gif");
    m_labelGif->setGeometry(0, 0, 500, 500);
    m_labelGif->setScaledContents(true);
    m_labelGif->setAlignment(Qt::AlignCenter);
}

void WaitDlg::spinWhile(const bool &flag)
{
    for (int i = 0; flag && i < 30; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        tl::Clock::sleepMs(1);
    }
}

void WaitDlg::showAllMonitors()
{
    setWindowFlags(kCoverFlags);
    QList<QRect> monitors;
    NqUtils::getWindowRectAll(monitors);
    QRect cover;
    for (const QRect &r : monitors)
        cover = cover.united(r);
    const bool perMonitor = tl::placement::positionIgnored() && monitors.size() > 1;
    placeCover(this, perMonitor ? monitors.first() : cover);
    const int extra = perMonitor ? monitors.size() - 1 : 0;
    while (m_extraCovers.size() < extra) {
        auto *w = new QWidget(this, kCoverFlags);
        w->setObjectName(QString("WaitDlgCover%1").arg(m_extraCovers.size() + 1));
        w->setAutoFillBackground(true);
        QPalette white = w->palette();
        white.setColor(QPalette::Window, Qt::white);
        w->setPalette(white);
        m_extraCovers.append(w);
    }
    while (m_extraCovers.size() > extra)
        delete m_extraCovers.takeLast();
    for (int i = 0; i < extra; ++i)
        placeCover(m_extraCovers[i], monitors[i + 1]);

    spinWhile(m_bShowPending);
    m_bShowPending = true;
    spinWhile(m_bRepaintPending);
    m_bRepaintPending = true;
    show();
    for (QWidget *w : m_extraCovers)
        w->show();
    spinWhile(m_bRepaintPending);
    m_bShowPending = false;
}

void WaitDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    m_bRepaintPending = false;
}

void WaitDlg::hideEvent(QHideEvent *event)
{
    for (QWidget *w : m_extraCovers)
        w->hide();
    QDialog::hideEvent(event);
}
