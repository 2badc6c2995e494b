// The synthetic camera on its own: its ground truth both ways, where the screen
// lies in its image for every lens and mounting, and its photographs.

#include "ExactFit.h"

#include "calibration/CalibWorkspace.h"
#include "resources/Resources.h"
#include "sim/PenLight.h"
#include "sim/SimulatedUser.h"
#include "sim/SyntheticCamera.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <QPainter>

#include <cmath>

namespace tl::sim::test {
namespace {

struct Mounting
{
    bool ceiling;
    bool rear;
};
const Mounting kMountings[] = { { false, false }, { false, true }, { true, false }, { true, true } };

CameraSetup setupFor(int lens, Mounting m, uint64_t seed = 7, int w = 1920, int h = 1080)
{
    CameraSetup s;
    s.displayWidth = w;
    s.displayHeight = h;
    s.lens = lens;
    s.ceiling = m.ceiling;
    s.rear = m.rear;
    s.seed = seed;
    return s;
}

QImage filled(int w, int h, QColor c)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

double meanIn(const cv::Mat &img, cv::Point2d centre, int half)
{
    const cv::Rect r(int(centre.x) - half, int(centre.y) - half, 2 * half + 1, 2 * half + 1);
    return cv::mean(img(r & cv::Rect(0, 0, img.cols, img.rows)))[0];
}

TEST(SyntheticCamera, GroundTruthRoundTripsEverywhereOnTheScreen)
{
    for (int lens = 1; lens <= 3; ++lens)
        for (const Mounting &m : kMountings)
            for (const cv::Size display : { cv::Size(1280, 800), cv::Size(1920, 1080), cv::Size(3840, 2160) }) {
                const SyntheticCamera cam(setupFor(lens, m, 3, display.width, display.height));
                double worst = 0;
                for (int j = 0; j <= 20; ++j)
                    for (int i = 0; i <= 20; ++i) {
                        const cv::Point2d w((display.width - 1) * i / 20.0, (display.height - 1) * j / 20.0);
                        const cv::Point2d c = cam.windowToCamera(w);
                        ASSERT_TRUE(std::isfinite(c.x) && std::isfinite(c.y));
                        const cv::Point2d back = cam.cameraToWindow(c);
                        worst = std::max(worst, std::hypot(back.x - w.x, back.y - w.y));
                    }
                EXPECT_LT(worst, 1e-3) << "lens " << lens << " ceiling " << m.ceiling << " rear " << m.rear
                                       << " display " << display.width;
            }
}

TEST(SyntheticCamera, ScreenFillsMostOfTheImageInsideItsEdges)
{
    for (int lens = 1; lens <= 3; ++lens)
        for (const Mounting &m : kMountings)
            for (uint64_t seed : { 1, 2, 3 }) {
                const SyntheticCamera cam(setupFor(lens, m, seed));
                EXPECT_GE(cam.screenFill(), 0.60) << "lens " << lens << " seed " << seed;
                EXPECT_LE(cam.screenFill(), 0.80) << "lens " << lens << " seed " << seed;
                // Every window corner is seen inside the image.
                for (const cv::Point2d w : { cv::Point2d(0, 0), cv::Point2d(1919, 0), cv::Point2d(0, 1079),
                                             cv::Point2d(1919, 1079) }) {
                    const cv::Point2d c = cam.windowToCamera(w);
                    EXPECT_GT(c.x, 0);
                    EXPECT_GT(c.y, 0);
                    EXPECT_LT(c.x, SyntheticCamera::kWidth - 1);
                    EXPECT_LT(c.y, SyntheticCamera::kHeight - 1);
                }
                // The lens is not the driver's model: it bends straight window
                // lines (the rows a quarter from the top and the bottom: the
                // middle row may pass through the lens's centre, which bends
                // no line through it).
                for (const double y : { 270.0, 810.0 }) {
                    const cv::Point2d a = cam.windowToCamera({ 0, y });
                    const cv::Point2d b = cam.windowToCamera({ 1919, y });
                    const cv::Point2d mid = cam.windowToCamera({ 959.5, y });
                    const double offLine = std::fabs((b.x - a.x) * (mid.y - a.y) - (b.y - a.y) * (mid.x - a.x)) /
                                           std::hypot(b.x - a.x, b.y - a.y);
                    EXPECT_GT(offLine, 0.5) << "lens " << lens << " row " << y;
                }
            }
}

TEST(SyntheticCamera, CeilingTurnsAndRearMirrorsTheView)
{
    for (int lens = 1; lens <= 3; ++lens) {
        const SyntheticCamera plain(setupFor(lens, { false, false }));
        const SyntheticCamera ceiling(setupFor(lens, { true, false }));
        const SyntheticCamera rear(setupFor(lens, { false, true }));
        const SyntheticCamera both(setupFor(lens, { true, true }));
        const cv::Point2d tl(100, 100), tr(1819, 100), bl(100, 979);
        // Upright: the window's top left is seen left of its top right and above its bottom left.
        EXPECT_LT(plain.windowToCamera(tl).x, plain.windowToCamera(tr).x);
        EXPECT_LT(plain.windowToCamera(tl).y, plain.windowToCamera(bl).y);
        // Ceiling: turned by 180 degrees.
        EXPECT_GT(ceiling.windowToCamera(tl).x, ceiling.windowToCamera(tr).x);
        EXPECT_GT(ceiling.windowToCamera(tl).y, ceiling.windowToCamera(bl).y);
        // Rear: mirrored left to right, not turned.
        EXPECT_GT(rear.windowToCamera(tl).x, rear.windowToCamera(tr).x);
        EXPECT_LT(rear.windowToCamera(tl).y, rear.windowToCamera(bl).y);
        // Both: upside down, not mirrored.
        EXPECT_LT(both.windowToCamera(tl).x, both.windowToCamera(tr).x);
        EXPECT_GT(both.windowToCamera(tl).y, both.windowToCamera(bl).y);
        // The same camera otherwise: a mounting only relabels the window.
        const cv::Point2d w(300, 200);
        const cv::Point2d c = plain.windowToCamera(w);
        const cv::Point2d cc = ceiling.windowToCamera({ 1919 - w.x, 1079 - w.y });
        const cv::Point2d cr = rear.windowToCamera({ 1919 - w.x, w.y });
        EXPECT_NEAR(c.x, cc.x, 1e-9);
        EXPECT_NEAR(c.y, cc.y, 1e-9);
        EXPECT_NEAR(c.x, cr.x, 1e-9);
        EXPECT_NEAR(c.y, cr.y, 1e-9);
    }
}

TEST(SyntheticCamera, LevelsOfBlackAndWhiteDisplays)
{
    SyntheticCamera cam(setupFor(2, { false, false }));
    const cv::Point2d centre = cam.windowToCamera({ 959.5, 539.5 });
    const cv::Mat black = cam.capture(filled(1920, 1080, Qt::black));
    const cv::Mat white = cam.capture(filled(1920, 1080, Qt::white));
    ASSERT_EQ(black.size(), cv::Size(1280, 720));
    ASSERT_EQ(black.type(), CV_8UC1);
    EXPECT_NEAR(meanIn(black, centre, 10), cam.expectedLevel(centre, 0.0), 1.0);
    EXPECT_NEAR(meanIn(white, centre, 10), cam.expectedLevel(centre, 1.0), 1.5);
    EXPECT_GT(cam.expectedLevel(centre, 0.0), cam.blackLevel());
    EXPECT_LT(cam.expectedLevel(centre, 0.0), cam.blackLevel() + 30);
    EXPECT_GT(cam.whiteLevel(), 150);
    double maxWhite = 0;
    cv::minMaxLoc(white, nullptr, &maxWhite);
    EXPECT_LT(maxWhite, 250);   // below full scale: no clipping of the white screen
    // Off the screen the camera sees only the ambient light of the wall.
    EXPECT_LT(meanIn(white, { 5, 715 }, 3), cam.blackLevel() + 30);
    // Vignetting: the white screen is darker at its corners than at its centre.
    const cv::Point2d corner = cam.windowToCamera({ 40, 1040 });
    EXPECT_LT(meanIn(white, corner, 3) + 10, meanIn(white, centre, 3));
    // A frame at a quarter of the unity gain: the signal above black drops to a quarter.
    const cv::Mat frame = cam.frame(filled(1920, 1080, Qt::white), SyntheticCamera::kUnityGain / 4);
    ASSERT_EQ(frame.size(), cv::Size(640, 360));
    const double expect = cam.blackLevel() + (cam.expectedLevel(centre, 1.0) - cam.blackLevel()) / 4;
    EXPECT_NEAR(meanIn(frame, centre / 2, 5), expect, 2.0);
}

TEST(SyntheticCamera, PictureOfAnotherSizeIsScaledToTheDisplay)
{
    // A grab at half the display's size shows the same board: the same photograph
    // up to the detail the smaller picture lacks.
    CameraSetup s = setupFor(1, { false, false }, 2);
    s.noise = 0;
    SyntheticCamera cam(s);
    auto board = [](int w, int h) {
        QImage img = filled(w, h, Qt::white);
        QPainter p(&img);
        p.fillRect(QRectF(w * 0.25, h * 0.25, w * 0.25, h * 0.5), Qt::black);
        return img;
    };
    const cv::Mat full = cam.capture(board(1920, 1080));
    const cv::Mat half = cam.capture(board(960, 540));
    cv::Mat diff;
    cv::absdiff(full, half, diff);
    EXPECT_LT(cv::mean(diff)[0], 1.0);
    const cv::Point2d inside = cam.windowToCamera({ 700, 540 });   // in the black box
    EXPECT_LT(meanIn(half, inside, 3), cam.expectedLevel(inside, 0.0) + 3);
    // The person reads the mark of a half-size picture in the picture's own pixels.
    QImage mark = filled(960, 540, Qt::black);
    {
        QPainter p(&mark);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(235, 40, 40));
        p.drawEllipse(QPointF(300.5, 200.5), 5.0, 5.0);
    }
    const auto found = findTargetMark(mark);
    ASSERT_TRUE(found.has_value());
    EXPECT_NEAR(found->x, 300, 0.05);
    EXPECT_NEAR(found->y, 200, 0.05);
}

TEST(SyntheticCamera, NoiseFollowsTheSeed)
{
    const QImage grey = filled(1920, 1080, QColor(128, 128, 128));
    SyntheticCamera a(setupFor(1, { false, false }, 11));
    SyntheticCamera b(setupFor(1, { false, false }, 11));
    const cv::Mat a1 = a.capture(grey), a2 = a.capture(grey);
    const cv::Mat b1 = b.capture(grey), b2 = b.capture(grey);
    EXPECT_EQ(cv::norm(a1, b1, cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(a2, b2, cv::NORM_INF), 0.0);
    EXPECT_GT(cv::norm(a1, a2, cv::NORM_L1), 0.0);   // each shot has its own noise
    CameraSetup quiet = setupFor(1, { false, false }, 11);
    quiet.noise = 0;
    SyntheticCamera q1(quiet), q2(quiet);
    EXPECT_EQ(cv::norm(q1.capture(grey), q2.capture(grey), cv::NORM_INF), 0.0);
    // The noise has about the size it should: read noise plus shot noise.
    cv::Mat diff;
    cv::subtract(a1, a2, diff, cv::noArray(), CV_32F);
    cv::Scalar mean, sd;
    const cv::Point2d c = a.windowToCamera({ 960, 540 });
    cv::meanStdDev(diff(cv::Rect(int(c.x) - 40, int(c.y) - 40, 80, 80)), mean, sd);
    EXPECT_GT(sd[0], 0.8);
    EXPECT_LT(sd[0], 6.0);
}

TEST(SyntheticCamera, SmallDotsAreSeenWhereTheGroundTruthPutsThem)
{
    // A black disc on white, drawn by the host's painter, is photographed at
    // the camera point the ground truth gives for its centre (within the lens's
    // bending over the disc), and its darkness does not depend on the sampling.
    for (int lens = 1; lens <= 3; ++lens) {
        CameraSetup s = setupFor(lens, { false, false }, 5);
        s.noise = 0;
        SyntheticCamera cam(s);
        QImage img = filled(1920, 1080, Qt::white);
        const QPointF centre(700.0, 400.0);
        {
            QPainter p(&img);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::black);
            p.drawEllipse(centre, 12.0, 12.0);
        }
        const cv::Mat shot = cam.capture(img);
        const cv::Point2d expect = cam.windowToCamera({ centre.x() - 0.5, centre.y() - 0.5 });
        const cv::Rect roi(int(expect.x) - 15, int(expect.y) - 15, 31, 31);
        cv::Mat dark;
        shot(roi).convertTo(dark, CV_64F);
        const double white = cam.expectedLevel(expect, 1.0);
        dark = cv::max(white - dark, 0.0);
        const cv::Moments mo = cv::moments(dark);
        ASSERT_GT(mo.m00, 0);
        const cv::Point2d found(roi.x + mo.m10 / mo.m00, roi.y + mo.m01 / mo.m00);
        EXPECT_NEAR(found.x, expect.x, 0.15) << "lens " << lens;
        EXPECT_NEAR(found.y, expect.y, 0.15) << "lens " << lens;
    }
}

} // namespace
} // namespace tl::sim::test

