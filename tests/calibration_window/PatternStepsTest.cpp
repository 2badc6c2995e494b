#include "LogCapture.h"
#include "TagDrawing.h"

#include "calibration/CalibWorkspace.h"
#include "calibration/PatternGeometry.h"
#include "calibration/PatternRecognition.h"

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <thread>

using tl::PatternFinder;

namespace {

// A finder whose camera-to-window mapping is `scale` times the camera point
// (no lens distortion), for a window of w x h with 20 pattern points.
struct ScaledFinder
{
    ScaledFinder(double scale, int w, int h)
        : lens(zero)
        , finder(lens, calib)
    {
        lens.setPredefinedLens(0, 10); // no distortion, centre (640, 360)
        const double H[9] = { scale, 0, 0, 0, scale, 0, 0, 0, 1 };
        calib.setHomography(H);
        finder.setWindowSize(w, h);
        finder.setPointCount(20);
        for (int k = 0; k < 25; ++k)
            finder.setExpected(k, cv::Point2d(-1000, -1000));
    }
    double zero[13] = {};
    tl::WideCalibration lens;
    tl::Calibration calib;
    PatternFinder finder;
};

cv::Mat whiteImage(int w = 1280, int h = 720)
{
    return cv::Mat(h, w, CV_8UC1, cv::Scalar(255));
}

// The hole contours of the binarised image, as the dot search sees them.
std::vector<std::vector<cv::Point>> holes(const cv::Mat &img)
{
    cv::Mat bin;
    cv::threshold(img, bin, 128, 255, cv::THRESH_BINARY);
    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Vec4i> hierarchy;
    cv::findContours(bin, contours, hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_SIMPLE);
    std::vector<std::vector<cv::Point>> out;
    for (size_t i = 0; i < contours.size(); ++i)
        if (hierarchy[i][3] >= 0)
            out.push_back(contours[i]);
    return out;
}

} // namespace

TEST(PatternNormalization, ContrastFormulaAndPixelsWithoutContrast)
{
    cv::Mat black(720, 1280, CV_8UC1, cv::Scalar(20));
    cv::Mat white(720, 1280, CV_8UC1, cv::Scalar(220));
    cv::Mat pattern(720, 1280, CV_8UC1, cv::Scalar(120));
    // Equal white and black: 255 whatever the pattern.
    white.at<uchar>(5, 5) = 20;
    pattern.at<uchar>(5, 5) = 0;
    // White below black counts as no contrast too.
    white.at<uchar>(6, 6) = 10;
    // Pattern brighter than white: nothing darkened.
    pattern.at<uchar>(7, 7) = 250;
    // Pattern fully dark: q saturates at 255.
    pattern.at<uchar>(8, 8) = 0;
    cv::Mat out;
    tl::makeNormalizedPatternImage(black, white, pattern, out);
    ASSERT_EQ(out.size(), cv::Size(1280, 720));
    EXPECT_EQ(out.at<uchar>(5, 5), 255);
    EXPECT_EQ(out.at<uchar>(6, 6), 255);
    EXPECT_EQ(out.at<uchar>(7, 7), 255);
    EXPECT_EQ(out.at<uchar>(8, 8), 255 - 255 * 0 - std::min(255, 220 * 256 / 201)); // 0
    EXPECT_EQ(out.at<uchar>(100, 100), 255 - 100 * 256 / 201);                        // 128

    // Captures that do not fit each other give an image without contrast.
    cv::Mat smallBlack(360, 640, CV_8UC1, cv::Scalar(0));
    tl::makeNormalizedPatternImage(smallBlack, white, pattern, out);
    EXPECT_EQ(out.size(), cv::Size(1280, 720));
    EXPECT_EQ(cv::countNonZero(out != 255), 0);
    cv::Mat colour(720, 1280, CV_8UC3);
    tl::makeNormalizedPatternImage(black, colour, pattern, out);
    EXPECT_EQ(cv::countNonZero(out != 255), 0);
    tl::makeNormalizedPatternImage(cv::Mat(), cv::Mat(), cv::Mat(), out);
    EXPECT_EQ(cv::countNonZero(out != 255), 0);
}

