#include "calibration/PatternRecognition.h"

#include "calibration/CalibWorkspace.h"
#include "calibration/CalibrationFit.h"
#include "calibration/ContourScan.h"
#include "calibration/PatternGeometry.h"
#include "platform/Clock.h"
#include "platform/ParallelFor.h"

#include <QDebug>
#include <QString>

#include <opencv2/aruco.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include <time.h>

namespace tl {

namespace {

constexpr int kCaptureWidth = 1280;
constexpr int kCaptureHeight = 720;

// Dot contours in the camera image: bounding box and area limits. The upper
// limits grow where the projection expects a dot larger than they allow.
constexpr int kDotBoxMin = 24;
constexpr int kDotBoxMax = 160;
constexpr double kDotAreaMin = 200;
constexpr double kDotAreaMax = 20000;
// A contour may be this much wider (and its area this much larger, squared)
// than the dot the projection expects: the thresholds cut the blurred edge at
// different levels.
constexpr double kDotSizeMargin = 1.3;
// A dot belongs to the expected dot position closer than this in both axes,
// at 1920 x 1080 and below; on a larger display it grows with the display,
// as the projection's error does.
constexpr double kDotSlotReach = 50;
constexpr int kReachWidth = 1920;
constexpr int kReachHeight = 1080;

// Search window and step of searchInversePoint, camera pixels.
constexpr double kSearchHalf = 10.0;
constexpr double kSearchStep = 0.2;

// CPU time of the threshold-level work done on threads other than the
// searching one, over all searches.
std::atomic<qint64> g_workerCpuNs{ 0 };

int roundHalfUp(double v)
{
    return static_cast<int>(std::floor(v + 0.5));
}

// Runs `detect` at each threshold level and hands each level's result to
// `take` in level order. With `parallel`, a batch of levels (one per OpenCV
// thread) is detected at once; the results are taken in the same order. Stops
// after the level at which more than `limitMs` of clock time have passed.
template <typename Detect, typename Take>
void overThresholds(const std::vector<int> &levels, bool parallel, int limitMs, Detect detect, Take take)
{
    using Result = decltype(detect(0));
    const qint64 start = Clock::nowMs();
    const int batch = parallel ? std::max(1, cv::getNumThreads()) : 1;
    const std::thread::id caller = std::this_thread::get_id();
    for (size_t first = 0; first < levels.size(); first += batch) {
        const size_t n = std::min(levels.size() - first, static_cast<size_t>(batch));
        std::vector<Result> found(n);
        if (n > 1) {
            parallelFor(cv::Range(0, static_cast<int>(n)), [&](const cv::Range &r) {
                // The caller's own share is in the caller's thread time.
                const bool worker = std::this_thread::get_id() != caller;
                const qint64 cpuStart = worker ? threadCpuNs() : 0;
                for (int i = r.start; i < r.end; ++i)
                    found[i] = detect(levels[first + i]);
                if (worker)
                    g_workerCpuNs += threadCpuNs() - cpuStart;
            });
        } else {
            found[0] = detect(levels[first]);
        }
        for (size_t i = 0; i < n; ++i) {
            take(levels[first + i], found[i]);
            const qint64 elapsed = Clock::nowMs() - start;
            if (elapsed > limitMs) {
                qDebug().noquote() << QString::asprintf("timeout: %d", static_cast<int>(elapsed));
                return;
            }
        }
    }
}

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

bool isCapture(const cv::Mat &m)
{
    return !m.empty() && m.type() == CV_8UC1 && m.dims == 2;
}

// The integer contour of a detected marker's black square. The detector does
// not report the contour it accepted, so it is traced again around the
// corners: the outer boundary of the dark region containing the marker's
// centre, in the binarised image (or, for the raw image, binarised at the
// Otsu level of the marker's surroundings). When no such region matches the
// corner quadrilateral, the corners themselves, rounded, are the polygon.
std::vector<cv::Point> markerContour(const cv::Mat &image, bool binary, const std::vector<cv::Point2f> &corners)
{
    std::vector<cv::Point> fallback;
    for (const cv::Point2f &c : corners)
        fallback.emplace_back(roundHalfUp(c.x), roundHalfUp(c.y));
    if (corners.size() != 4)
        return fallback;
    const double quadArea = std::fabs(cv::contourArea(corners));
    const cv::Rect box = cv::boundingRect(corners);
    const int grow = std::max(4, std::max(box.width, box.height) / 4);
    const cv::Rect roi = cv::Rect(box.x - grow, box.y - grow, box.width + 2 * grow, box.height + 2 * grow)
        & cv::Rect(0, 0, image.cols, image.rows);
    if (roi.width < 3 || roi.height < 3 || quadArea < 1)
        return fallback;

    cv::Mat dark;
    if (binary)
        cv::compare(image(roi), 0, dark, cv::CMP_EQ);
    else
        cv::threshold(image(roi), dark, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(dark, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE, roi.tl());

    cv::Point2f centre(0, 0);
    for (const cv::Point2f &c : corners)
        centre += c * 0.25f;
    int best = -1;
    double bestArea = 0;
    for (size_t i = 0; i < contours.size(); ++i) {
        if (cv::pointPolygonTest(contours[i], centre, false) < 0)
            continue;
        const double area = cv::contourArea(contours[i]);
        if (area > bestArea) {
            bestArea = area;
            best = static_cast<int>(i);
        }
    }
    if (best < 0 || bestArea < 0.6 * quadArea || bestArea > 1.6 * quadArea)
        return fallback;
    return contours[best];
}

} // namespace

qint64 threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<qint64>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

qint64 patternSearchWorkerCpuNs()
{
    return g_workerCpuNs.load();
}

void makeNormalizedPatternImage(const cv::Mat &black, const cv::Mat &white, const cv::Mat &pattern,
                                cv::Mat &normalized)
{
    // Reused from call to call: the normalisation runs three times a
    // calibration on the same size.
    static cv::Mat g1;
    static cv::Mat g2;
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

void PatternFinder::setWindowSize(int w, int h)
{
    m_nWidth = w;
    m_nHeight = h;
    int R = 0, S = 0;
    patternCircleRadius(w, h, R, S);
    m_nDiameterNormal = 2 * R + 1;
    m_dSlotReach = kDotSlotReach
        * std::max({ 1.0, static_cast<double>(w) / kReachWidth, static_cast<double>(h) / kReachHeight });
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

void PatternFinder::updateDotLimits()
{
    m_nDotBoxMax = kDotBoxMax;
    m_dDotAreaMax = kDotAreaMax;
    // Every dot is drawn with radius R: its outline, sampled, through the
    // projection into the camera.
    const double r = m_nDiameterNormal / 2.0;
    constexpr int kOutline = 32;
    for (int j = 0; j < m_nPointCount; ++j) {
        if (isMarkerIndex(j))
            continue;
        std::vector<cv::Point2d> outline;
        for (int i = 0; i < kOutline; ++i) {
            const double a = 2 * CV_PI * i / kOutline;
            cv::Point2d c;
            if (!windowToCam(m_expected[j] + r * cv::Point2d(std::cos(a), std::sin(a)), &c))
                break;
            outline.push_back(c);
        }
        if (outline.size() != kOutline)
            continue;
        std::vector<cv::Point2f> poly(outline.begin(), outline.end());
        double x0 = outline[0].x, x1 = x0, y0 = outline[0].y, y1 = y0;
        for (const cv::Point2d &c : outline) {
            x0 = std::min(x0, c.x);
            x1 = std::max(x1, c.x);
            y0 = std::min(y0, c.y);
            y1 = std::max(y1, c.y);
        }
        const double area = std::fabs(cv::contourArea(poly));
        // Only a sensible dot widens the limits: never beyond the image.
        const double side = kDotSizeMargin * std::max(x1 - x0, y1 - y0);
        if (side < kCaptureWidth && std::isfinite(area))
            m_nDotBoxMax = std::max(m_nDotBoxMax, static_cast<int>(std::ceil(side)));
        const double a2 = kDotSizeMargin * kDotSizeMargin * area;
        if (a2 < double(kCaptureWidth) * kCaptureHeight)
            m_dDotAreaMax = std::max(m_dDotAreaMax, a2);
    }
    qDebug() << "dot limits: box" << m_nDotBoxMax << "area" << m_dDotAreaMax << "reach" << m_dSlotReach;
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

std::vector<int> PatternFinder::makeThresholdList(const cv::Mat &image)
{
    std::vector<int> list;
    if (!isCapture(image))
        return list;
    cv::Mat hist;
    const int histSize = 255;
    const float range[] = { 0, 255 };
    const float *ranges[] = { range };
    const int channels[] = { 0 };
    cv::calcHist(&image, 1, channels, cv::Mat(), hist, 1, &histSize, ranges);
    auto count = [&hist](int i) { return static_cast<int>(hist.at<float>(i)); };

    const int minCount = image.cols / 10;
    std::vector<int> candidates;
    for (int i = 1; i <= 254; ++i)
        if (count(i) > minCount)
            candidates.push_back(i);
    if (candidates.size() <= 20)
        return candidates;

    struct Bin
    {
        int value;
        int count;
    };
    std::vector<Bin> sorted;
    for (int i = 1; i <= 254; ++i)
        sorted.push_back({ i, count(i) });
    // The exchange sort fixes the order of bins with equal counts, which
    // decides which of two close levels step 2 keeps.
    for (size_t i = 0; i + 1 < sorted.size(); ++i)
        for (size_t j = i + 1; j < sorted.size(); ++j)
            if (sorted[i].count < sorted[j].count)
                std::swap(sorted[i], sorted[j]);
    const int level = (sorted[19].count + sorted[20].count) / 2;
    qDebug() << "top 20 threshold =" << sorted[19].count << sorted[20].count << level;

    int lo = -1, hi = -1;
    for (int i = 1; i <= 254; ++i) {
        if (count(i) >= level) {
            if (lo < 0)
                lo = i;
            hi = i;
        }
    }
    candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                    [lo, hi](int v) { return v < lo || v > hi; }),
                     candidates.end());
    qDebug() << "after step 1:" << static_cast<int>(candidates.size());
    for (int v : candidates)
        qDebug() << v;

    for (const Bin &b : sorted) {
        if (std::find(candidates.begin(), candidates.end(), b.value) == candidates.end())
            continue;
        bool near = false;
        for (int taken : list)
            near = near || std::abs(taken - b.value) < 5;
        if (!near)
            list.push_back(b.value);
    }
    qDebug() << "after step 2:" << static_cast<int>(list.size());
    for (int v : list)
        qDebug() << v;
    return list;
}

std::vector<MarkerDetection> PatternFinder::detectMarkers(const cv::Mat &image, int t)
{
    std::vector<MarkerDetection> out;
    if (!isCapture(image))
        return out;
    // A binarised copy: the caller's image is shared by every level.
    cv::Mat work;
    if (t == -1) {
        work = image;
    } else {
        cv::threshold(image, work, t, 255, cv::THRESH_BINARY);
        if (cv::countNonZero(work) == 0)
            return out;
    }
    cv::Ptr<cv::aruco::DetectorParameters> params = cv::aruco::DetectorParameters::create();
    params->errorCorrectionRate = 0;
    const cv::Ptr<cv::aruco::Dictionary> dictionary
        = cv::aruco::getPredefinedDictionary(cv::aruco::DICT_APRILTAG_16h5);
    std::vector<int> ids;
    std::vector<std::vector<cv::Point2f>> corners;
    cv::aruco::detectMarkers(work, dictionary, corners, ids, params);
    for (size_t i = 0; i < ids.size() && i < corners.size(); ++i) {
        MarkerDetection d;
        d.id = ids[i];
        d.corners = corners[i];
        d.contour = markerContour(work, t != -1, corners[i]);
        out.push_back(std::move(d));
    }
    return out;
}

void PatternFinder::addMarkers(const std::vector<MarkerDetection> &found)
{
    for (const MarkerDetection &d : found)
        if (d.id >= 0 && d.id < m_nPointCount && isMarkerIndex(d.id))
            m_markers[d.id].push_back(d);
}

void PatternFinder::findMarkerCenters(const cv::Mat &image, cv::Point2f *centers)
{
    addMarkers(detectMarkers(image, -1));

    overThresholds(
        makeThresholdList(image), m_bParallel, kLoopLimitMs, [&](int t) { return detectMarkers(image, t); },
        [this](int, const std::vector<MarkerDetection> &found) { addMarkers(found); });

    for (int k = 0; k < m_nPointCount; ++k) {
        centers[k] = cv::Point2f(0, 0);
        if (m_markers[k].empty())
            continue;
        std::vector<cv::Point2d> centroids;
        for (const MarkerDetection &d : m_markers[k]) {
            cv::Point2d c;
            if (!polygonCentroid(d.contour, &c))
                continue;
            qDebug() << "    ID:" << k << "Center:" << c.x << c.y;
            centroids.push_back(c);
        }
        const cv::Point2d mean = robustMeanPoint(centroids);
        qDebug() << "ID:" << k << "Center:" << mean.x << mean.y;
        centers[k] = cv::Point2f(static_cast<float>(mean.x), static_cast<float>(mean.y));
    }
}

void PatternFinder::tweakMarkerCenter(cv::Point2f *centers)
{
    qDebug() << "tweakMarkerCenter";
    for (int k = 0; k < m_nPointCount; ++k) {
        centers[k] = cv::Point2f(0, 0);
        if (m_markers[k].empty())
            continue;
        std::vector<cv::Point2d> tweaked;
        for (const MarkerDetection &d : m_markers[k]) {
            cv::Point2d c;
            if (!polygonCentroid(d.contour, &c))
                continue;
            std::vector<cv::Point> win;
            cv::Point2d t;
            cv::Point2d p = c;
            double err = -1;
            if (windowPolygon(d.contour, &win) && polygonCentroid(win, &t))
                p = searchInversePoint(t, c, &err);
            qDebug() << "    ID:" << k << "Center:" << c.x << c.y << "TweakedCenter:" << p.x << p.y << err;
            if (p.x < 0 || p.y < 0)
                p = c;
            tweaked.push_back(p);
        }
        const cv::Point2d mean = robustMeanPoint(tweaked);
        qDebug() << "ID:" << k << "TweakedCenter:" << mean.x << mean.y;
        centers[k] = cv::Point2f(static_cast<float>(mean.x), static_cast<float>(mean.y));
    }
}

std::vector<PatternFinder::DotHit> PatternFinder::circularCandidates(const cv::Mat &image, int t) const
{
    std::vector<DotHit> hits;
    if (!isCapture(image))
        return hits;
    cv::Mat bin;
    cv::threshold(image, bin, t, 255, cv::THRESH_BINARY);
    // Every outer boundary and every hole, end points of straight runs only.
    // The two-level hierarchy would hold exactly these contours, but building
    // it grows with the square of their number, and the sensor noise where
    // the screen has no contrast yields tens of thousands (seconds per level);
    // the hierarchy itself is not needed. Only contours of a dot's camera
    // size become point lists.
    std::vector<std::vector<cv::Point>> contours;
    boxedContours(bin, cv::Size(kDotBoxMin, kDotBoxMin), cv::Size(m_nDotBoxMax, m_nDotBoxMax), contours);

    // The dot as drawn: a disc 2R + 1 pixels across.
    const double r = m_nDiameterNormal / 2.0;
    const double boxMin = 0.95 * 2 * r, boxMax = 1.15 * 2 * r;
    const double areaMin = 0.9 * CV_PI * r * r, areaMax = 1.1 * CV_PI * r * r;

    for (const std::vector<cv::Point> &contour : contours) {
        const cv::Rect box = cv::boundingRect(contour);
        const double area = cv::contourArea(contour);
        if (box.width < kDotBoxMin || box.width > m_nDotBoxMax || box.height < kDotBoxMin
            || box.height > m_nDotBoxMax || area < kDotAreaMin || area > m_dDotAreaMax)
            continue;
        cv::Point2d c;
        if (!polygonCentroid(contour, &c))
            continue;
        const cv::Point2d w = camToWindow(c);
        std::vector<cv::Point> win;
        if (!std::isfinite(w.x) || !std::isfinite(w.y) || !windowPolygon(contour, &win))
            continue;
        const cv::Rect wbox = cv::boundingRect(win);
        const double warea = cv::contourArea(win);
        if (wbox.width < boxMin || wbox.width > boxMax || wbox.height < boxMin || wbox.height > boxMax
            || warea < areaMin || warea > areaMax)
            continue;
        for (int j = 0; j < m_nPointCount; ++j) {
            if (isMarkerIndex(j))
                continue;
            if (std::fabs(w.x - m_expected[j].x) < m_dSlotReach && std::fabs(w.y - m_expected[j].y) < m_dSlotReach) {
                cv::Point2d tw;
                if (polygonCentroid(win, &tw)) {
                    const cv::Point2d p = searchInversePoint(tw, c, nullptr);
                    hits.push_back({ j, p, p - c });
                }
                break;
            }
        }
    }
    return hits;
}

void PatternFinder::addDots(int t, const std::vector<DotHit> &hits)
{
    qDebug() << "recogCircularPattern: thr =" << t;
    qDebug() << "diameterNormal =" << m_nDiameterNormal;
    for (const DotHit &h : hits) {
        m_dots[h.slot].push_back(h.centre);
        m_dotCorrections[h.slot].push_back(h.correction);
    }
}

void PatternFinder::recogCircularPattern(const cv::Mat &image, int t)
{
    addDots(t, circularCandidates(image, t));
}

void PatternFinder::findCircleCenters(const cv::Mat &image, cv::Point2f *centers, cv::Point2f *corrections)
{
    overThresholds(
        makeThresholdList(image), m_bParallel, kLoopLimitMs, [&](int t) { return circularCandidates(image, t); },
        [this](int t, const std::vector<DotHit> &hits) { addDots(t, hits); });

    for (int k = 0; k < m_nPointCount; ++k) {
        centers[k] = cv::Point2f(0, 0);
        corrections[k] = cv::Point2f(0, 0);
        if (m_dots[k].empty())
            continue;
        const cv::Point2d c = robustMeanPoint(m_dots[k]);
        qDebug() << "ID:" << k << "Center:" << c.x << c.y;
        const cv::Point2d d = robustMeanPoint(m_dotCorrections[k]);
        centers[k] = cv::Point2f(static_cast<float>(c.x), static_cast<float>(c.y));
        corrections[k] = cv::Point2f(static_cast<float>(d.x), static_cast<float>(d.y));
    }
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

void AC_FindPatternCenter(const cv::Mat &normalized)
{
    CalibWorkspace &ws = calibWorkspace();
    const int n = clampedSlotCount(ws.ac_point_count);
    cv::Point2f found[PatternFinder::kSlots];
    cv::Point2f foundTweaked[PatternFinder::kSlots];
    for (int k = 0; k < n; ++k) {
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
        finder.findPatternCenters(normalized, found, foundTweaked);
    }
    for (int k = 0; k < n; ++k) {
        ws.ac_pattern_center_org[k] = found[k];
        ws.ac_pattern_center_twk[k] = foundTweaked[k];
    }
    qDebug() << "AC_FindPatternCenter - End";
}

} // namespace tl
