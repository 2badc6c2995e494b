// The camera-to-window model, its inverse, the fitter's iteration and the
// homography solver.

#include "tests/support/LogCapture.h"

#include "calibration/Calibration.h"
#include "calibration/CalibModel.h"
#include "calibration/WideCalibration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using tl::test::LogCapture;

using namespace tl;

namespace {

// Identity projective part with the distortion centre and k1..k3 given.
void identityWith(double *tp, double cx, double cy, double k1 = 0, double k2 = 0, double k3 = 0)
{
    const double v[13] = { 1, 0, 0, 0, 1, 0, 0, 0, cx, cy, k1, k2, k3 };
    std::copy(v, v + 13, tp);
}

// A tilted projective part (a projector view seen from above) with the lens
// preset of `lens` as distortion.
void tiltedWithLens(double *tp, int lens, int fwParam = 15)
{
    const double v[8] = { 2.28, 0.31, -420.0, 0.02, 2.61, -250.0, 1.1e-5, 2.2e-4 };
    std::copy(v, v + 8, tp);
    WideCalibration::predefinedLens(lens, fwParam, tp + 8);
}

} // namespace

TEST(Model, IdentityParametersMapEveryCameraPointToItself)
{
    double tp[13];
    for (const auto &centre : { cv::Point2d(640, 360), cv::Point2d(640, 480), cv::Point2d(612.0396, 325.86) }) {
        identityWith(tp, centre.x, centre.y);
        WideCalibration wide(tp);
        for (int y = 0; y <= 720; y += 24) {
            for (int x = 0; x <= 1280; x += 32) {
                const cv::Point2d w = wide.forwardMap(cv::Point2d(x, y));
                ASSERT_NEAR(w.x, x, 1e-9) << x << "," << y << " centre " << centre.x;
                ASSERT_NEAR(w.y, y, 1e-9) << x << "," << y << " centre " << centre.x;
            }
        }
        // Sub-pixel points too.
        const cv::Point2d w = wide.forwardMap(cv::Point2d(100.375, 700.8125));
        EXPECT_NEAR(w.x, 100.375, 1e-9);
        EXPECT_NEAR(w.y, 700.8125, 1e-9);
    }
}

TEST(Model, DistortionCentreDoesNotMove)
{
    for (int lens : { 1, 2, 3, 4 }) {
        for (int fw : { 0, 15 }) {
            WideCalibration wide;
            wide.setPredefinedLens(lens, fw);
            const double *tp = wide.parameters();
            const cv::Point2d c(tp[8], tp[9]);
            const cv::Point2d uv = wide.radialCorrection(c);
            EXPECT_EQ(uv.x, c.x) << "lens " << lens;
            EXPECT_EQ(uv.y, c.y) << "lens " << lens;
            // Every other point moves outwards along its ray (k1 > 0 for all
            // presets): the correction is radial.
            const cv::Point2d p(c.x + 300, c.y - 200);
            const cv::Point2d q = wide.radialCorrection(p);
            EXPECT_GT(q.x - c.x, 300.0);
            EXPECT_NEAR((q.y - c.y) / (q.x - c.x), -200.0 / 300.0, 1e-12);
        }
    }
}

TEST(Model, LensPresetsFollowLensCodeAndFirmware)
{
    double p[5];
    WideCalibration::predefinedLens(3, 10, p);
    EXPECT_DOUBLE_EQ(p[0], 617.2931);
    EXPECT_DOUBLE_EQ(p[4], 9.205437e-18);
    WideCalibration::predefinedLens(3, 9, p);
    EXPECT_DOUBLE_EQ(p[0], 612.0396);
    EXPECT_DOUBLE_EQ(p[2], 1.357969e-06);
    double p2[5], p4[5];
    WideCalibration::predefinedLens(2, 0, p2);
    WideCalibration::predefinedLens(4, 0, p4);
    EXPECT_TRUE(std::equal(p2, p2 + 5, p4));
    EXPECT_DOUBLE_EQ(p2[1], 330.0687);
    WideCalibration::predefinedLens(1, 0, p);
    EXPECT_DOUBLE_EQ(p[0], 682.6771);
    EXPECT_DOUBLE_EQ(p[4], -1.078467e-19);
    for (int other : { 0, 5, -1 }) {
        WideCalibration::predefinedLens(other, 15, p);
        EXPECT_EQ(p[0], 640);
        EXPECT_EQ(p[1], 360);
        EXPECT_EQ(p[2], 0);
        EXPECT_EQ(p[3], 0);
        EXPECT_EQ(p[4], 0);
    }
    // Only the distortion part is touched.
    WideCalibration wide;
    double tp[13] = { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13 };
    wide.setParameters(tp);
    wide.setPredefinedLens(2, 0);
    wide.getParameters(tp);
    EXPECT_EQ(tp[7], 8);
    EXPECT_EQ(tp[8], 619.8648);
}

