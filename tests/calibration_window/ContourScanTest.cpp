#include "WarpedCapture.h"
#include "WindowSupport.h"

#include "calibration/ContourScan.h"
#include "calibration/PatternRecognition.h"

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <climits>

namespace {

using Contours = std::vector<std::vector<cv::Point>>;

// The full contour list of the image, cut down to the boxes asked for.
Contours reference(const cv::Mat &bin, cv::Size minBox, cv::Size maxBox)
{
    Contours all, kept;
    cv::findContours(bin, all, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
    for (const std::vector<cv::Point> &c : all) {
        const cv::Rect box = cv::boundingRect(c);
        if (box.width >= minBox.width && box.width <= maxBox.width && box.height >= minBox.height
            && box.height <= maxBox.height)
            kept.push_back(c);
    }
    return kept;
}

const cv::Size kDotMin(24, 24);
const cv::Size kDotMax(160, 160);
const cv::Size kAny(1, 1);
const cv::Size kHuge(INT_MAX, INT_MAX);

} // namespace

// On captures of the pattern, at every level the search thresholds at and a
// spread of others, the boxed contours are the full list's contours of that
// size with the same points in the same order; without a size limit they are
// the whole list.
TEST(ContourScan, EqualsTheFullListOnPatternCaptures)
{
    struct Case
    {
        int w, h, lens;
        bool ceiling, rear;
        unsigned seed;
    };
    for (const Case &c : { Case{ 1920, 1080, 2, false, false, 3 }, Case{ 1280, 800, 1, true, false, 4 },
                           Case{ 1920, 1080, 3, false, true, 5 } }) {
        WindowRig rig(c.w, c.h, c.ceiling, c.rear);
        const cv::Mat window = toGrey(rig.showPattern());
        const WarpedCapture cam(c.w, c.h, c.lens, 0.7, 2.0, c.seed, c.ceiling, c.rear);
        cv::Mat normalized;
        tl::makeNormalizedPatternImage(cam.black(), cam.white(), cam.capture(window, 3), normalized);
        std::vector<int> levels = tl::PatternFinder::makeThresholdList(normalized);
        ASSERT_GT(levels.size(), 5u);
        for (int t = 10; t < 255; t += 35)
            levels.push_back(t);
        size_t dotSized = 0;
        for (int t : levels) {
            cv::Mat bin;
            cv::threshold(normalized, bin, t, 255, cv::THRESH_BINARY);
            Contours boxed;
            tl::boxedContours(bin, kDotMin, kDotMax, boxed);
            EXPECT_EQ(boxed, reference(bin, kDotMin, kDotMax)) << c.w << " lens " << c.lens << " level " << t;
            dotSized += boxed.size();
            tl::boxedContours(bin, kAny, kHuge, boxed);
            Contours all;
            cv::findContours(bin, all, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
            EXPECT_EQ(boxed, all) << c.w << " lens " << c.lens << " level " << t;
        }
        EXPECT_GT(dotSized, 0u) << "the dots should be among the contours";
    }
}

// Foreground on the image edge, lone pixels, one-row and one-column images,
// images without foreground, non-zero values other than 255 and a view into
// a larger image.
TEST(ContourScan, EdgesTinyImagesAndViews)
{
    cv::RNG rng(7);
    cv::Mat noise(97, 131, CV_8UC1);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
    cv::Mat speckled;
    cv::threshold(noise, speckled, 140, 255, cv::THRESH_BINARY);
    cv::Mat blobs = cv::Mat::zeros(120, 160, CV_8UC1);
    cv::rectangle(blobs, cv::Rect(0, 0, 40, 30), cv::Scalar(255), cv::FILLED);
    cv::circle(blobs, cv::Point(100, 70), 30, cv::Scalar(9), cv::FILLED);
    cv::circle(blobs, cv::Point(100, 70), 12, cv::Scalar(0), cv::FILLED);
    cv::rectangle(blobs, cv::Rect(130, 90, 30, 30), cv::Scalar(255), cv::FILLED);
    blobs.at<uchar>(60, 10) = 1;
    const cv::Mat images[] = { speckled,
                               blobs,
                               blobs(cv::Rect(20, 10, 120, 100)),
                               cv::Mat(1, 50, CV_8UC1, cv::Scalar(255)),
                               cv::Mat(40, 1, CV_8UC1, cv::Scalar(255)),
                               cv::Mat(1, 1, CV_8UC1, cv::Scalar(255)),
                               cv::Mat::zeros(30, 30, CV_8UC1),
                               cv::Mat(30, 30, CV_8UC1, cv::Scalar(255)) };
    for (size_t i = 0; i < sizeof(images) / sizeof(images[0]); ++i) {
        const cv::Mat before = images[i].clone();
        for (const auto &limits : { std::make_pair(kAny, kHuge), std::make_pair(cv::Size(20, 20), cv::Size(45, 45)),
                                    std::make_pair(cv::Size(3, 1), cv::Size(5, 200)) }) {
            Contours boxed;
            tl::boxedContours(images[i], limits.first, limits.second, boxed);
            EXPECT_EQ(boxed, reference(images[i], limits.first, limits.second)) << "image " << i;
        }
        EXPECT_EQ(cv::countNonZero(before != images[i]), 0) << "image " << i << " was changed";
    }
    Contours boxed{ { cv::Point(1, 1) } };
    tl::boxedContours(cv::Mat(), kAny, kHuge, boxed);
    EXPECT_TRUE(boxed.empty());
}