// Two threads normalising their own captures at the same time each get what
// they get alone: neither works in the other's scratch images.
TEST(PatternNormalization, SideBySideNormalisationsKeepToTheirOwnCaptures)
{
    struct Set
    {
        cv::Mat black, white, pattern, alone;
    };
    Set sets[2];
    for (int i = 0; i < 2; ++i) {
        Set &s = sets[i];
        s.black = cv::Mat(720, 1280, CV_8UC1, cv::Scalar(10 + 30 * i));
        s.white = cv::Mat(720, 1280, CV_8UC1, cv::Scalar(240 - 90 * i));
        s.pattern = cv::Mat(720, 1280, CV_8UC1);
        cv::randu(s.pattern, 0, 256);
        tl::makeNormalizedPatternImage(s.black, s.white, s.pattern, s.alone);
    }
    int differing[2] = {};
    auto work = [&](int i) {
        cv::Mat out;
        for (int round = 0; round < 60; ++round) {
            tl::makeNormalizedPatternImage(sets[i].black, sets[i].white, sets[i].pattern, out);
            differing[i] += cv::countNonZero(out != sets[i].alone) > 0;
        }
    };
    std::thread other(work, 1);
    work(0);
    other.join();
    EXPECT_EQ(differing[0], 0);
    EXPECT_EQ(differing[1], 0);
}

TEST(PatternThresholds, FewLevelsStayAscendingManyAreThinnedAtFive)
{
    // 5 grey levels, each on far more than 128 pixels: the list is them, ascending.
    cv::Mat img = whiteImage();
    const int few[] = { 200, 30, 90, 150, 60 };
    for (int i = 0; i < 5; ++i)
        img.rowRange(i * 10, i * 10 + 10).setTo(few[i]);
    {
        LogCapture log;
        EXPECT_EQ(PatternFinder::makeThresholdList(img), (std::vector<int>{ 30, 60, 90, 150, 200 }));
        EXPECT_TRUE(log.startingWith("top 20 threshold").isEmpty());
    }

    // 30 levels. 100 and 104 are the two most frequent: only 100 (first in
    // the sorted order) is kept. 150 and 155 are next: 5 apart, both kept.
    auto manyLevels = [](int second) {
        cv::Mat m = whiteImage();
        int row = 0;
        auto put = [&m, &row](int value, int rows) {
            m.rowRange(row, row + rows).setTo(value);
            row += rows;
        };
        put(100, 20);
        put(second, 18);
        put(150, 16);
        put(155, 15);
        for (int v = 10; v < 10 + 26 * 7; v += 7)
            if (v != 101 && v != 150 && v != 157 && v != 94 && v != 108)
                put(v, 2);
        return m;
    };
    LogCapture log;
    const std::vector<int> a = PatternFinder::makeThresholdList(manyLevels(104));
    EXPECT_EQ(log.startingWith("top 20 threshold").size(), 1);
    EXPECT_FALSE(log.startingWith("after step 2:").isEmpty());
    EXPECT_NE(std::find(a.begin(), a.end(), 100), a.end());
    EXPECT_EQ(std::find(a.begin(), a.end(), 104), a.end());
    EXPECT_NE(std::find(a.begin(), a.end(), 150), a.end());
    EXPECT_NE(std::find(a.begin(), a.end(), 155), a.end());
    EXPECT_EQ(a.front(), 100); // most frequent first
    for (size_t i = 0; i < a.size(); ++i)
        for (size_t j = i + 1; j < a.size(); ++j)
            EXPECT_GE(std::abs(a[i] - a[j]), 5);

    const std::vector<int> b = PatternFinder::makeThresholdList(manyLevels(105));
    EXPECT_NE(std::find(b.begin(), b.end(), 100), b.end());
    EXPECT_NE(std::find(b.begin(), b.end(), 105), b.end());

    // Not an 8-bit grey image: no levels.
    EXPECT_TRUE(PatternFinder::makeThresholdList(cv::Mat(720, 1280, CV_8UC3)).empty());
}

