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

namespace {

// Redness of each pixel: the red channel above the larger of green and blue.
cv::Mat rednessOf(const cv::Mat &bgra)
{
    cv::Mat ch[4];
    cv::split(bgra, ch);
    cv::Mat gb = cv::max(ch[0], ch[1]);
    cv::Mat red;
    cv::subtract(ch[2], gb, red, cv::noArray(), CV_16S);
    return red;
}

// The most dot-like red component of `mask`: filled like a disc and as wide as
// high. Its label, or -1.
int roundestComponent(const cv::Mat &mask, int minArea, cv::Mat &labels, cv::Mat &stats)
{
    cv::Mat centroids;
    const int n = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S);
    double best = 0;
    int bestLabel = -1;
    for (int l = 1; l < n; ++l) {
        const int area = stats.at<int>(l, cv::CC_STAT_AREA);
        const int w = stats.at<int>(l, cv::CC_STAT_WIDTH);
        const int h = stats.at<int>(l, cv::CC_STAT_HEIGHT);
        if (area < minArea)
            continue;
        // A filled round dot covers pi/4 of its box; arcs, strokes and text do not.
        const double fillRatio = double(area) / (double(w) * h);
        const double aspect = double(std::min(w, h)) / std::max(w, h);
        const double score = fillRatio * aspect;
        if (fillRatio > 0.6 && aspect > 0.75 && score > best) {
            best = score;
            bestLabel = l;
        }
    }
    return bestLabel;
}

} // namespace

QImage toRgb32(const QImage &display)
{
    QImage out(display.size(), QImage::Format_RGB32);
    for (int y = 0; y < display.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < display.width(); ++x)
            line[x] = display.pixel(x, y);
    }
    return out;
}

std::optional<cv::Point2d> findTargetMark(const QImage &display)
{
    if (display.isNull())
        return std::nullopt;
    QImage rgb = display;
    if (rgb.format() != QImage::Format_RGB32 && rgb.format() != QImage::Format_ARGB32
        && rgb.format() != QImage::Format_ARGB32_Premultiplied)
        rgb = toRgb32(display);
    const cv::Mat img(rgb.height(), rgb.width(), CV_8UC4, const_cast<uchar *>(rgb.constBits()),
                      static_cast<size_t>(rgb.bytesPerLine()));
    // Look over the whole picture at a quarter of its size, then at the spot
    // in full detail, as a person glances and then aims.
    constexpr int kGlance = 4;
    cv::Rect roi(0, 0, img.cols, img.rows);
    if (img.cols >= 64 * kGlance && img.rows >= 64 * kGlance) {
        cv::Mat small;
        cv::resize(img, small, cv::Size(img.cols / kGlance, img.rows / kGlance), 0, 0, cv::INTER_AREA);
        cv::Mat labels, stats;
        const int l = roundestComponent(rednessOf(small) > 60, 2, labels, stats);
        if (l < 0)
            return std::nullopt;
        const int x = stats.at<int>(l, cv::CC_STAT_LEFT), y = stats.at<int>(l, cv::CC_STAT_TOP);
        const int w = stats.at<int>(l, cv::CC_STAT_WIDTH), h = stats.at<int>(l, cv::CC_STAT_HEIGHT);
        roi = cv::Rect((x - 2) * kGlance, (y - 2) * kGlance, (w + 4) * kGlance, (h + 4) * kGlance) &
              cv::Rect(0, 0, img.cols, img.rows);
    }
    const cv::Mat redness = rednessOf(img(roi));
    cv::Mat labels, stats;
    const int best = roundestComponent(redness > 80, 12, labels, stats);
    if (best < 0)
        return std::nullopt;
    // Weighted by redness, so that the anti-aliased rim counts by its share.
    const cv::Rect box(stats.at<int>(best, cv::CC_STAT_LEFT) - 2, stats.at<int>(best, cv::CC_STAT_TOP) - 2,
                       stats.at<int>(best, cv::CC_STAT_WIDTH) + 4, stats.at<int>(best, cv::CC_STAT_HEIGHT) + 4);
    const cv::Rect r = box & cv::Rect(0, 0, roi.width, roi.height);
    cv::Mat weight;
    redness(r).convertTo(weight, CV_64F);
    weight = cv::max(weight, 0.0);
    const cv::Moments m = cv::moments(weight);
    if (m.m00 <= 0)
        return std::nullopt;
    return cv::Point2d(roi.x + r.x + m.m10 / m.m00, roi.y + r.y + m.m01 / m.m00);
}

bool markRingShown(const QImage &display, cv::Point2d mark)
{
    if (display.isNull() || !std::isfinite(mark.x) || !std::isfinite(mark.y))
        return false;
    // The rings lie between about 22 and 41 pixels from the mark's centre; the
    // mark's own red dot is well inside the inner radius looked at.
    constexpr double kInner = 20.0;
    constexpr double kOuter = 44.0;
    // A tenth of the rings' first step (36 degrees of two arcs) is red enough.
    constexpr int kRedPixels = 30;
    const int x0 = std::max(0, static_cast<int>(std::floor(mark.x - kOuter)));
    const int y0 = std::max(0, static_cast<int>(std::floor(mark.y - kOuter)));
    const int x1 = std::min(display.width() - 1, static_cast<int>(std::ceil(mark.x + kOuter)));
    const int y1 = std::min(display.height() - 1, static_cast<int>(std::ceil(mark.y + kOuter)));
    int red = 0;
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const double d = std::hypot(x - mark.x, y - mark.y);
            if (d < kInner || d > kOuter)
                continue;
            const QRgb c = display.pixel(x, y);
            if (qRed(c) - std::max(qGreen(c), qBlue(c)) > 80)
                ++red;
        }
    }
    return red >= kRedPixels;
}

} // namespace tl::sim
