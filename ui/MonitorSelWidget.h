#pragma once

#include <QList>
#include <QPointer>
#include <QRect>
#include <QRectF>
#include <QStringList>
#include <QWidget>

class LanguageTable;
#include <QFrame>

// A small map of the desktop: every monitor drawn to scale and labelled with
// its resolution, the primary one marked. A click picks the monitor the board
// covers and frames the real monitor with a blue border for a moment.
class MonitorSelWidget : public QWidget
{
    Q_OBJECT
public:
    explicit MonitorSelWidget(QWidget *parent = nullptr);
    ~MonitorSelWidget() override;

    // Builds the map from the current monitors (left-to-right display list).
    // An index outside the list selects the primary monitor.
    void initialize(const LanguageTable *language, int selected);

    int selected() const { return m_nSelected; }
    double scale() const { return m_dScale; }
    QSize area() const { return m_area; }
    QSize scaledSize() const { return m_scaledSize; }
    QPoint margin() const { return m_margin; }
    const QList<QRect> &monitors() const { return m_monitors; }
    const QList<QRectF> &scaledRects() const { return m_scaled; }
    const QStringList &labels() const { return m_labels; }
    // The framing window over the chosen monitor, null when none.
    QFrame *borderWindow() const { return m_border; }
    // The label font's point size after the last paint (shrunk when a
    // resolution text is wider than its rectangle).
    double paintedPointSize() const { return m_dPaintedPointSize; }

    // The index of the primary monitor in `monitors`: the one that is
    // QGuiApplication's primary screen, else the first one the screen source
    // lists, else the one at (0, 0), else 0.
    static int primaryIndex(const QList<QRect> &monitors);

signals:
    void selChanged(int idxNew);

public slots:
    void OnTimerHide();
    void OnTimerShow();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void destroyBorder();

    QList<QRect> m_monitors;
    QList<QRectF> m_scaled;
    QStringList m_labels;
    int m_nSelected = 0;
    // The selection only shows the primary monitor for a stored one that is
    // not there; the user has not chosen it.
    bool m_bShownOnly = false;
    double m_dScale = 0.0;
    QSize m_area;
    QSize m_scaledSize;
    QPoint m_margin;
    double m_dPaintedPointSize = 0.0;
    QPointer<QFrame> m_border;
    const LanguageTable *m_language = nullptr;
};