TEST(PatternMarkers, ForeignIdsAreIgnoredEvenWhenTheyAreDotIndices)
{
    cv::Mat img = whiteImage();
    const int ids[] = { 0, 3, 5, 9, 20, 7 };
    for (int i = 0; i < 6; ++i)
        drawTag16h5(img, ids[i], cv::Point(60 + i * 200 - 16, 300 - 16), 16);
    // The detector itself sees all six.
    EXPECT_EQ(PatternFinder::detectMarkers(img, -1).size(), 6u);
    EXPECT_TRUE(PatternFinder::detectMarkers(cv::Mat(720, 1280, CV_8UC1, cv::Scalar(0)), 100).empty());

    ScaledFinder f(1.0, 1280, 800);
    cv::Point2f centers[25];
    f.finder.findMarkerCenters(img, centers);
    for (int k = 0; k < 25; ++k) {
        if (k == 7)
            continue;
        EXPECT_TRUE(f.finder.markerList(k).empty()) << k;
        EXPECT_EQ(centers[k], cv::Point2f(0, 0)) << k;
    }
    ASSERT_FALSE(f.finder.markerList(7).empty());
    // Marker 7 at (1060..1155, 300..395): its contour's centroid is its middle.
    EXPECT_NEAR(centers[7].x, 60 + 5 * 200 + 47.5, 1.0);
    EXPECT_NEAR(centers[7].y, 300 + 47.5, 1.0);
    // The contour is the marker's square, not just its four corners.
    EXPECT_GT(f.finder.markerList(7).front().contour.size(), 4u);
}

// The corners of a marker drawn as the window draws it (cells of 10 px,
// square 300..359 x 200..359) and turned by quarter turns: they start at the
// corner the marker's own frame calls top left (for the window's cells the
// bottom right of the square as drawn) and go round clockwise on the image, at
// the square's outermost pixels within a pixel; the raw image and every
// binarised level agree.
TEST(PatternMarkers, CornersStartAtTheMarkersTopLeftAndGoClockwise)
{
    for (int turns = 0; turns < 4; ++turns) {
        cv::Mat img = whiteImage();
        const int m = 10;
        for (int i = 0; i < tl::kMarkerGrid; ++i)
            for (int j = 0; j < tl::kMarkerGrid; ++j) {
                int r = i, c = j;
                for (int q = 0; q < turns; ++q) {
                    const int rr = c, cc = tl::kMarkerGrid - 1 - r;
                    r = rr;
                    c = cc;
                }
                if (tl::markerCellBlack(7, i, j))
                    img(cv::Rect(300 + c * m, 200 + r * m, m, m)).setTo(0);
            }
        // Bottom right, bottom left, top left, top right of the drawn square,
        // then turned with it.
        std::vector<cv::Point2f> expected = { { 359, 259 }, { 300, 259 }, { 300, 200 }, { 359, 200 } };
        std::rotate(expected.begin(), expected.begin() + turns, expected.end());
        for (int t : { -1, 128 }) {
            const std::vector<tl::MarkerDetection> found = PatternFinder::detectMarkers(img, t);
            ASSERT_EQ(found.size(), 1u) << turns << " " << t;
            EXPECT_EQ(found[0].id, 7);
            ASSERT_EQ(found[0].corners.size(), 4u);
            for (int k = 0; k < 4; ++k) {
                EXPECT_NEAR(found[0].corners[k].x, expected[k].x, 1.0) << turns << " " << t << " " << k;
                EXPECT_NEAR(found[0].corners[k].y, expected[k].y, 1.0) << turns << " " << t << " " << k;
            }
            // The middle of the corners is the square's middle to a tenth.
            cv::Point2f mid(0, 0);
            for (const cv::Point2f &c : found[0].corners)
                mid += c * 0.25f;
            EXPECT_NEAR(mid.x, 329.5, 0.6);
            EXPECT_NEAR(mid.y, 229.5, 0.6);
        }
    }
}

