#include "calibration/PatternRecognition.h"

#include "calibration/PatternGeometry.h"
#include "calibration/PatternRecognitionSearch.h"

#include <QDebug>

#include <opencv2/imgproc.hpp>

#include <apriltag/apriltag.h>
#include <apriltag/tag16h5.h>

#include <algorithm>
#include <cmath>
#include <memory>

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

// A marker whose square comes nearer the image edge than this is not taken:
// its border may be cut off.
constexpr float kEdgeMargin = 3.0f;

bool wellInside(const cv::Point2f &c, const cv::Mat &image)
{
    return std::isfinite(c.x) && std::isfinite(c.y) && c.x >= kEdgeMargin && c.y >= kEdgeMargin
        && c.x <= image.cols - 1 - kEdgeMargin && c.y <= image.rows - 1 - kEdgeMargin;
}

// One TAG16h5 detector, made for one detection and freed with it: the family
// is the detector's for its life, and levels run on several threads at once.
class TagDetector
{
public:
    explicit TagDetector(const MarkerDetectorSettings &settings)
        : m_family(tag16h5_create(), tag16h5_destroy), m_detector(apriltag_detector_create(), apriltag_detector_destroy)
    {
        // No bit corrected: the family's codes are only 5 bits apart.
        apriltag_detector_add_family_bits(m_detector.get(), m_family.get(), 0);
        // The threshold levels already run side by side.
        m_detector->nthreads = 1;
        m_detector->quad_decimate = settings.decimate;
        m_detector->quad_sigma = settings.sigma;
        m_detector->refine_edges = settings.refineEdges;
        m_detector->decode_sharpening = settings.sharpening;
    }

    std::vector<MarkerDetection> detect(const cv::Mat &image)
    {
        // The detector reads the image where it lies (it writes into it only
        // to blur it without reduction, see detectMarkers).
        image_u8_t view{ image.cols, image.rows, static_cast<int32_t>(image.step[0]),
                         const_cast<uint8_t *>(image.ptr<uint8_t>()) };
        std::unique_ptr<zarray_t, void (*)(zarray_t *)> found(apriltag_detector_detect(m_detector.get(), &view),
                                                                apriltag_detections_destroy);
        std::vector<MarkerDetection> out;
        for (int i = 0; found && i < zarray_size(found.get()); ++i) {
            apriltag_detection_t *det = nullptr;
            zarray_get(found.get(), i, &det);
            if (!det || det->hamming != 0)
                continue;
            MarkerDetection d;
            d.id = det->id;
            // The detector's corners go the other way round, starting at the
            // marker's top-right corner, and put pixel centres at halves.
            for (int k = 0; k < 4; ++k) {
                const double *p = det->p[(5 - k) % 4];
                d.corners.emplace_back(static_cast<float>(p[0] - 0.5), static_cast<float>(p[1] - 0.5));
            }
            out.push_back(std::move(d));
        }
        return out;
    }

private:
    std::unique_ptr<apriltag_family_t, void (*)(apriltag_family_t *)> m_family;
    std::unique_ptr<apriltag_detector_t, void (*)(apriltag_detector_t *)> m_detector;
};

} // namespace

std::vector<MarkerDetection> keptMarkers(const cv::Mat &work, bool binary, std::vector<MarkerDetection> reported)
{
    std::vector<MarkerDetection> out;
    if (!isCapture(work))
        return out;
    for (MarkerDetection &d : reported) {
        if (d.corners.size() != 4
            || !std::all_of(d.corners.begin(), d.corners.end(),
                            [&](const cv::Point2f &c) { return wellInside(c, work); }))
            continue;
        d.contour = markerContour(work, binary, d.corners);
        out.push_back(std::move(d));
    }
    return out;
}

bool markerLevelImage(const cv::Mat &image, int t, cv::Mat &work)
{
    if (t == -1) {
        work = image;
        return true;
    }
    cv::threshold(image, work, t, 255, cv::THRESH_BINARY);
    return cv::countNonZero(work) != 0;
}

std::vector<MarkerDetection> PatternFinder::detectMarkers(const cv::Mat &image, int t,
                                                          const MarkerDetectorSettings &settings)
{
    if (!isCapture(image))
        return {};
    // A binarised copy: the caller's image is shared by every level.
    cv::Mat work;
    if (!markerLevelImage(image, t, work))
        return {};
    TagDetector detector(settings);
    // The detector blurs the image it fits quads on in place, and without
    // reduction that is the image it is given: then it gets a copy, and the
    // contours are traced on the image as it was.
    const bool blursInPlace = settings.sigma != 0 && settings.decimate <= 1;
    return keptMarkers(work, t != -1, detector.detect(blursInPlace ? work.clone() : work));
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
        makeThresholdList(image), m_bParallel, kLoopLimitMs, m_workerCpuNs,
        [&](int t) { return detectMarkers(image, t); },
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
