#pragma once

// Distances the touch path's model states its position invariants in.
#include <QPointF>

#include <algorithm>
#include <cmath>
#include <vector>

namespace touchmodel {

inline double cross(const QPointF &o, const QPointF &a, const QPointF &b)
{
    return (a.x() - o.x()) * (b.y() - o.y()) - (a.y() - o.y()) * (b.x() - o.x());
}

inline double segmentDistance(const QPointF &p, const QPointF &a, const QPointF &b)
{
    const QPointF d = b - a;
    const double len2 = d.x() * d.x() + d.y() * d.y();
    double t = len2 > 0 ? ((p.x() - a.x()) * d.x() + (p.y() - a.y()) * d.y()) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    const QPointF q = a + d * t;
    return std::hypot(p.x() - q.x(), p.y() - q.y());
}

// Distance of p from the convex hull of `points` (0 inside).
inline double hullDistance(const QPointF &p, std::vector<QPointF> points)
{
    std::sort(points.begin(), points.end(),
              [](const QPointF &a, const QPointF &b) { return a.x() < b.x() || (a.x() == b.x() && a.y() < b.y()); });
    if (points.size() < 3) {
        double best = 1e18;
        for (size_t i = 0; i < points.size(); ++i)
            best = std::min(best, segmentDistance(p, points[i], points[(i + 1) % points.size()]));
        return best;
    }
    std::vector<QPointF> hull(2 * points.size());
    size_t k = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        while (k >= 2 && cross(hull[k - 2], hull[k - 1], points[i]) <= 0)
            --k;
        hull[k++] = points[i];
    }
    for (size_t i = points.size() - 1, t = k + 1; i > 0; --i) {
        while (k >= t && cross(hull[k - 2], hull[k - 1], points[i - 1]) <= 0)
            --k;
        hull[k++] = points[i - 1];
    }
    hull.resize(k - 1);
    double area = 0;
    for (size_t i = 0; i < hull.size(); ++i)
        area += cross(QPointF(), hull[i], hull[(i + 1) % hull.size()]);
    // A hull without area (a pen at rest, a straight stroke) is its edges.
    bool inside = hull.size() >= 3 && area > 1e-6;
    double best = 1e18;
    for (size_t i = 0; i < hull.size(); ++i) {
        const QPointF &a = hull[i];
        const QPointF &b = hull[(i + 1) % hull.size()];
        if (cross(a, b, p) < 0)
            inside = false;
        best = std::min(best, segmentDistance(p, a, b));
    }
    return inside ? 0 : best;
}

} // namespace touchmodel