// What the detector may report on a bad capture: IDs outside the pattern,
// markers cut by the image edge, two of one marker, corners outside the image
// or not numbers at all. The search takes none of the cut or outside ones,
// reads nothing outside the image, writes nothing into it, and unfound
// markers stay (0, 0).
TEST(PatternMarkers, BadReportsOfTheDetectorFollowTheRulesForUnfoundPoints)
{
    cv::Mat img = whiteImage();
    drawTag16h5(img, 29, cv::Point(40, 40), 12);       // the family's last ID
    drawTag16h5(img, 0, cv::Point(240, 40), 12, 1);
    drawTag16h5(img, 7, cv::Point(-36, 300), 12);      // cut by the left edge
    drawTag16h5(img, 8, cv::Point(1240, 600), 12, 2);  // cut by the right edge
    drawTag16h5(img, 17, cv::Point(600, -50), 12, 3);  // cut by the top edge
    drawTag16h5(img, 12, cv::Point(500, 300), 12);     // twice, 400 px apart
    drawTag16h5(img, 12, cv::Point(900, 300), 12);
    drawTag16h5(img, 13, cv::Point(700, 500), 12, 1);  // whole
    const cv::Mat before = img.clone();

    ScaledFinder f(1.0, 1280, 800);
    cv::Point2f centers[25];
    f.finder.findMarkerCenters(img, centers);
    EXPECT_EQ(cv::norm(img, before, cv::NORM_INF), 0.0);
    // Nor when the quads are fitted after a blur, which the detector does in
    // place; the contours are still traced on the image as it was.
    tl::MarkerDetectorSettings blurred;
    blurred.sigma = 0.8f;
    for (int t : { -1, 128 }) {
        const std::vector<tl::MarkerDetection> seen = PatternFinder::detectMarkers(img, t, blurred);
        EXPECT_EQ(cv::norm(img, before, cv::NORM_INF), 0.0) << t;
        ASSERT_FALSE(seen.empty()) << t;
        for (const tl::MarkerDetection &d : seen)
            EXPECT_GT(d.contour.size(), 4u) << t << " " << d.id;
    }
    for (int k = 0; k < 25; ++k) {
        if (k == 12 || k == 13)
            continue;
        EXPECT_TRUE(f.finder.markerList(k).empty()) << k;
        EXPECT_EQ(centers[k], cv::Point2f(0, 0)) << k;
    }
    // Marker 13's square is 712..783 x 512..583.
    ASSERT_FALSE(f.finder.markerList(13).empty());
    EXPECT_NEAR(centers[13].x, 747.5, 1.0);
    EXPECT_NEAR(centers[13].y, 547.5, 1.0);
    // Both copies of marker 12 are in its list, at every level in the same
    // number; the slot's centre is their robust mean, between the two.
    const std::vector<tl::MarkerDetection> &twelve = f.finder.markerList(12);
    const auto left = std::count_if(twelve.begin(), twelve.end(),
                                    [](const tl::MarkerDetection &d) { return d.corners[0].x < 700; });
    EXPECT_GT(left, 0);
    EXPECT_EQ(2 * left, static_cast<long>(twelve.size()));
    EXPECT_NEAR(centers[12].x, 747.5, 1.0);
    EXPECT_NEAR(centers[12].y, 347.5, 1.0);

    // Reports the detector could give on such an image, fed straight in: a
    // corner beyond each edge, nearer an edge than 3 px, huge, not a number,
    // too few corners; only the whole one is kept, with its square's contour.
    const std::vector<cv::Point2f> whole = { { 783, 512 }, { 712, 512 }, { 712, 583 }, { 783, 583 } };
    auto with = [&](int corner, cv::Point2f p) {
        std::vector<cv::Point2f> c = whole;
        c[corner] = p;
        return tl::MarkerDetection{ 13, c, {} };
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<tl::MarkerDetection> reported = {
        with(0, { -40, 512 }),   with(1, { 712, -0.5f }), with(2, { 1290, 583 }), with(3, { 783, 760 }),
        with(0, { 2.9f, 512 }),  with(1, { 712, 716.1f }), with(2, { 1e30f, 583 }), with(3, { nan, 583 }),
        with(0, { 783, -inf }),  tl::MarkerDetection{ 13, { whole[0], whole[1], whole[2] }, {} },
        tl::MarkerDetection{ 13, whole, {} },
    };
    for (bool binary : { false, true }) {
        cv::Mat work = img.clone();
        if (binary)
            cv::threshold(img, work, 128, 255, cv::THRESH_BINARY);
        const std::vector<tl::MarkerDetection> kept = tl::keptMarkers(work, binary, reported);
        ASSERT_EQ(kept.size(), 1u) << binary;
        EXPECT_EQ(kept[0].corners, whole);
        cv::Point2d c;
        ASSERT_TRUE(PatternFinder::polygonCentroid(kept[0].contour, &c));
        EXPECT_NEAR(c.x, 747.5, 1.0);
        EXPECT_NEAR(c.y, 547.5, 1.0);
        EXPECT_GT(kept[0].contour.size(), 4u);
    }
    // A corner exactly 3 px in from an edge still counts as inside.
    EXPECT_EQ(tl::keptMarkers(img, false, { with(0, { 3, 3 }) }).size(), 1u);
    // Not a capture: nothing.
    EXPECT_TRUE(tl::keptMarkers(cv::Mat(), false, reported).empty());
    EXPECT_TRUE(tl::keptMarkers(cv::Mat(720, 1280, CV_32F), false, reported).empty());
    EXPECT_TRUE(PatternFinder::detectMarkers(cv::Mat(720, 1280, CV_8UC3, cv::Scalar(255, 255, 255)), -1).empty());
}

TEST(PatternDots, CameraBoxBelow24IsRejectedBeforeAnyWindowTest)
{
    // Two blobs whose contours are 23 and 24 pixels wide and equally high, near
    // enough in area that one window scale lets both pass the window's shape
    // test: only the camera box can tell them apart.
    // An elliptic blob of black pixels, `w` wide and 24 high.
    auto blob = [](int w) {
        cv::Mat img = whiteImage();
        const double cx = (w - 1) / 2.0, cy = 23 / 2.0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < w; ++x)
                if ((x - cx) * (x - cx) / (cx * cx) + (y - cy) * (y - cy) / (cy * cy) <= 1.0001)
                    img.at<uchar>(300 + y, 300 + x) = 0;
        return img;
    };
    const int R = 21; // 538 x 336: a 43-px dot
    const double r = (2 * R + 1) / 2.0;
    auto windowShapeOk = [r](const std::vector<cv::Point> &cam, double s) {
        std::vector<cv::Point> win;
        for (const cv::Point &q : cam)
            win.emplace_back(static_cast<int>(std::floor(s * q.x + 0.5)), static_cast<int>(std::floor(s * q.y + 0.5)));
        const cv::Rect b = cv::boundingRect(win);
        const double a = cv::contourArea(win);
        return b.width >= 0.95 * 2 * r && b.width <= 1.15 * 2 * r && b.height >= 0.95 * 2 * r
            && b.height <= 1.15 * 2 * r && a >= 0.9 * CV_PI * r * r && a <= 1.1 * CV_PI * r * r;
    };
    cv::Mat narrow, wide;
    for (int w = 15; w < 30; ++w) {
        const cv::Mat img = blob(w);
        const auto h = holes(img);
        if (h.size() == 1 && cv::boundingRect(h[0]).width == 23)
            narrow = img;
        if (h.size() == 1 && cv::boundingRect(h[0]).width == 24)
            wide = img;
    }
    ASSERT_FALSE(narrow.empty());
    ASSERT_FALSE(wide.empty());
    const auto hn = holes(narrow), hw = holes(wide);
    ASSERT_EQ(hn.size(), 1u);
    ASSERT_EQ(hw.size(), 1u);
    ASSERT_EQ(cv::boundingRect(hn[0]).width, 23);
    ASSERT_EQ(cv::boundingRect(hw[0]).width, 24);
    ASSERT_GE(cv::boundingRect(hn[0]).height, 24);
    ASSERT_GE(cv::boundingRect(hw[0]).height, 24);
    double scale = 0;
    for (double s = 1.5; s < 2.6 && scale == 0; s += 0.01)
        if (windowShapeOk(hn[0], s) && windowShapeOk(hw[0], s))
            scale = s;
    ASSERT_GT(scale, 0) << "no window scale passes both blobs";

    for (const cv::Mat *img : { &narrow, &wide }) {
        ScaledFinder f(scale, 538, 336);
        const cv::Moments m = cv::moments(holes(*img)[0]);
        f.finder.setExpected(0, cv::Point2d(scale * m.m10 / m.m00, scale * m.m01 / m.m00));
        LogCapture log;
        f.finder.recogCircularPattern(*img, 128);
        EXPECT_TRUE(log.contains("diameterNormal = 43"));
        EXPECT_TRUE(log.contains("recogCircularPattern: thr = 128"));
        EXPECT_EQ(f.finder.dotList(0).size(), img == &wide ? 1u : 0u);
        EXPECT_EQ(f.finder.dotCorrectionList(0).size(), img == &wide ? 1u : 0u);
    }
}

