#include "calibration/PatternRecognition.h"
#include "calibration/PatternRecognitionSearch.h"

#include "calibration/CalibWorkspace.h"
#include "calibration/CalibrationFit.h"
#include "calibration/PatternGeometry.h"
#include "platform/Clock.h"

#include <QDebug>
#include <QString>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

// The pattern search as a whole: the working image, the projection between
// camera and window that the steps share, and the search that runs marker
// finding, then dot finding, and puts their points together.

namespace tl {

using namespace pattern_search;

namespace {

// Search window and step of searchInversePoint, camera pixels.
constexpr double kSearchHalf = 10.0;
constexpr double kSearchStep = 0.2;

// q(g1, g2) = min(255, g2 * 256 / (g1 + 1)), 0 where g1 = 0; one table of the
// 65536 combinations makes the per-pixel work a look-up.
const unsigned char *normalizationTable()
{
    static const std::vector<unsigned char> table = [] {
        std::vector<unsigned char> t(256 * 256);
        for (int g1 = 0; g1 < 256; ++g1)
            for (int g2 = 0; g2 < 256; ++g2)
                t[g1 * 256 + g2] = g1 == 0 ? 0 : static_cast<unsigned char>(std::min(255, g2 * 256 / (g1 + 1)));
        return t;
    }();
    return table.data();
}

} // namespace

NormalizationScratch &NormalizationScratch::ofThisThread()
{
    // One per thread, so that searches on two threads never share it; the
    // controller's thread keeps its own for the life of the process.
    thread_local NormalizationScratch scratch;
    return scratch;
}

void makeNormalizedPatternImage(const cv::Mat &black, const cv::Mat &white, const cv::Mat &pattern,
                                cv::Mat &normalized, NormalizationScratch &scratch)
{
    cv::Mat &g1 = scratch.contrast;
    cv::Mat &g2 = scratch.darkening;
    if (!isCapture(black) || !isCapture(white) || !isCapture(pattern) || black.size() != white.size()
        || black.size() != pattern.size()) {
        qDebug() << "makeNormalizedPatternImage(): unusable captures" << black.cols << black.rows << white.cols
                 << white.rows << pattern.cols << pattern.rows;
        normalized.create(kCaptureHeight, kCaptureWidth, CV_8UC1);
        normalized.setTo(255);
        return;
    }
    cv::subtract(white, black, g1);   // saturates at 0: white - black where white > black
    cv::subtract(white, pattern, g2); // white - pattern where white > pattern
    normalized.create(pattern.size(), CV_8UC1);
    const unsigned char *table = normalizationTable();
    for (int y = 0; y < g1.rows; ++y) {
        const unsigned char *a = g1.ptr<unsigned char>(y);
        const unsigned char *b = g2.ptr<unsigned char>(y);
        unsigned char *out = normalized.ptr<unsigned char>(y);
        for (int x = 0; x < g1.cols; ++x)
            out[x] = static_cast<unsigned char>(255 - table[a[x] * 256 + b[x]]);
    }
}

PatternFinder::PatternFinder(WideCalibration &lensModel, Calibration &calib)
    : m_lens(lensModel)
    , m_calib(calib)
{
}

bool PatternFinder::windowToCam(const cv::Point2d &win, cv::Point2d *cam) const
{
    // The homography backwards to the corrected point (u, v), then the radial
    // correction undone along its radius: rho = r (1 + k1 r^2 + k2 r^4 + k3 r^6).
    const double *h = m_calib.homography();
    const cv::Matx33d H(h[0], h[1], h[2], h[3], h[4], h[5], h[6], h[7], h[8]);
    const double det = cv::determinant(H);
    if (!std::isfinite(det) || std::fabs(det) < 1e-300)
        return false;
    const cv::Vec3d q = H.inv() * cv::Vec3d(win.x, win.y, 1.0);
    if (!std::isfinite(q[2]) || std::fabs(q[2]) < 1e-12)
        return false;
    const double *tp = m_lens.parameters();
    const double cx = tp[8], cy = tp[9], k1 = tp[10], k2 = tp[11], k3 = tp[12];
    const double du = q[0] / q[2] - cx, dv = q[1] / q[2] - cy;
    const double rho = std::hypot(du, dv);
    if (!std::isfinite(rho))
        return false;
    if (rho == 0) {
        *cam = cv::Point2d(cx, cy);
        return true;
    }
    double r = rho;
    for (int i = 0; i < 40; ++i) {
        const double r2 = r * r;
        const double g = r * (1 + r2 * (k1 + r2 * (k2 + r2 * k3))) - rho;
        const double dg = 1 + r2 * (3 * k1 + r2 * (5 * k2 + r2 * 7 * k3));
        if (!(dg > 0) || !std::isfinite(g))
            return false;
        const double next = std::max(r - g / dg, 0.5 * r);
        const bool done = std::fabs(next - r) < 1e-9;
        r = next;
        if (done)
            break;
    }
    *cam = cv::Point2d(cx + du * r / rho, cy + dv * r / rho);
    return std::isfinite(cam->x) && std::isfinite(cam->y);
}

void PatternFinder::loadExpected()
{
    const CalibWorkspace &ws = calibWorkspace();
    for (int k = 0; k < kSlots; ++k)
        m_expected[k] = ws.win_coordi[k];
    setWindowSize(ws.ac_window_width, ws.ac_window_height);
    m_nPointCount = clampedSlotCount(ws.ac_point_count);
}

cv::Point2d PatternFinder::camToWindow(const cv::Point2d &cam) const
{
    const cv::Point2d uv = m_lens.radialCorrection(cam);
    return m_calib.CalcNewPoint(uv.x, uv.y);
}

cv::Point2d PatternFinder::searchInversePoint(const cv::Point2d &target, const cv::Point2d &start,
                                              double *error) const
{
    double best = std::numeric_limits<double>::max();
    cv::Point2d bestPoint(-1, -1);
    for (double y = start.y - kSearchHalf; y < start.y + kSearchHalf; y += kSearchStep) {
        for (double x = start.x - kSearchHalf; x < start.x + kSearchHalf; x += kSearchStep) {
            const cv::Point2d w = camToWindow(cv::Point2d(x, y));
            const double e = (w.x - target.x) * (w.x - target.x) + (w.y - target.y) * (w.y - target.y);
            if (e < best) {
                best = e;
                bestPoint = cv::Point2d(x, y);
            }
        }
    }
    if (error)
        *error = best;
    return bestPoint;
}

cv::Point2d PatternFinder::robustMeanPoint(const std::vector<cv::Point2d> &points)
{
    if (points.empty())
        return cv::Point2d(0, 0);
    const double n = static_cast<double>(points.size());
    double mx = 0, my = 0;
    for (const cv::Point2d &p : points) {
        mx += p.x;
        my += p.y;
    }
    mx /= n;
    my /= n;
    double vx = 0, vy = 0;
    for (const cv::Point2d &p : points) {
        vx += (p.x - mx) * (p.x - mx);
        vy += (p.y - my) * (p.y - my);
    }
    const double sx = std::sqrt(vx / n);
    const double sy = std::sqrt(vy / n);
    if (sx < 0.1 && sy < 0.1)
        return cv::Point2d(mx, my);
    const double bx = 3 * std::max(sx, 0.01);
    const double by = 3 * std::max(sy, 0.01);
    double ax = 0, ay = 0;
    int kept = 0;
    for (const cv::Point2d &p : points) {
        if (std::fabs(p.x - mx) < bx && std::fabs(p.y - my) < by) {
            ax += p.x;
            ay += p.y;
            ++kept;
        }
    }
    if (kept == 0)
        return cv::Point2d(0, 0);
    return cv::Point2d(ax / kept, ay / kept);
}

bool PatternFinder::polygonCentroid(const std::vector<cv::Point> &polygon, cv::Point2d *centroid)
{
    if (polygon.empty())
        return false;
    const cv::Moments m = cv::moments(polygon);
    if (!(std::fabs(m.m00) > 0) || !std::isfinite(m.m10) || !std::isfinite(m.m01))
        return false;
    *centroid = cv::Point2d(m.m10 / m.m00, m.m01 / m.m00);
    return std::isfinite(centroid->x) && std::isfinite(centroid->y);
}

bool PatternFinder::windowPolygon(const std::vector<cv::Point> &cam, std::vector<cv::Point> *win) const
{
    // Far beyond any window; keeps the rounding to int defined.
    constexpr double kLimit = 1e7;
    win->clear();
    win->reserve(cam.size());
    for (const cv::Point &p : cam) {
        const cv::Point2d w = camToWindow(cv::Point2d(p.x, p.y));
        if (!std::isfinite(w.x) || !std::isfinite(w.y) || std::fabs(w.x) > kLimit || std::fabs(w.y) > kLimit)
            return false;
        win->emplace_back(roundHalfUp(w.x), roundHalfUp(w.y));
    }
    return true;
}

bool PatternFinder::findPatternCenters(const cv::Mat &image, cv::Point2f *found, cv::Point2f *foundTweaked)
{
    for (int k = 0; k < kSlots; ++k) {
        found[k] = cv::Point2f(0, 0);
        foundTweaked[k] = cv::Point2f(0, 0);
    }
    loadExpected();

    cv::Point2f markerRaw[kSlots] = {};
    findMarkerCenters(image, markerRaw);
    if (!calcProjection(markerRaw, m_lens, m_calib))
        return false;

    cv::Point2f markerTweaked[kSlots] = {};
    cv::Point2f dotCenters[kSlots] = {};
    cv::Point2f dotCorrections[kSlots] = {};
    tweakMarkerCenter(markerTweaked);
    updateDotLimits();
    findCircleCenters(image, dotCenters, dotCorrections);

    cv::Point2f finalPoint[kSlots] = {};
    cv::Point2f correction[kSlots] = {};
    for (int k = 0; k < m_nPointCount; ++k) {
        if (isMarkerIndex(k)) {
            finalPoint[k] = markerTweaked[k];
            correction[k] = markerTweaked[k] - markerRaw[k];
        } else {
            finalPoint[k] = dotCenters[k];
            correction[k] = dotCorrections[k];
        }
    }
    qDebug() << "TweakX:";
    for (int k = 0; k < m_nPointCount; ++k)
        qDebug().noquote() << QString::asprintf("%3.1f, // %2d", correction[k].x, k);
    qDebug() << "TweakY:";
    for (int k = 0; k < m_nPointCount; ++k)
        qDebug().noquote() << QString::asprintf("%3.1f, // %2d", correction[k].y, k);

    const CalibWorkspace &ws = calibWorkspace();
    for (int k = 0; k < m_nPointCount; ++k) {
        found[k] = finalPoint[k];
        foundTweaked[k] = finalPoint[k];
        if (finalPoint[k].x > 3 && finalPoint[k].y > 3)
            foundTweaked[k] += ws.ac_tweak[k];
    }
    return true;
}

static_assert(PatternSearchResult::kSlots == PatternFinder::kSlots, "one slot table");

PatternSearchResult AC_FindPatternCenter(const cv::Mat &normalized)
{
    CalibWorkspace &ws = calibWorkspace();
    PatternSearchResult result;
    result.count = clampedSlotCount(ws.ac_point_count);
    for (int k = 0; k < result.count; ++k) {
        ws.ac_pattern_center_org[k] = cv::Point2f(0, 0);
        ws.ac_pattern_center_twk[k] = cv::Point2f(0, 0);
    }
    {
        Calibration calib;
        double tp[kCalibParamCount] = {};
        WideCalibration lensModel(tp);
        lensModel.setPredefinedLens(ws.lens, ws.fwParam);
        PatternFinder finder(lensModel, calib);
        finder.setParallel(true);
        result.projected = finder.findPatternCenters(normalized, result.found, result.foundTweaked);
        if (result.projected)
            std::copy(ws.homography, ws.homography + 9, result.homography);
        result.workerCpuNs = finder.workerCpuNs();
    }
    for (int k = 0; k < result.count; ++k) {
        ws.ac_pattern_center_org[k] = result.found[k];
        ws.ac_pattern_center_twk[k] = result.foundTweaked[k];
    }
    qDebug() << "AC_FindPatternCenter - End";
    return result;
}

} // namespace tl