namespace tl::sim::test {
namespace {

// The manual calibration window as the host draws it: the background image
// scaled to the window and the 113-px mark label centred on the target, here
// with arcs of the ring animation drawn over the mark's ring.
QImage manualWindow(cv::Point2d target, int w, int h, int arcs)
{
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    p.drawImage(QRect(0, 0, w, h), QImage(":/Corvane/irpen"));
    const QPoint topLeft(int(std::floor(target.x - 56 + 0.5)), int(std::floor(target.y - 56 + 0.5)));
    p.drawImage(QRect(topLeft, QSize(113, 113)), QImage(":/Corvane/pen1"));
    p.setRenderHint(QPainter::Antialiasing);
    const QColor colours[3] = { QColor(230, 30, 30), QColor(40, 90, 230), QColor(250, 250, 250) };
    for (int i = 0; i < arcs; ++i) {
        p.setPen(QPen(colours[i], 5));
        p.drawArc(QRectF(topLeft.x() + 6 + 6 * i, topLeft.y() + 6 + 6 * i, 100 - 12 * i, 100 - 12 * i),
                  90 * 16, -120 * 16);
    }
    return img;
}

// The pen's light is off the screen plane: the camera sees it displaced from
// the point its tip touches, by the identified light of its lens family and
// pen type. That displacement is what the product's tweak tables hold: it
// explains most of each table (what it leaves is the table's own scatter),
// and, being a share of the display, it is the same in camera pixels at every
// resolution. A pen type outside 0..1 glows on the screen plane.
// A projector's camera looks the way the projector throws: the top of its
// picture shows the screen's far edge, in every mounting. The window draws
// its larger dots in the pattern row the camera sees at the top; that row is
// seen smaller than the row at the bottom of the picture, whose elements
// are the nearest.
TEST(SyntheticCamera, TopOfThePictureIsTheFarEdge)
{
    for (int lens = 1; lens <= 3; ++lens)
        for (const Mounting &m : kMountings)
            for (uint64_t seed : { 1, 2, 3, 4 }) {
                SCOPED_TRACE("lens " + std::to_string(lens) + " ceiling " + std::to_string(m.ceiling) + " rear "
                             + std::to_string(m.rear) + " seed " + std::to_string(seed));
                const SyntheticCamera cam(setupFor(lens, m, seed));
                // A 40 x 40 window square round a point of the window's top and
                // bottom pattern rows, seen as a camera area.
                auto seenArea = [&cam](cv::Point2d w) {
                    const cv::Point2d a = cam.windowToCamera(w + cv::Point2d(-20, -20));
                    const cv::Point2d b = cam.windowToCamera(w + cv::Point2d(20, -20));
                    const cv::Point2d c = cam.windowToCamera(w + cv::Point2d(20, 20));
                    const cv::Point2d d = cam.windowToCamera(w + cv::Point2d(-20, 20));
                    return 0.5 * std::fabs((c - a).cross(d - b));
                };
                for (const double x : { 105.0, 959.0, 1814.0 }) {
                    const cv::Point2d top(x, 105), bottom(x, 974);
                    const bool topSeenAbove = cam.windowToCamera(top).y < cam.windowToCamera(bottom).y;
                    EXPECT_EQ(topSeenAbove, !m.ceiling);
                    const double above = seenArea(topSeenAbove ? top : bottom);
                    const double below = seenArea(topSeenAbove ? bottom : top);
                    EXPECT_LT(above, 0.9 * below) << "x " << x;
                }
            }
}

TEST(SyntheticCamera, PenLightIsSeenWhereTheProductsTablesPutThePen)
{
    struct Family
    {
        int lens;
        int tableLens; // the lens code the host chooses the table by
    };
    for (const Family f : { Family{ 1, 1 }, Family{ 2, 2 }, Family{ 3, 3 } }) {
        for (int pen = 0; pen < kPenTypes; ++pen) {
            tl::resetCalibWorkspace();
            tl::setCalibPointCounts(f.tableLens);
            const cv::Point2f none[25] = {};
            tl::setCalibInformation(none, 0, 0, 0, 1920, 1080, f.tableLens, 10, pen);
            const tl::CalibWorkspace &ws = tl::calibWorkspace();
            for (const uint64_t seed : { 1u, 5u, 11u }) {
                SCOPED_TRACE("lens " + std::to_string(f.lens) + " pen " + std::to_string(pen) + " seed "
                             + std::to_string(seed));
                const SyntheticCamera cam(setupFor(f.lens, { false, false }, seed));
                const std::vector<cv::Point2d> pts = autoPatternPoints(1920, 1080);
                double left = 0, table = 0;
                for (size_t k = 0; k < pts.size(); ++k) {
                    const cv::Point2d d = cam.penToCamera(pts[k], pen) - cam.windowToCamera(pts[k]);
                    const cv::Point2d t(ws.ac_tweak[k].x, ws.ac_tweak[k].y);
                    left += (d - t).dot(d - t);
                    table += t.dot(t);
                }
                EXPECT_LT(std::sqrt(left / pts.size()), 1.3);
                EXPECT_LT(left, 0.6 * table);

                // The same offset at other displays (the same seed's pose).
                for (const cv::Size size : { cv::Size(1280, 800), cv::Size(3840, 2160) }) {
                    const SyntheticCamera other(setupFor(f.lens, { false, false }, seed, size.width, size.height));
                    for (const double u : { 0.2, 0.5, 0.8 }) {
                        const cv::Point2d a(u * 1919, 0.6 * 1079), b(u * (size.width - 1), 0.6 * (size.height - 1));
                        const cv::Point2d da = cam.penToCamera(a, pen) - cam.windowToCamera(a);
                        const cv::Point2d db = other.penToCamera(b, pen) - other.windowToCamera(b);
                        EXPECT_LT(cv::norm(da - db), 0.25) << size.width << " u " << u;
                    }
                }
            }
        }
    }
    // Pen types outside 0..1, and no light: on the screen plane.
    const SyntheticCamera cam(setupFor(2, { true, true }, 3));
    for (const cv::Point2d w : { cv::Point2d(0, 0), cv::Point2d(960, 540), cv::Point2d(1919, 1079) }) {
        const cv::Point2d c = cam.windowToCamera(w);
        for (const int pen : { -1, 2, 255 }) {
            EXPECT_EQ(cam.penToCamera(w, pen), c);
        }
        EXPECT_EQ(cam.lightToCamera(w, PenLight{}), c);
        // Mounted or not, a real pen is displaced.
        EXPECT_GT(cv::norm(cam.penToCamera(w, 0) - c), 0.2);
    }
    // Far off the screen, behind the camera's plane: no number, no crash.
    const cv::Point2d far = cam.penToCamera(cv::Point2d(1e12, -1e12), 0);
    EXPECT_TRUE(!std::isfinite(far.x) || std::fabs(far.x) > 1e3);
}

// What the pen's light leaves of the product's tables counts where the pointer
// lands: on the screen. Through each camera's own scale there (a camera pixel
// at the far edge of a wide lens's view spans several window pixels), the
// light explains most of every table at the points the tables were measured
// at, for every family and pen type, and the most at the widest lens.
TEST(SyntheticCamera, PenLightLeavesLittleOfTheTablesOnTheScreen)
{
    for (const int lens : { 1, 2, 3 }) {
        for (int pen = 0; pen < kPenTypes; ++pen) {
            tl::resetCalibWorkspace();
            tl::setCalibPointCounts(lens);
            const cv::Point2f none[25] = {};
            tl::setCalibInformation(none, 0, 0, 0, 1920, 1080, lens, 10, pen);
            const tl::CalibWorkspace &ws = tl::calibWorkspace();
            double left = 0, table = 0, largest = 0;
            int n = 0;
            for (const uint64_t seed : { 1u, 5u, 11u }) {
                const SyntheticCamera cam(setupFor(lens, { false, false }, seed));
                const std::vector<cv::Point2d> pts = autoPatternPoints(1920, 1080);
                for (size_t k = 0; k < pts.size(); ++k, ++n) {
                    const cv::Point2d dx = cam.windowToCamera(pts[k] + cv::Point2d(0.5, 0))
                        - cam.windowToCamera(pts[k] - cv::Point2d(0.5, 0));
                    const cv::Point2d dy = cam.windowToCamera(pts[k] + cv::Point2d(0, 0.5))
                        - cam.windowToCamera(pts[k] - cv::Point2d(0, 0.5));
                    const cv::Matx22d toWindow = cv::Matx22d(dx.x, dy.x, dx.y, dy.y).inv();
                    const cv::Point2d d = cam.penToCamera(pts[k], pen) - cam.windowToCamera(pts[k]);
                    const cv::Point2d t(ws.ac_tweak[k].x, ws.ac_tweak[k].y);
                    const cv::Vec2d miss = toWindow * cv::Vec2d(d.x - t.x, d.y - t.y);
                    const cv::Vec2d size = toWindow * cv::Vec2d(t.x, t.y);
                    left += miss.dot(miss);
                    table += size.dot(size);
                    largest = std::max(largest, std::sqrt(miss.dot(miss)));
                }
            }
            SCOPED_TRACE("lens " + std::to_string(lens) + " pen " + std::to_string(pen));
            EXPECT_LT(std::sqrt(left / table), 0.52) << std::sqrt(left / n) << " of " << std::sqrt(table / n);
            EXPECT_LT(largest, 5.0);
        }
    }
}

TEST(SimulatedUser, FindsTheMarkOfTheCalibrationWindow)
{
    initResources();
    ASSERT_FALSE(QImage(":/Corvane/pen1").isNull());
    for (const cv::Point2d target : { cv::Point2d(105, 105), cv::Point2d(1814, 974), cv::Point2d(674.67, 394.33) })
        for (int arcs = 0; arcs <= 3; ++arcs) {
            const auto mark = findTargetMark(manualWindow(target, 1920, 1080, arcs));
            ASSERT_TRUE(mark.has_value()) << target << " arcs " << arcs;
            // The label sits at whole pixels: its centre is the rounded target.
            EXPECT_NEAR(mark->x, std::floor(target.x + 0.5), 0.1) << target << " arcs " << arcs;
            EXPECT_NEAR(mark->y, std::floor(target.y + 0.5), 0.1) << target << " arcs " << arcs;
        }
    // No mark: the background alone shows nothing to touch.
    QImage bare(1920, 1080, QImage::Format_RGB32);
    {
        QPainter p(&bare);
        p.drawImage(QRect(0, 0, 1920, 1080), QImage(":/Corvane/irpen"));
    }
    EXPECT_FALSE(findTargetMark(bare).has_value());
    EXPECT_FALSE(findTargetMark(QImage()).has_value());
}

// The rings the calibration window draws round its 113-pixel mark while it
// takes a touch: red arcs on three circles, growing in steps of 36 degrees.
void drawTouchRings(QImage &img, cv::Point2d target, int degrees)
{
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(255, 0, 0), 7));
    const QPointF topLeft(std::floor(target.x - 56 + 0.5), std::floor(target.y - 56 + 0.5));
    for (const QRectF &r : { QRectF(19, 19, 74.5, 74.5), QRectF(31, 31, 51, 51), QRectF(43.2, 43.2, 26, 26) })
        p.drawArc(r.translated(topLeft), 0, degrees * 16);
}

TEST(SimulatedUser, SeesTheRingDrawnRoundTheMark)
{
    initResources();
    for (const cv::Point2d target : { cv::Point2d(105, 105), cv::Point2d(1814, 974), cv::Point2d(960, 540) }) {
        QImage img = manualWindow(target, 1920, 1080, 0);
        const cv::Point2d at = *findTargetMark(img);
        // The mark alone: its red dot is no ring.
        EXPECT_FALSE(markRingShown(img, at)) << target;
        // The ring's first step already shows, and so does the whole ring.
        for (const int degrees : { 36, 180, 396 }) {
            QImage ringed = img.copy();
            drawTouchRings(ringed, target, degrees);
            EXPECT_TRUE(markRingShown(ringed, at)) << target << " " << degrees;
            // Only round the mark it is drawn on: another place shows none.
            EXPECT_FALSE(markRingShown(ringed, cv::Point2d(at.x + 300 < 1900 ? at.x + 300 : at.x - 300, at.y)))
                << target;
        }
    }
    EXPECT_FALSE(markRingShown(QImage(), cv::Point2d(10, 10)));
}

} // namespace
} // namespace tl::sim::test