TEST(PatternDots, DotAt50PixelsFromEveryExpectedPositionIsDropped)
{
    cv::Mat img = whiteImage();
    cv::circle(img, cv::Point(400, 300), 50, cv::Scalar(0), cv::FILLED);
    const auto h = holes(img);
    ASSERT_EQ(h.size(), 1u);
    const cv::Moments m = cv::moments(h[0]);
    const cv::Point2d c(m.m10 / m.m00, m.m01 / m.m00);

    for (const cv::Point2d &offset : { cv::Point2d(50, 0), cv::Point2d(0, -50), cv::Point2d(49.9, 49.9) }) {
        ScaledFinder f(1.0, 1280, 800); // R = 50
        f.finder.setExpected(0, c + offset);
        f.finder.recogCircularPattern(img, 128);
        const bool inReach = std::fabs(offset.x) < 50 && std::fabs(offset.y) < 50;
        EXPECT_EQ(f.finder.dotList(0).size(), inReach ? 1u : 0u) << offset;
    }
    // A dot near a marker slot's position belongs to no slot.
    ScaledFinder f(1.0, 1280, 800);
    f.finder.setExpected(6, c);
    f.finder.recogCircularPattern(img, 128);
    for (int k = 0; k < 25; ++k)
        EXPECT_TRUE(f.finder.dotList(k).empty());
    // The first dot slot in reach takes it.
    ScaledFinder g(1.0, 1280, 800);
    g.finder.setExpected(4, c);
    g.finder.setExpected(9, c);
    g.finder.recogCircularPattern(img, 128);
    EXPECT_EQ(g.finder.dotList(4).size(), 1u);
    EXPECT_TRUE(g.finder.dotList(9).empty());
}