TEST(Model, InverseUndoesForwardOverTheCameraImage)
{
    double tp[13];
    for (int lens : { 0, 1, 2, 3 }) {
        tiltedWithLens(tp, lens);
        double worst = 0;
        for (int y = 0; y <= 720; y += 40) {
            for (int x = 0; x <= 1280; x += 40) {
                const ModelPoint w = cameraToWindow(tp, x, y);
                ModelPoint back;
                ASSERT_TRUE(windowToCamera(tp, w.x, w.y, &back)) << lens << ": " << x << "," << y;
                worst = std::max({ worst, std::fabs(back.x - x), std::fabs(back.y - y) });
            }
        }
        EXPECT_LT(worst, 1e-8) << "lens " << lens;
    }
}

TEST(Model, InverseRefusesWhatHasNoCameraPoint)
{
    ModelPoint cam;
    double tp[13];
    tiltedWithLens(tp, 2);
    EXPECT_FALSE(windowToCamera(tp, std::numeric_limits<double>::quiet_NaN(), 10, &cam));
    EXPECT_FALSE(windowToCamera(tp, std::numeric_limits<double>::infinity(), 10, &cam));
    // Window x = 1000 is the image of the camera plane's line at infinity
    // when the denominator is 1 + 0.001 u.
    double horizon[13] = { 1, 0, 0, 0, 1, 0, 0.001, 0, 640, 360, 0, 0, 0 };
    EXPECT_FALSE(windowToCamera(horizon, 1000, 5, &cam));
    EXPECT_TRUE(windowToCamera(horizon, 500, 5, &cam));
    EXPECT_NEAR(cam.x, 1000, 1e-9);
    // A singular projective part.
    double flat[13] = { 1, 2, 0, 2, 4, 0, 0, 0, 640, 360, 0, 0, 0 };
    EXPECT_FALSE(windowToCamera(flat, 100, 100, &cam));
    // A distortion that turns over (r f(r) falls beyond some radius) cannot be
    // undone for a radius it never reaches.
    double turning[13];
    identityWith(turning, 640, 360, -1e-6);
    EXPECT_FALSE(windowToCamera(turning, 640 + 2000, 360, &cam));
    EXPECT_TRUE(windowToCamera(turning, 640 + 200, 360, &cam));
    EXPECT_NEAR(cameraToWindow(turning, cam.x, cam.y).x, 840, 1e-9);
}

TEST(WideCalibrationFit, RoundsCorrectedPointsToSinglePrecisionInsideTheFitOnly)
{
    // A large scale makes the single-precision rounding of u visible: u =
    // 1000.00003 is held as 1000.0000610 in a float, which is 0.31 window
    // pixels at 10,000 window pixels per camera pixel.
    double tp[13] = { 1e4, 0, 0, 0, 1e4, 0, 0, 0, 640, 360, 0, 0, 0 };
    WideCalibration wide(tp);
    const cv::Point2d cam(1000.00003, 500.0);
    const cv::Point2d exact = wide.forwardMap(cam);
    EXPECT_NEAR(exact.x, 1e4 * 1000.00003, 1e-6);

    const cv::Point2d win = exact;
    wide.setPoints(1, &cam, &win);
    LogCapture log;
    wide.CalibrationWide(0);
    const QStringList sse = log.startingWith("sse = ");
    ASSERT_FALSE(sse.isEmpty());
    const double first = sse.first().mid(6).toDouble();
    const double expected = std::pow(1e4 * (double(float(1000.00003)) - 1000.00003), 2);
    EXPECT_NEAR(first, expected, 1e-6);
    EXPECT_GT(first, 0.05);
}

TEST(WideCalibrationFit, ExactDataFromTheStartValuesStaysExact)
{
    // Camera points on integer pixels, targets equal to the model's own values:
    // the first sse is exactly zero, no step can lower it, and the loop ends
    // by raising the damping past its limit (eleven rejected trials).
    double tp[13];
    identityWith(tp, 640, 480);
    cv::Point2d cam[12], win[12];
    for (int i = 0; i < 12; ++i) {
        cam[i] = cv::Point2d(100 + 90 * (i % 4), 120 + 150 * (i / 4));
        win[i] = cam[i];
    }
    WideCalibration wide(tp);
    wide.setPoints(12, cam, win);
    LogCapture log;
    wide.CalibrationWide(0);
    EXPECT_EQ(wide.sse(), 0.0);
    EXPECT_EQ(wide.loopCount(), 0);
    EXPECT_EQ(log.startingWith("raise lambda").size(), 11);
    EXPECT_TRUE(log.hasLine("sse = 0.000000"));
    EXPECT_TRUE(log.hasLine("CalibrationWide()"));
    EXPECT_TRUE(log.hasLine("m_tp ="));
    EXPECT_TRUE(log.hasLine("1.000000e+00, 0.000000e+00, 0.000000e+00"));
    EXPECT_TRUE(log.hasLine("6.400000e+02, 4.800000e+02"));
    EXPECT_TRUE(log.hasLine("        m_tp[ 0] = 1.000000e+00;"));
    EXPECT_TRUE(log.hasLine("        m_tp[ 9] = 4.800000e+02;"));
    EXPECT_TRUE(log.hasLine("        m_tp[12] = 0.000000e+00;"));
}

