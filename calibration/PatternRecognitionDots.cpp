#include "calibration/PatternRecognition.h"

#include "calibration/ContourScan.h"
#include "calibration/PatternGeometry.h"
#include "calibration/PatternRecognitionSearch.h"

#include <QDebug>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

// Dot finding: the dots' expected size through the projection, the dot
// contours at every threshold level, and which expected dot each belongs to.

namespace tl {

using namespace pattern_search;

namespace {

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

} // namespace

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
        makeThresholdList(image), m_bParallel, kLoopLimitMs, m_workerCpuNs,
        [&](int t) { return circularCandidates(image, t); },
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

} // namespace tl