TEST(PatternMath, RobustMeanAndInverseSearch)
{
    using P = cv::Point2d;
    EXPECT_EQ(PatternFinder::robustMeanPoint({}), P(0, 0));
    // All within 0.1: the plain mean, nothing dropped.
    const P m = PatternFinder::robustMeanPoint({ P(10, 20), P(10.09, 20.05), P(10.03, 20.09) });
    EXPECT_DOUBLE_EQ(m.x, (10 + 10.09 + 10.03) / 3);
    EXPECT_DOUBLE_EQ(m.y, (20 + 20.05 + 20.09) / 3);
    // One far point among ten equal ones is left out.
    std::vector<P> list(10, P(5, 5));
    list.push_back(P(100, 5));
    EXPECT_EQ(PatternFinder::robustMeanPoint(list), P(5, 5));

    // Identity mapping: the search lands on the 0.2-px grid point nearest
    // to the target.
    ScaledFinder f(1.0, 1280, 800);
    double err = -1;
    const P p = f.finder.searchInversePoint(P(100.33, 200.71), P(100, 200), &err);
    EXPECT_NEAR(p.x, 100.4, 1e-6);
    EXPECT_NEAR(p.y, 200.8, 1e-6);
    EXPECT_NEAR(err, 0.07 * 0.07 + 0.09 * 0.09, 1e-9);
    // A target out of reach: the nearest edge of the +-10 px window.
    const P q = f.finder.searchInversePoint(P(150, 200), P(100, 200), &err);
    EXPECT_NEAR(q.x, 109.8, 1e-6);
    EXPECT_GT(err, 1600);
}

TEST(PatternDots, SlotReachGrowsWithTheDisplayBeyond1920x1080)
{
    // The reach stays 50 window px up to 1920 x 1080 and grows with the
    // display beyond it (the projection's error is a share of the display).
    for (const auto &s : { std::make_pair(1280, 800), std::make_pair(1920, 1080), std::make_pair(1024, 768) }) {
        ScaledFinder f(1.0, s.first, s.second);
        EXPECT_DOUBLE_EQ(f.finder.dotSlotReach(), 50.0) << s.first;
    }
    ScaledFinder big(1.0, 3840, 2160);
    EXPECT_DOUBLE_EQ(big.finder.dotSlotReach(), 100.0);

    // A dot whose projection lands 60 window px from its drawn place: dropped
    // at 1920 x 1080, taken at 3840 x 2160 (the same camera dot, the window
    // twice as large).
    cv::Mat img = whiteImage();
    cv::circle(img, cv::Point(400, 300), 50, cv::Scalar(0), cv::FILLED);
    const auto h = holes(img);
    ASSERT_EQ(h.size(), 1u);
    const cv::Moments m = cv::moments(h[0]);
    const cv::Point2d c(m.m10 / m.m00, m.m01 / m.m00);
    struct Case
    {
        int w, h;
        double scale; // window px per camera px: the dot drawn with radius R
        double offset;
        size_t found;
    };
    for (const Case &k : { Case{ 1920, 1080, 1.5, 60, 0 }, Case{ 1920, 1080, 1.5, 45, 1 },
                           Case{ 3840, 2160, 3.0, 60, 1 }, Case{ 3840, 2160, 3.0, 99, 1 },
                           Case{ 3840, 2160, 3.0, 101, 0 } }) {
        ScaledFinder f(k.scale, k.w, k.h);
        f.finder.setExpected(0, k.scale * c + cv::Point2d(-k.offset, k.offset * 0.5));
        f.finder.recogCircularPattern(img, 128);
        EXPECT_EQ(f.finder.dotList(0).size(), k.found) << k.w << " offset " << k.offset;
    }
}

