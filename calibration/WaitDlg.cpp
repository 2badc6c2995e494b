#include "calibration/WaitDlg.h"

#include "input/NqUtils.h"
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPainter>

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
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
    QList<QRect> monitors;
    NqUtils::getWindowRectAll(monitors);
    QRect cover;
    for (const QRect &r : monitors)
        cover = cover.united(r);
    setGeometry(cover);

    spinWhile(m_bShowPending);
    m_bShowPending = true;
    spinWhile(m_bRepaintPending);
    m_bRepaintPending = true;
    show();
    spinWhile(m_bRepaintPending);
    m_bShowPending = false;
}

void WaitDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    m_bRepaintPending = false;
}
