#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QVector>
#include <QWidget>

// Smooths the pointer path of a mask stroke. The newest smoothed point is the
// degree-9 Bezier point at 0.9 over the ten latest raw points; between the last
// two smoothed points it hands out the second half of the quadratic through the
// last three, in pieces of about one pixel.
class MaskStrokeSmoother
{
public:
    static constexpr int kPoints = 10;

    void reset(const QPointF &p);
    // Takes a raw point; returns the samples to draw to, in order (at least one).
    QVector<QPointF> add(const QPointF &q);

    const QPointF &lastSmoothed() const { return m_c; }

private:
    QPointF m_raw[kPoints];
    QPointF m_a, m_b, m_c;
};

// The mask editor: a transparent paint surface laid exactly over the camera
// image of module 0. Painted pixels are opaque red; everything else is all but
// transparent. Every press, move and release is recorded, and the image is
// rebuilt from that record whenever the surface is placed.
class maskDlg : public QWidget
{
    Q_OBJECT
public:
    enum class Tool { Draw, Erase };
    enum class StrokeKind { Press, Move, Release };

    struct StrokeEvent
    {
        StrokeKind kind = StrokeKind::Press;
        int width = 20;
        QColor colour;
        QPoint pos;
    };

    static constexpr int kPenWidth = 20;

    explicit maskDlg(QWidget *parent = nullptr);

    // Sets the geometry and rebuilds the image from the stroke record (or starts
    // an empty one).
    void place(const QRect &rect);

    const QImage &maskImage() const { return m_image; }
    // Marks one pixel as painted (a mask read from the module).
    void setMaskedPixel(int x, int y);
    Tool tool() const { return m_tool; }
    const QVector<StrokeEvent> &strokeRecord() const { return m_record; }
    // How many times the user has changed the mask (a stroke begun, Eraser
    // All); only ever counts up.
    int editCount() const { return m_nEdits; }

public slots:
    void slotDraw();
    void slotEraserFree();
    void slotEraserAll();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QImage emptyImage() const;
    void rebuild();
    QColor toolColour() const;
    // Draws straight pieces from the last point through `points`; returns the
    // area they cover.
    QRect drawPieces(const QVector<QPointF> &points, const QColor &colour, int width);

    QImage m_image;
    QImage m_before;            // the image as it was when the current stroke began
    Tool m_tool = Tool::Draw;
    QVector<StrokeEvent> m_record;
    MaskStrokeSmoother m_smoother;
    QPointF m_last;
    QPoint m_pressPoint;
    bool m_bDrawing = false;
    int m_nEdits = 0;
};
