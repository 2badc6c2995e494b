#include "ui/maskDlg.h"

#include "input/BezierSmoother.h"

#include <QDebug>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {
// Painted: opaque red. Erased: practically transparent black, never counted as painted.
const QColor kDrawColour(255, 0, 0, 255);
const QColor kEraseColour(0, 0, 0, 1);
constexpr int kRepaintMargin = 10;

const float *smootherWeights()
{
    static float weights[MaskStrokeSmoother::kPoints];
    static const bool made = [] {
        tl::input::BezierSmoother::basis(0.9f, weights);
        return true;
    }();
    Q_UNUSED(made);
    return weights;
}

QPainter::CompositionMode modeFor(const QColor &colour)
{
    return colour.alpha() == 255 ? QPainter::CompositionMode_SourceOver : QPainter::CompositionMode_Source;
}
} // namespace

// ---- MaskStrokeSmoother ----------------------------------------------------------

void MaskStrokeSmoother::reset(const QPointF &p)
{
    for (QPointF &r : m_raw)
        r = p;
    m_a = m_b = m_c = p;
}

QVector<QPointF> MaskStrokeSmoother::add(const QPointF &q)
{
    for (int i = 0; i + 1 < kPoints; ++i)
        m_raw[i] = m_raw[i + 1];
    m_raw[kPoints - 1] = q;

    const float *w = smootherWeights();
    QPointF s(0, 0);
    for (int i = 0; i < kPoints; ++i)
        s += m_raw[i] * double(w[i]);
    m_c = s;

    const QPointF d = m_c - m_b;
    int n = static_cast<int>(std::hypot(d.x(), d.y()) + 0.5);
    n = std::clamp(n, 1, 50);
    const QPointF mid = 2.0 * m_b - (m_a + m_c) / 2.0;
    QVector<QPointF> samples;
    samples.reserve(n - n / 2);
    for (int i = n / 2; i < n; ++i) {
        const double m = double(i) / n;
        samples.append((1 - m) * (1 - m) * m_a + 2 * m * (1 - m) * mid + m * m * m_c);
    }
    m_a = m_b;
    m_b = m_c;
    return samples;
}

// ---- maskDlg -----------------------------------------------------------------------

maskDlg::maskDlg(QWidget *parent)
    : QWidget(parent)
{
    setObjectName("maskDlg");
    setWindowTitle("Form");
    // Laid over the camera image inside the view: it paints only its own image,
    // so the camera image shows through wherever nothing is painted.
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::CrossCursor);
    resize(640, 360);
    m_image = emptyImage();
}

QImage maskDlg::emptyImage() const
{
    QImage image(size().isEmpty() ? QSize(1, 1) : size(), QImage::Format_ARGB32);
    QColor base = palette().color(QPalette::Base);
    base.setAlpha(1);
    image.fill(base);
    return image;
}

void maskDlg::place(const QRect &rect)
{
    qDebug() << "maskDlg :" << rect;
    setGeometry(rect);
    if (!m_record.isEmpty())
        rebuild();
    else
        m_image = emptyImage();
    update();
}

void maskDlg::setMaskedPixel(int x, int y)
{
    if (x >= 0 && y >= 0 && x < m_image.width() && y < m_image.height())
        m_image.setPixel(x, y, 0xFFFF0000u);
}

QColor maskDlg::toolColour() const
{
    return m_tool == Tool::Draw ? kDrawColour : kEraseColour;
}

QRect maskDlg::drawPieces(const QVector<QPointF> &points, const QColor &colour, int width)
{
    if (points.isEmpty())
        return {};
    QPainter painter(&m_image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(modeFor(colour));
    painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    double left = m_last.x(), right = m_last.x(), top = m_last.y(), bottom = m_last.y();
    for (const QPointF &p : points) {
        painter.drawLine(m_last, p);
        m_last = p;
        left = std::min(left, p.x());
        right = std::max(right, p.x());
        top = std::min(top, p.y());
        bottom = std::max(bottom, p.y());
    }
    const int margin = kRepaintMargin + width / 2;
    return QRect(QPoint(int(std::floor(left)) - margin, int(std::floor(top)) - margin),
                 QPoint(int(std::ceil(right)) + margin, int(std::ceil(bottom)) + margin));
}

void maskDlg::rebuild()
{
    m_image = emptyImage();
    QColor colour = kDrawColour;
    int width = kPenWidth;
    for (const StrokeEvent &e : m_record) {
        switch (e.kind) {
        case StrokeKind::Press:
            m_smoother.reset(e.pos);
            m_last = e.pos;
            colour = e.colour;
            width = e.width;
            break;
        case StrokeKind::Move:
            drawPieces(m_smoother.add(e.pos), colour, width);
            break;
        case StrokeKind::Release:
            drawPieces({QPointF(e.pos)}, colour, width);
            break;
        }
    }
}

void maskDlg::slotDraw()
{
    m_tool = Tool::Draw;
}

void maskDlg::slotEraserFree()
{
    m_tool = Tool::Erase;
}

void maskDlg::slotEraserAll()
{
    ++m_nEdits;
    m_record.clear();
    m_bDrawing = false;
    m_image = emptyImage();
    update();
}

void maskDlg::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint p = event->pos();
    m_before = m_image;
    m_bDrawing = true;
    ++m_nEdits;
    m_pressPoint = p;
    m_record.append({StrokeKind::Press, kPenWidth, toolColour(), p});
    m_smoother.reset(p);
    m_last = p;
}

void maskDlg::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_bDrawing)
        return;
    const QPoint q = event->pos();
    m_record.append({StrokeKind::Move, kPenWidth, toolColour(), q});
    update(drawPieces(m_smoother.add(q), toolColour(), kPenWidth));
}

void maskDlg::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_bDrawing || event->button() != Qt::LeftButton)
        return;
    QPoint r = event->pos();
    // A click leaves a dot: a line of no length draws nothing.
    if (r == m_pressPoint)
        r.ry() += 1;
    m_record.append({StrokeKind::Release, kPenWidth, toolColour(), r});
    update(drawPieces({QPointF(r)}, toolColour(), kPenWidth));
    m_bDrawing = false;
}

void maskDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(rect(), m_image);
}
