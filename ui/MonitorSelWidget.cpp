#include "ui/MonitorSelWidget.h"

#include "input/NqUtils.h"
#include "platform/Clock.h"
#include "platform/Screens.h"
#include "settings/LanguageTable.h"

#include <QDebug>
#include <QFontMetricsF>
#include <QFrame>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QTimer>

#include <cmath>

namespace {
constexpr int kBorderWidth = 20;
constexpr int kHideAfterMs = 500;
constexpr int kShowAfterMs = 1000;

int roundAway(double v)
{
    return static_cast<int>(v < 0 ? std::ceil(v - 0.5) : std::floor(v + 0.5));
}
} // namespace

MonitorSelWidget::MonitorSelWidget(QWidget *parent)
    : QWidget(parent)
{
}

MonitorSelWidget::~MonitorSelWidget()
{
    destroyBorder();
}

int MonitorSelWidget::primaryIndex(const QList<QRect> &monitors)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const int i = monitors.indexOf(screen->geometry());
        if (i >= 0)
            return i;
    }
    const QList<tl::MonitorInfo> listed = tl::ScreenSource::monitors();
    if (!listed.isEmpty()) {
        const int i = monitors.indexOf(listed.first().geometry);
        if (i >= 0)
            return i;
    }
    for (int i = 0; i < monitors.size(); ++i)
        if (monitors[i].topLeft() == QPoint(0, 0))
            return i;
    return 0;
}

void MonitorSelWidget::initialize(const LanguageTable *language, int selected)
{
    m_language = language;
    destroyBorder();
    m_scaled.clear();
    m_labels.clear();
    NqUtils::getWindowRectAll(m_monitors);

    QRect all;
    for (const QRect &m : m_monitors)
        all = all.united(m);
    qDebug() << "MonitorSelWidget::initialize(): rectAll =" << all;
    // A stored monitor that is not there now is shown as the primary one, but
    // that is no choice yet: a click on it is the user's pick.
    m_bShownOnly = !(selected >= 0 && selected < m_monitors.size());
    m_nSelected = m_bShownOnly ? primaryIndex(m_monitors) : selected;
    // No monitor, or a widget too small to hold a map: nothing to draw or pick.
    if (all.isEmpty() || width() <= 4 || height() <= 4) {
        m_dScale = 0.0;
        m_monitors.clear();
        update();
        return;
    }

    m_area = QSize(width() - 4, height() - 4);
    qDebug() << "MonitorSelWidget::initialize(): widget =" << m_area;
    m_dScale = std::min(double(m_area.height()) / all.height(), double(m_area.width()) / all.width());
    qDebug() << "MonitorSelWidget::initialize(): scale =" << m_dScale;
    m_scaledSize = QSize(roundAway(all.width() * m_dScale), roundAway(all.height() * m_dScale));
    qDebug() << "MonitorSelWidget::initialize(): scaled =" << m_scaledSize;
    m_margin = QPoint((m_area.width() - m_scaledSize.width()) / 2 + 2,
                      (m_area.height() - m_scaledSize.height()) / 2 + 2);
    qDebug() << "MonitorSelWidget::initialize(): margin =" << m_margin;

    const int primary = primaryIndex(m_monitors);
    const QString mark = language ? language->configText(29) : QString();
    for (int i = 0; i < m_monitors.size(); ++i) {
        const QRect &m = m_monitors[i];
        m_scaled.append(QRectF(m_margin.x() + (m.left() - all.left()) * m_dScale,
                               m_margin.y() + (m.top() - all.top()) * m_dScale, m.width() * m_dScale,
                               m.height() * m_dScale));
        m_labels.append(QString("%1 x %2\n%3").arg(m.width()).arg(m.height()).arg(i == primary ? mark : QString()));
        qDebug() << "MonitorSelWidget::initialize():" << i << m_scaled.last() << m_labels.last();
    }
    update();
}

void MonitorSelWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QFont font = painter.font();
    qDebug() << "MonitorSelWidget::paintEvent(): pointSizeF =" << font.pointSizeF();
    double minRatio = 1.0;
    const QFontMetricsF fm(font);
    for (int i = 0; i < m_scaled.size(); ++i) {
        const double room = m_scaled[i].adjusted(2, 2, -2, -2).width();
        const double text = fm.horizontalAdvance(m_labels[i].section('\n', 0, 0));
        if (text > 0)
            minRatio = std::min(minRatio, room / text);
    }
    qDebug() << "MonitorSelWidget::paintEvent(): minRatio =" << minRatio;
    if (minRatio < 1.0 && minRatio > 0.0) {
        font.setPointSizeF(font.pointSizeF() * minRatio);
        qDebug() << "MonitorSelWidget::paintEvent(): newPointSizeF =" << font.pointSizeF();
        painter.setFont(font);
    }
    m_dPaintedPointSize = font.pointSizeF();

    for (int i = 0; i < m_scaled.size(); ++i) {
        const bool chosen = i == m_nSelected;
        painter.setPen(QPen(Qt::darkGray, 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        painter.setBackgroundMode(Qt::OpaqueMode);
        painter.setBrush(chosen ? QColor(Qt::blue) : QColor(Qt::lightGray));
        painter.drawRect(m_scaled[i]);
        painter.setBackgroundMode(Qt::TransparentMode);
        painter.setPen(chosen ? Qt::white : Qt::black);
        painter.drawText(m_scaled[i].adjusted(2, 2, -2, -2), Qt::AlignCenter, m_labels[i]);
    }
}

void MonitorSelWidget::mousePressEvent(QMouseEvent *event)
{
    const QPointF p = event->localPos();
    int hit = -1;
    for (int i = 0; i < m_scaled.size() && hit < 0; ++i) {
        const QRectF &r = m_scaled[i];
        // Edges belong to the rectangle.
        if (p.x() >= r.left() && p.x() <= r.right() && p.y() >= r.top() && p.y() <= r.bottom())
            hit = i;
    }
    if (hit < 0)
        return;

    if (hit != m_nSelected)
        destroyBorder();
    if (!m_border) {
        const QRect real = m_monitors[hit];
        auto *frame = new QFrame(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                                              | Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput);
        frame->setFrameStyle(QFrame::Box);
        frame->setAttribute(Qt::WA_ShowWithoutActivating);
        frame->setFocusPolicy(Qt::NoFocus);
        frame->setObjectName("monitorselframe");
        frame->setStyleSheet(QString("#monitorselframe {border: %1px solid blue;}").arg(kBorderWidth));
        frame->setGeometry(real);
        const QRect inner(0, 0, real.width(), real.height());
        frame->setMask(QRegion(inner).subtracted(
            QRegion(inner.adjusted(kBorderWidth, kBorderWidth, -kBorderWidth, -kBorderWidth))));
        frame->setWindowOpacity(0.5);
        m_border = frame;
    }
    m_border->show();
    QTimer::singleShot(tl::Clock::wallMs(kHideAfterMs), this, &MonitorSelWidget::OnTimerHide);
    QTimer::singleShot(tl::Clock::wallMs(kShowAfterMs), this, &MonitorSelWidget::OnTimerShow);

    if (hit != m_nSelected || m_bShownOnly) {
        m_nSelected = hit;
        m_bShownOnly = false;
        update();
        emit selChanged(m_nSelected);
    }
}

void MonitorSelWidget::hideEvent(QHideEvent *event)
{
    // The frame marks the monitor while the user chooses; it does not stay on
    // the desktop once the map is out of sight (the wizard closed or moved on).
    destroyBorder();
    QWidget::hideEvent(event);
}

void MonitorSelWidget::OnTimerHide()
{
    if (m_border)
        m_border->hide();
}

void MonitorSelWidget::OnTimerShow()
{
    if (m_border)
        m_border->show();
}

void MonitorSelWidget::destroyBorder()
{
    if (m_border) {
        m_border->hide();
        delete m_border.data();
    }
    m_border = nullptr;
}