TEST(WideCalibrationFit, ConvergesFromIdentityToATiltedDistortedView)
{
    double truth[13];
    tiltedWithLens(truth, 1);
    cv::Point2d cam[20], win[20];
    for (int i = 0; i < 20; ++i) {
        cam[i] = cv::Point2d(250 + 190 * (i % 5), 150 + 140 * (i / 5));
        const ModelPoint w = cameraToWindow(truth, cam[i].x, cam[i].y);
        win[i] = cv::Point2d(w.x, w.y);
    }
    double start[13];
    identityWith(start, 640, 480);
    WideCalibration wide(start);
    wide.setPoints(20, cam, win);
    LogCapture log;
    wide.CalibrationMain(0);
    EXPECT_TRUE(log.hasLine("CalibrationMain() 0"));
    EXPECT_LT(wide.sse(), 1e-4);
    EXPECT_GT(wide.loopCount(), 0);
    EXPECT_LE(wide.loopCount(), 4096);
    // Every logged loop line has the documented form.
    const QStringList loops = log.startingWith("loop = ");
    ASSERT_EQ(loops.size(), wide.loopCount());
    EXPECT_TRUE(loops.first().startsWith("loop = 0, sse = "));
}

TEST(Homography, RecoversAKnownHomography)
{
    const double H[9] = { 1.7, 0.12, -300, -0.05, 1.9, -120, 2e-5, 1.5e-4, 1 };
    auto map = [&](double x, double y) {
        const double w = H[6] * x + H[7] * y + H[8];
        return cv::Point2d((H[0] * x + H[1] * y + H[2]) / w, (H[3] * x + H[4] * y + H[5]) / w);
    };
    // Corners of the marker block first, so that any first four are in
    // general position.
    const cv::Point2d points[9] = { { 300, 200 }, { 900, 215 }, { 880, 600 }, { 320, 620 }, { 600, 410 },
                                    { 610, 205 }, { 890, 405 }, { 600, 610 }, { 310, 400 } };
    for (int n : { 4, 6, 9 }) {
        Calibration calib;
        for (int i = 0; i < n; ++i) {
            const cv::Point2d c = points[i];
            const cv::Point2d w = map(c.x, c.y);
            ASSERT_TRUE(calib.addPoint(float(c.x), float(c.y), float(w.x), float(w.y)));
        }
        LogCapture log;
        calib.CalibrationMain();
        EXPECT_EQ(log.lines().value(0), "Calibration::CalibrationMain() - 1");
        EXPECT_EQ(log.lines().value(1), "Calibration::CalibrationMain()");
        EXPECT_EQ(log.lines().size(), 5);
        // Predicts points it was not given, to float precision of the input.
        for (const cv::Point2d c : { cv::Point2d(640, 360), cv::Point2d(1000, 650), cv::Point2d(310, 190) }) {
            const cv::Point2d p = calib.CalcNewPoint(c.x, c.y);
            const cv::Point2d t = map(c.x, c.y);
            EXPECT_NEAR(p.x, t.x, 0.02) << n;
            EXPECT_NEAR(p.y, t.y, 0.02) << n;
        }
        const double *h = calib.homography();
        double norm = 0;
        for (int i = 0; i < 9; ++i)
            norm += h[i] * h[i];
        EXPECT_NEAR(norm, 1.0, 1e-9);
    }
}

TEST(Homography, HoldsAtMostNinePairs)
{
    Calibration calib;
    for (int i = 0; i < 9; ++i)
        EXPECT_TRUE(calib.addPoint(float(i), float(2 * i), float(3 * i), float(i)));
    EXPECT_FALSE(calib.addPoint(1, 1, 1, 1));
    EXPECT_EQ(calib.pointCount(), 9);
}

TEST(Homography, ZeroDenominatorIsLoggedAndDivided)
{
    Calibration calib;
    const double h[9] = { 1, 0, 0, 0, 1, 0, 0.01, 0, -5 }; // w = 0 at x = 500
    calib.setHomography(h);
    LogCapture log;
    const cv::Point2d p = calib.CalcNewPoint(500, 20);
    EXPECT_FALSE(std::isfinite(p.x));
    EXPECT_FALSE(std::isfinite(p.y));
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(log.lines().first().startsWith("Calibration::CalcNewPoint: 500 20 "));
    log.clear();
    calib.CalcNewPoint(400, 20);
    EXPECT_TRUE(log.lines().isEmpty());
}