TEST(PatternDots, CameraLimitsFollowADotLargerThanTheyAllow)
{
    // A dot 171 camera px across, drawn with R = 85 on a 2176 x 1360 window
    // seen at one window px per camera px: the fixed 160-px box rejects it;
    // once the limits follow the projection's expected dot, it is found. The
    // limits never shrink below the fixed ones for small dots.
    cv::Mat img = whiteImage();
    cv::circle(img, cv::Point(640, 360), 85, cv::Scalar(0), cv::FILLED);
    const auto h = holes(img);
    ASSERT_EQ(h.size(), 1u);
    ASSERT_GT(cv::boundingRect(h[0]).width, 160);
    ASSERT_GT(cv::contourArea(h[0]), 20000);
    const cv::Moments m = cv::moments(h[0]);
    const cv::Point2d c(m.m10 / m.m00, m.m01 / m.m00);

    ScaledFinder f(1.0, 2176, 1360);
    f.finder.setExpected(0, c);
    f.finder.recogCircularPattern(img, 128);
    EXPECT_TRUE(f.finder.dotList(0).empty());
    f.finder.updateDotLimits();
    EXPECT_GE(f.finder.dotBoxMax(), 171 * 1.2);
    EXPECT_LE(f.finder.dotBoxMax(), 171 * 1.4);
    EXPECT_GE(f.finder.dotAreaMax(), CV_PI * 85 * 85 * 1.3);
    f.finder.recogCircularPattern(img, 128);
    ASSERT_EQ(f.finder.dotList(0).size(), 1u);
    EXPECT_NEAR(f.finder.dotList(0)[0].x, c.x, 0.3);
    EXPECT_NEAR(f.finder.dotList(0)[0].y, c.y, 0.3);

    // Small dots: the fixed limits stay.
    ScaledFinder g(2.0, 1920, 1080); // R = 75, about 38 camera px
    for (int k = 0; k < 20; ++k)
        g.finder.setExpected(k, cv::Point2d(100 + 80 * k, 500));
    g.finder.updateDotLimits();
    EXPECT_EQ(g.finder.dotBoxMax(), 160);
    EXPECT_DOUBLE_EQ(g.finder.dotAreaMax(), 20000);
    // Expected positions the projection cannot carry back (a singular
    // homography) leave the fixed limits.
    ScaledFinder z(0.0, 1920, 1080);
    z.finder.setExpected(0, c);
    z.finder.updateDotLimits();
    EXPECT_EQ(z.finder.dotBoxMax(), 160);
}

TEST(PatternDots, DotPartlyOffTheCameraImageIsNotTakenAndReadsNothingOutside)
{
    // Dots cut by every edge of the camera image, with wide limits: the
    // contour of what is left fails the window's shape test, the slot gets
    // nothing, and nothing is read outside the image.
    for (const cv::Point c : { cv::Point(10, 360), cv::Point(1270, 360), cv::Point(640, 5), cv::Point(640, 715),
                               cv::Point(0, 0), cv::Point(1279, 719) }) {
        cv::Mat img = whiteImage();
        cv::circle(img, c, 80, cv::Scalar(0), cv::FILLED);
        ScaledFinder f(1.0, 2048, 1280); // R = 80
        f.finder.setExpected(0, cv::Point2d(c));
        f.finder.updateDotLimits();
        f.finder.recogCircularPattern(img, 128);
        EXPECT_TRUE(f.finder.dotList(0).empty()) << c;
        cv::Point2f centers[25], corrections[25];
        f.finder.findCircleCenters(img, centers, corrections);
        EXPECT_EQ(centers[0], cv::Point2f(0, 0)) << c;
    }
}
