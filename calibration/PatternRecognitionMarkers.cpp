#include "calibration/PatternRecognition.h"

#include "calibration/PatternGeometry.h"
#include "calibration/PatternRecognitionSearch.h"

#include <QDebug>

#include <opencv2/aruco.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

// Marker finding: the markers detected at every threshold level, the integer
// contours of their squares, and their centres, raw and through the projection.

namespace tl {

using namespace pattern_search;

namespace {

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

} // namespace tl
