#include "sim/SimulatedUser.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace tl::sim {

WindowPen windowStroke(cv::Point2d from, cv::Point2d to, int cycles)
{
    const int n = std::max(1, cycles);
    return [from, to, n](uint64_t cycle) -> std::vector<cv::Point2d> {
        if (cycle >= static_cast<uint64_t>(n))
            return {};
        const double t = n == 1 ? 0.0 : double(cycle) / (n - 1);
        return { from + t * (to - from) };
    };
}

WindowPen windowTaps(std::vector<cv::Point2d> points, int hold, int gap)
{
    const uint64_t h = static_cast<uint64_t>(std::max(1, hold));
    const uint64_t period = h + static_cast<uint64_t>(std::max(0, gap));
    return [points = std::move(points), h, period](uint64_t cycle) -> std::vector<cv::Point2d> {
        const uint64_t i = cycle / period;
        if (i >= points.size() || cycle % period >= h)
            return {};
        return { points[i] };
    };
}

std::optional<cv::Point2d> findTargetMark(const QImage &display)
{
    if (display.isNull())
        return std::nullopt;
    const QImage rgb = display.convertToFormat(QImage::Format_RGB888);
    const cv::Mat img(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar *>(rgb.constBits()),
                      static_cast<size_t>(rgb.bytesPerLine()));
    // Red: the red channel well above both others.
    std::vector<cv::Mat> ch;
    cv::split(img, ch);
    cv::Mat gb = cv::max(ch[1], ch[2]);
    cv::Mat redness;
    cv::subtract(ch[0], gb, redness, cv::noArray(), CV_16S);
    cv::Mat mask = redness > 80;
    cv::Mat labels, stats, centroids;
    const int n = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S);
    double best = 0;
    int bestLabel = -1;
    for (int l = 1; l < n; ++l) {
        const int area = stats.at<int>(l, cv::CC_STAT_AREA);
        const int w = stats.at<int>(l, cv::CC_STAT_WIDTH);
        const int h = stats.at<int>(l, cv::CC_STAT_HEIGHT);
        if (area < 12)
            continue;
        // A filled round dot covers pi/4 of its box and is as wide as high; arcs,
        // strokes and text do neither.
        const double fillRatio = double(area) / (double(w) * h);
        const double aspect = double(std::min(w, h)) / std::max(w, h);
        const double score = fillRatio * aspect;
        if (fillRatio > 0.6 && aspect > 0.8 && score > best) {
            best = score;
            bestLabel = l;
        }
    }
    if (bestLabel < 0)
        return std::nullopt;
    // Weighted by redness, so that the anti-aliased rim counts by its share.
    cv::Mat roi = (labels == bestLabel);
    const cv::Rect box(stats.at<int>(bestLabel, cv::CC_STAT_LEFT) - 2, stats.at<int>(bestLabel, cv::CC_STAT_TOP) - 2,
                       stats.at<int>(bestLabel, cv::CC_STAT_WIDTH) + 4,
                       stats.at<int>(bestLabel, cv::CC_STAT_HEIGHT) + 4);
    const cv::Rect r = box & cv::Rect(0, 0, img.cols, img.rows);
    cv::Mat weight;
    redness(r).convertTo(weight, CV_64F);
    weight = cv::max(weight, 0.0);
    const cv::Moments m = cv::moments(weight);
    if (m.m00 <= 0)
        return std::nullopt;
    return cv::Point2d(r.x + m.m10 / m.m00, r.y + m.m01 / m.m00);
}

} // namespace tl::sim
