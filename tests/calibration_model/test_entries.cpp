// The fit entries over the process-wide workspace: preconditions, acceptance,
// mode choice, tweak tables, the camera-row limit and broken input.

#include "tests/support/LogCapture.h"
#include "SyntheticScene.h"

#include "calibration/CalibrationFit.h"

#include <gtest/gtest.h>


#include <cmath>
#include <limits>
#include <set>

using tl::test::LogCapture;

using namespace tl;

namespace {

const std::set<int> kSides = { 0, 4, 5, 9, 10, 14, 15, 19 };

// The entries return what they found and record the same in the workspace,
// where it is the result of the last fit; the figures only when they fitted.
void expectRecorded(const FitResult &fit)
{
    const CalibWorkspace &ws = calibWorkspace();
    EXPECT_EQ(ws.calib_success, fit.success);
    if (!fit.fitted)
        return;
    EXPECT_EQ(ws.ac_loop, fit.loops);
    EXPECT_TRUE(ws.ac_sse == fit.sse || (std::isnan(ws.ac_sse) && std::isnan(fit.sse))) << ws.ac_sse << " " << fit.sse;
}

// An auto run on a noise-free scene, keeping only the slots in `keep`.
class AutoRunTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        scene = makeScene(1280, 800, 1);
        LogCapture quiet;
        ASSERT_TRUE(prepareAutoRun(scene, 0, 0.0, 1, cam));
    }

    void keepOnly(const std::set<int> &keep)
    {
        CalibWorkspace &ws = calibWorkspace();
        for (int i = 0; i < 20; ++i)
            if (!keep.count(i))
                ws.ac_pattern_center_twk[i] = cv::Point2f(0, 0);
    }

    // Runs the auto entry the way the flow does: results cleared before.
    void runAuto()
    {
        CalibWorkspace &ws = calibWorkspace();
        ws.ac_loop = -7; // must stay when nothing is fitted
        ws.ac_sse = 123.0;
        ws.calib_success = true;
        std::fill(tp, tp + 13, 0.0);
        fit = AC_CallCalcCalibParameter(tp);
        expectRecorded(fit);
    }

    bool fitted() const { return log.startingWith("CalibrationMain()").size() > 0; }
    bool outputUntouched() const { return std::all_of(tp, tp + 13, [](double v) { return v == 0.0; }); }

    SyntheticScene scene;
    std::vector<cv::Point2f> cam;
    double tp[13] = {};
    FitResult fit;
    LogCapture log;
};

} // namespace

TEST_F(AutoRunTest, TwelveOfTwentyWithTwoSidePointsIsFitted)
{
    keepOnly({ 0, 19, 1, 2, 3, 6, 7, 8, 11, 12, 13, 16 });
    runAuto();
    EXPECT_TRUE(log.hasLine("nRealCornerCount = 12 , nSidePatternCount = 2"));
    ASSERT_TRUE(fitted());
    EXPECT_TRUE(fit.success);
    EXPECT_GE(fit.loops, 0);
    EXPECT_LT(fit.sse, 1e-3);
    // The result maps the pattern points it saw and those it did not.
    for (int i : { 0, 5, 14, 19 }) {
        const ModelPoint w = cameraToWindow(tp, cam[i].x, cam[i].y);
        EXPECT_NEAR(w.x, scene.patternPoints[i].x, 0.05) << i;
        EXPECT_NEAR(w.y, scene.patternPoints[i].y, 0.05) << i;
    }
}

TEST_F(AutoRunTest, ElevenValidPointsAreNotFitted)
{
    keepOnly({ 0, 19, 1, 2, 3, 6, 7, 8, 11, 12, 13 });
    runAuto();
    EXPECT_TRUE(log.hasLine("nRealCornerCount = 11 , nSidePatternCount = 2"));
    EXPECT_FALSE(fitted());
    EXPECT_FALSE(fit.success);
    EXPECT_TRUE(outputUntouched());
    EXPECT_EQ(calibWorkspace().ac_loop, -7);
    EXPECT_EQ(calibWorkspace().ac_sse, 123.0);
}

TEST_F(AutoRunTest, TwelveInnerPointsWithoutSidePointsAreNotFitted)
{
    keepOnly({ 1, 2, 3, 6, 7, 8, 11, 12, 13, 16, 17, 18 });
    runAuto();
    EXPECT_TRUE(log.hasLine("nRealCornerCount = 12 , nSidePatternCount = 0"));
    EXPECT_FALSE(fitted());
    EXPECT_FALSE(fit.success);
    EXPECT_TRUE(outputUntouched());
}

TEST_F(AutoRunTest, OneSidePointIsNotEnough)
{
    keepOnly({ 1, 2, 3, 6, 7, 8, 11, 12, 13, 16, 17, 18, 19 });
    runAuto();
    EXPECT_TRUE(log.hasLine("nRealCornerCount = 13 , nSidePatternCount = 1"));
    EXPECT_FALSE(fitted());
}

TEST_F(AutoRunTest, LogsThePairsTheModesAndTheChoice)
{
    runAuto();
    const QStringList lines = log.lines();
    const int entry = lines.indexOf("AC_CallCalcCalibParameter");
    ASSERT_GE(entry, 0);
    const CalibWorkspace &ws = calibWorkspace();
    const QString pair0 = QString::asprintf(
        "No. 0 CAM Coordi x : %f CAM Coordi y : %f  WIN Coordi x : %f WIN Coordi y : %f",
        double(cam[0].x), double(cam[0].y), ws.win_coordi[0].x, ws.win_coordi[0].y);
    EXPECT_EQ(lines.value(entry + 1), pair0);
    EXPECT_TRUE(log.hasLine("nRealCornerCount = 20 , nSidePatternCount = 8"));
    EXPECT_TRUE(log.hasLine(QString::asprintf("No. %2d: CAM x: %11.6f CAM y: %11.6f WIN x: %11.6f WIN y: %11.6f", 19,
                                               double(cam[19].x), double(cam[19].y), ws.win_coordi[19].x,
                                               ws.win_coordi[19].y)));
    for (int m = 0; m < 6; ++m)
        EXPECT_TRUE(log.hasLine(QString("CalibrationMain() %1").arg(m))) << m;
    EXPECT_EQ(log.startingWith("mode = ").size(), 6);
    EXPECT_EQ(log.startingWith("min_sse = ").size(), 1);
    EXPECT_EQ(log.startingWith("min_sse_mode = ").size(), 1);
    EXPECT_TRUE(fit.success);
}

TEST_F(AutoRunTest, ViewTurnedHalfWayIsStillRecovered)
{
    // Upside down (a ceiling mount whose image is not turned) the answer lies
    // far from the identity start values; the fit must still find it.
    scene = makeScene(1920, 1080, 2, 15, true);
    ASSERT_TRUE(prepareAutoRun(scene, 1, 0.2, 3, cam));
    const CalibWorkspace &ws = calibWorkspace();
    log.clear();
    runAuto();
    EXPECT_TRUE(fit.success);
    EXPECT_LT(fit.sse, 20 * 0.5);
    EXPECT_LT(measureAgainstTruth(scene, tp).rms, 1.0);
}

TEST(ManualFit, SixteenTouchesAreFittedFifteenAreNot)
{
    const SyntheticScene scene = makeScene(1920, 1080, 2);
    for (int missing : { -1, 0, 9, 15 }) {
        LogCapture log;
        resetCalibWorkspace();
        setCalibPointCounts(2);
        setCalibInformation(scene.manualTargets.data(), 16, 0, 0, scene.width, scene.height, 2, 15, 0);
        std::mt19937 rng(5);
        const std::vector<cv::Point2f> cam = scene.cameraPoints(scene.manualTargets, 0.2, rng);
        CalibWorkspace &ws = calibWorkspace();
        for (int i = 0; i < 16; ++i)
            ws.ac_pattern_center_twk[i] = i == missing ? cv::Point2f(0, 0) : cam[i];
        double tp[13] = {};
        log.clear();
        const FitResult fit = MC_CallCalcCalibParameter(tp);
        expectRecorded(fit);
        EXPECT_EQ(log.lines().value(0), "MC_CallCalcCalibParameter");
        if (missing < 0) {
            EXPECT_TRUE(fit.success);
            // Two modes only, both from the identity start.
            EXPECT_EQ(log.startingWith("CalibrationMain()").size(), 2);
            EXPECT_LT(measureAgainstTruth(scene, tp).rms, 1.0);
        } else {
            EXPECT_FALSE(fit.success) << missing;
            EXPECT_TRUE(log.startingWith("CalibrationMain()").isEmpty()) << missing;
            EXPECT_TRUE(std::all_of(tp, tp + 13, [](double v) { return v == 0.0; }));
        }
    }
}

TEST(ValidPoints, ACoordinateOfExactlyThreeIsMissing)
{
    LogCapture log;
    resetCalibWorkspace();
    setCalibPointCounts(1);
    cv::Point2f table[25];
    table[0] = { 3.0f, 100.0f };
    table[1] = { 100.0f, 3.0f };
    table[2] = { 3.0001f, 3.0001f };
    table[3] = { -50.0f, 100.0f };
    table[4] = { std::numeric_limits<float>::quiet_NaN(), 100.0f };
    table[5] = { 640.0f, 360.0f };
    cv::Point2d camOut[25], winOut[25];
    int side = -1;
    EXPECT_EQ(collectValidPoints(table, 20, camOut, winOut, &side), 2);
    EXPECT_FLOAT_EQ(float(camOut[0].x), 3.0001f);
    EXPECT_EQ(camOut[1], cv::Point2d(640, 360));
    EXPECT_EQ(side, 1); // slot 5 is a side point, slot 2 is not
    // Side points count only for the auto pattern's point count.
    EXPECT_EQ(collectValidPoints(table, 16, camOut, winOut, &side), 2);
    EXPECT_EQ(side, 0);
}

TEST(Acceptance, MeanSquaredErrorMustStayBelowSixtyFourPerPoint)
{
    EXPECT_FALSE(isCalibAccepted(64.0 * 20, 20));
    EXPECT_TRUE(isCalibAccepted(std::nextafter(64.0 * 20, 0.0), 20));
    EXPECT_FALSE(isCalibAccepted(std::numeric_limits<double>::quiet_NaN(), 20));
    EXPECT_FALSE(isCalibAccepted(std::numeric_limits<double>::infinity(), 20));
}

TEST(Acceptance, FitEntryAppliesTheRuleToTheFittedError)
{
    // Eight camera points, each touched twice with targets 2a apart in x: no
    // model does better than the midpoints, a squared error of a² per point,
    // and the identity start of the manual fit is exactly there. The first
    // step still moves (its denominator columns use the targets, not the
    // model), the damping is raised, and as rejected steps are kept the fit
    // ends a little above the start: about 2 % at these residuals.
    for (double a : { 8.001, 7.7 }) {
        LogCapture log;
        resetCalibWorkspace();
        setCalibPointCounts(1);
        cv::Point2f win[16];
        CalibWorkspace &ws = calibWorkspace();
        for (int i = 0; i < 8; ++i) {
            const cv::Point2f c(300.0f + 200.0f * (i % 4), 250.0f + 250.0f * (i / 4));
            win[2 * i] = { c.x + float(a), c.y };
            win[2 * i + 1] = { c.x - float(a), c.y };
            ws.ac_pattern_center_twk[2 * i] = ws.ac_pattern_center_twk[2 * i + 1] = c;
        }
        setCalibInformation(win, 16, 0, 0, 1280, 800, 1, 15, 0);
        double tp[13] = {};
        const FitResult fit = MC_CallCalcCalibParameter(tp);
        double floor = 0;
        for (int i = 0; i < 16; ++i) {
            const double e = double(win[i].x) - double(ws.ac_pattern_center_twk[i].x);
            floor += e * e;
        }
        EXPECT_TRUE(log.hasLine(QString::asprintf("sse = %lf", floor))) << a;
        EXPECT_GT(fit.sse, floor);
        EXPECT_LT(fit.sse, floor * 1.05);
        EXPECT_EQ(fit.success, fit.sse < 64 * 16) << a;
        EXPECT_EQ(fit.success, a < 8) << a;
    }
}

TEST(Acceptance, ManualRunWithNoTargetsIsRejected)
{
    // A lens code outside 1..4 leaves no manual targets: zero of zero touches
    // are "all valid", the fit of no points ends with sse 0, which is exactly
    // 64 x 0 and therefore refused.
    LogCapture log;
    resetCalibWorkspace();
    setCalibPointCounts(0);
    double tp[13] = {};
    const FitResult fit = MC_CallCalcCalibParameter(tp);
    EXPECT_EQ(fit.sse, 0.0);
    EXPECT_FALSE(fit.success);
}

TEST(ModeChoice, EqualSseGoesToTheLowerMode)
{
    // Targets computed exactly as the fit evaluates them with the lens 2
    // preset and an identity projective part, on integer camera pixels: modes
    // 2 to 5 (lens preset, with the identity homography for 4 and 5) start
    // exactly on the data with sse 0 and stay there.
    LogCapture log;
    resetCalibWorkspace();
    setCalibPointCounts(2);
    CalibWorkspace &ws = calibWorkspace();
    const double identity[9] = { 1, 0, 0, 0, 1, 0, 0, 0, 1 };
    std::copy(identity, identity + 9, ws.homography);
    double tp[13] = { 1, 0, 0, 0, 1, 0, 0, 0 };
    WideCalibration::predefinedLens(2, 15, tp + 8);
    cv::Point2f win[20];
    for (int i = 0; i < 20; ++i) {
        const cv::Point2f c(float(220 + 210 * (i % 5)), float(130 + 150 * (i / 5)));
        const ModelPoint uv = radialCorrect(tp, c.x, c.y);
        win[i] = { float(uv.x), float(uv.y) };
        ws.ac_pattern_center_twk[i] = c;
    }
    setCalibInformation(win, 20, 0, 0, 1280, 800, 2, 15, 0);
    double out[13] = {};
    const FitResult fit = AC_CallCalcCalibParameter(out);
    EXPECT_EQ(fit.sse, 0.0);
    const QStringList modes = log.startingWith("mode = ");
    ASSERT_EQ(modes.size(), 6);
    for (int m = 2; m < 6; ++m)
        EXPECT_TRUE(modes[m].endsWith("sse = 0")) << modes[m].toStdString();
    // Modes 0 and 1 start without distortion and end above zero.
    EXPECT_FALSE(modes[0].endsWith("sse = 0")) << modes[0].toStdString();
    EXPECT_TRUE(log.hasLine("min_sse_mode = 2"));
    EXPECT_TRUE(std::equal(out, out + 13, tp));
}

TEST(TweakTables, ChosenByLensFirmwareAndPen)
{
    LogCapture log;
    resetCalibWorkspace();
    setCalibPointCounts(3);
    const cv::Point2f win[20] = {};
    CalibWorkspace &ws = calibWorkspace();

    setCalibInformation(win, 20, 0, 0, 1280, 800, 3, 15, 0);
    EXPECT_EQ(ws.fwParam, 15);
    EXPECT_EQ(ws.ac_tweak_num, 20);
    EXPECT_EQ(ws.ac_tweak[0], cv::Point2f(-2.4f, -0.07f));
    EXPECT_EQ(ws.ac_tweak[19], cv::Point2f(0.8f, 0.34f));
    setCalibInformation(win, 20, 0, 0, 1280, 800, 3, 15, 1);
    EXPECT_EQ(ws.ac_tweak[0], cv::Point2f(-2.4f, 0.3f)); // same x, own y
    EXPECT_EQ(ws.ac_tweak[10], cv::Point2f(-2.01f, 0.05f));
    for (int pen : { 0, 1 }) {
        setCalibInformation(win, 20, 0, 0, 1280, 800, 3, 9, pen);
        EXPECT_EQ(ws.fwParam, 9);
        EXPECT_EQ(ws.ac_tweak[0], cv::Point2f(-3.55f, -0.84f));
        EXPECT_EQ(ws.ac_tweak[19], cv::Point2f(3.43f, 1.16f));
    }
    for (int lens : { 2, 4 }) {
        setCalibInformation(win, 20, 0, 0, 1280, 800, lens, 15, 0);
        EXPECT_EQ(ws.ac_tweak[0], cv::Point2f(-2.84f, -0.62f));
        setCalibInformation(win, 20, 0, 0, 1280, 800, lens, 15, 1);
        EXPECT_EQ(ws.ac_tweak[5], cv::Point2f(-3.0f, 0.14f));
    }
    // fwParam is recorded for lens 3 only.
    EXPECT_EQ(ws.fwParam, 9);
    for (int lens : { 1, 0, 7 }) {
        setCalibInformation(win, 20, 0, 0, 1280, 800, lens, 15, 1);
        EXPECT_EQ(ws.ac_tweak[0], cv::Point2f(-1.83f, -0.07f));
        EXPECT_EQ(ws.ac_tweak[18], cv::Point2f(-0.48f, 2.63f));
    }
    for (int i = 20; i < 25; ++i)
        EXPECT_EQ(ws.ac_tweak[i], cv::Point2f(0, 0));
}

TEST(TweakTables, PenTypeTwoGivesZeroTweaksButTheFullCount)
{
    LogCapture log;
    resetCalibWorkspace();
    setCalibPointCounts(2);
    CalibWorkspace &ws = calibWorkspace();
    const cv::Point2f win[20] = {};
    setCalibInformation(win, 20, 0, 0, 1280, 800, 2, 15, 0); // fills the table first
    setCalibInformation(win, 20, 0, 0, 1280, 800, 2, 15, 2);
    EXPECT_EQ(ws.ac_tweak_num, 20);
    for (int i = 0; i < 25; ++i)
        EXPECT_EQ(ws.ac_tweak[i], cv::Point2f(0, 0)) << i;
    EXPECT_EQ(log.countLine("[ 0] 0.000000 0.000000"), 1);
    EXPECT_EQ(log.countLine("[19] 0.000000 0.000000"), 1);
}

TEST(TweakTables, NoPatternPointsNoTweaks)
{
    LogCapture log;
    resetCalibWorkspace();
    setCalibPointCounts(0);
    const cv::Point2f win[16] = {};
    setCalibInformation(win, 16, 0, 0, 1280, 800, 0, 15, 0);
    EXPECT_EQ(calibWorkspace().ac_tweak_num, 0);
    EXPECT_EQ(calibWorkspace().ac_tweak[0], cv::Point2f(0, 0));
}

TEST(SetCalibInformation, RecordsTheRunAndLogsIt)
{
    LogCapture log;
    resetCalibWorkspace();
    setCalibPointCounts(2);
    const cv::Point2f win[2] = { { 10.0f, 20.5f }, { 1900.25f, 1000.0f } };
    setCalibInformation(win, 2, 1, 0, 1920, 1080, 2, 15, 0);
    const CalibWorkspace &ws = calibWorkspace();
    EXPECT_EQ(ws.win_coordi[1], cv::Point2d(1900.25, 1000.0));
    EXPECT_EQ(ws.ac_window_width, 1920);
    EXPECT_EQ(ws.ac_window_height, 1080);
    EXPECT_EQ(ws.lens, 2);
    EXPECT_EQ(ws.acCeiling, 1);
    EXPECT_EQ(ws.acRear, 0);
    const QStringList expected = {
        "setCalibInformation",
        "00: 10.000000 20.500000",
        "01: 1900.250000 1000.000000",
        "ac_window_width = 1920, ac_window_height = 1080",
        "acCeiling = 1, acRear = 0, lens = 2",
        "ac_tweak_num = 0",
        "use predefined values",
        "[ 0] -2.840000 -0.620000",
    };
    EXPECT_EQ(log.lines().mid(0, expected.size()), expected);
    EXPECT_EQ(log.lines().size(), 7 + 20);
    EXPECT_EQ(log.lines().last(), "[19] 1.610000 1.450000");
    log.clear();
    setCalibInformation(win, 2, 0, 1, 1920, 1080, 3, 15, 1);
    EXPECT_TRUE(log.hasLine("PenType : 1"));
}

TEST(YThreshold, LowestCameraRowShowingTheTopBand)
{
    LogCapture log;
    // Identity: window = camera; the top 30 % of a 1280 x 720 window are rows
    // 0 to 215.
    double tp[13] = { 1, 0, 0, 0, 1, 0, 0, 0, 640, 360, 0, 0, 0 };
    EXPECT_EQ(calcYThreshold(tp, 1280, 720), 215);
    EXPECT_TRUE(log.hasLine("calcYThreshold(): 216 -> 215"));
    // Window 100 pixels higher up than the camera rows.
    tp[5] = -100;
    EXPECT_EQ(calcYThreshold(tp, 1280, 720), 315);
    // A window narrower than the image still counts its own columns only.
    tp[5] = 0;
    tp[2] = -1270;
    EXPECT_EQ(calcYThreshold(tp, 5, 720), 215);
    tp[2] = -1290;
    EXPECT_EQ(calcYThreshold(tp, 5, 720), -1);
}

TEST(YThreshold, MinusOneWhenNothingMapsIntoTheTopBand)
{
    LogCapture log;
    double below[13] = { 1, 0, 0, 0, 1, 2000, 0, 0, 640, 360, 0, 0, 0 };
    EXPECT_EQ(calcYThreshold(below, 1920, 1080), -1);
    EXPECT_TRUE(log.hasLine("calcYThreshold(): 324 -> -1"));
    // A denominator that passes through zero inside the image (column 640)
    // and flips the sign of the map: the infinities are simply not counted.
    double horizon[13] = { 1, 0, 0, 0, 1, 0, -1.0 / 640, 0, 640, 360, 0, 0, 0 };
    const int row = calcYThreshold(horizon, 1920, 1080);
    EXPECT_GE(row, -1);
    EXPECT_LT(row, 720);
    // Everything NaN.
    double nan[13] = { std::numeric_limits<double>::quiet_NaN(), 0, 0, 0, 1, 0, 0, 0, 640, 360, 0, 0, 0 };
    EXPECT_EQ(calcYThreshold(nan, 1920, 1080), -1);
}

TEST(Projection, NeedsFourUsableMarkers)
{
    const SyntheticScene scene = makeScene(1920, 1080, 3, 5);
    LogCapture log;
    resetCalibWorkspace();
    setCalibPointCounts(3);
    setCalibInformation(scene.patternPoints.data(), 20, 0, 0, 1920, 1080, 3, 5, 0);
    std::mt19937 rng(1);
    const std::vector<cv::Point2f> cam = scene.cameraPoints(scene.patternPoints, 0.0, rng);
    WideCalibration lensModel;
    lensModel.setPredefinedLens(3, 5);
    CalibWorkspace &ws = calibWorkspace();

    // Dots (not markers) and missing markers do not count.
    cv::Point2f centres[25];
    for (int i : { 0, 1, 2, 5, 9, 6, 8, 18 })
        centres[i] = cam[i];
    Calibration calib;
    log.clear();
    EXPECT_FALSE(calcProjection(centres, lensModel, calib));
    EXPECT_EQ(log.lines(), QStringList { "calcProjection(): nRealCornerCount = 3" });
    EXPECT_EQ(ws.homography[8], 0.0);

    // A NaN centre is as good as missing.
    centres[16] = { std::numeric_limits<float>::quiet_NaN(), 300.0f };
    EXPECT_FALSE(calcProjection(centres, lensModel, calib));

    centres[16] = cam[16];
    EXPECT_TRUE(calcProjection(centres, lensModel, calib));
    EXPECT_EQ(ws.homography[8], 1.0);
    // The homography maps corrected marker centres near their window points
    // (the lens preset is near, not equal to, the scene's lens).
    for (int i : { 7, 11, 13, 17 }) {
        const cv::Point2d uv = lensModel.radialCorrection(cv::Point2d(cam[i].x, cam[i].y));
        const cv::Point2d w = calib.CalcNewPoint(uv.x, uv.y);
        EXPECT_NEAR(w.x, scene.patternPoints[i].x, 15.0) << i;
        EXPECT_NEAR(w.y, scene.patternPoints[i].y, 15.0) << i;
    }

    // Markers beyond the point count are not looked at.
    ws.ac_point_count = 12;
    EXPECT_FALSE(calcProjection(centres, lensModel, calib));
    EXPECT_TRUE(log.hasLine("calcProjection(): nRealCornerCount = 3"));
}

TEST(BadInput, PointsAtInfinityFailTheFitWithoutHanging)
{
    const SyntheticScene scene = makeScene(1920, 1080, 2);
    for (float bad : { std::numeric_limits<float>::infinity(), 3.0e38f }) {
        LogCapture log;
        resetCalibWorkspace();
        setCalibPointCounts(2);
        setCalibInformation(scene.patternPoints.data(), 20, 0, 0, 1920, 1080, 2, 15, 0);
        std::mt19937 rng(2);
        const std::vector<cv::Point2f> cam = scene.cameraPoints(scene.patternPoints, 0.2, rng);
        CalibWorkspace &ws = calibWorkspace();
        for (int i = 0; i < 20; ++i)
            ws.ac_pattern_center_org[i] = ws.ac_pattern_center_twk[i] = cam[i];
        WideCalibration lensModel;
        lensModel.setPredefinedLens(2, 15);
        Calibration calib;
        ASSERT_TRUE(calcProjection(ws.ac_pattern_center_org, lensModel, calib));
        ws.ac_pattern_center_twk[7].x = bad;
        double tp[13] = {};
        const FitResult fit = AC_CallCalcCalibParameter(tp);
        EXPECT_FALSE(fit.success) << bad;
        EXPECT_TRUE(std::all_of(tp, tp + 13, [](double v) { return v == 0.0; }));
        EXPECT_TRUE(log.hasLine("min_sse_mode = -1"));
        // Every mode ran into the iteration limit, none escaped it.
        for (const QString &mode : log.startingWith("mode = "))
            EXPECT_TRUE(mode.contains("loop = 4097")) << mode.toStdString();
    }
}

TEST(BadInput, NaNCentresCountAsMissing)
{
    LogCapture log;
    resetCalibWorkspace();
    setCalibPointCounts(2);
    CalibWorkspace &ws = calibWorkspace();
    for (int i = 0; i < 20; ++i)
        ws.ac_pattern_center_twk[i] = { std::numeric_limits<float>::quiet_NaN(), 100.0f };
    double tp[13] = {};
    const FitResult fit = AC_CallCalcCalibParameter(tp);
    EXPECT_TRUE(log.hasLine("nRealCornerCount = 0 , nSidePatternCount = 0"));
    EXPECT_FALSE(fit.success);
}

TEST(BadInput, AllPointsOnOneSpotGiveASingularSystem)
{
    // Twenty identical camera points: the normal matrix has rank 2 (damping
    // aside) and the distortion columns reach 1e37 where lambda is 1e-3.
    LogCapture log;
    resetCalibWorkspace();
    setCalibPointCounts(1);
    CalibWorkspace &ws = calibWorkspace();
    cv::Point2f win[20];
    for (int i = 0; i < 20; ++i) {
        ws.ac_pattern_center_twk[i] = { 700.0f, 400.0f };
        win[i] = { float(100 * i), float(50 * i) };
    }
    setCalibInformation(win, 20, 0, 0, 1920, 1080, 1, 15, 0);
    double tp[13] = {};
    const FitResult fit = AC_CallCalcCalibParameter(tp);
    EXPECT_FALSE(fit.success);
    for (const QString &mode : log.startingWith("mode = "))
        EXPECT_FALSE(mode.contains("loop = 4098")) << mode.toStdString();
}

TEST(BadInput, PointCountsOutsideTheTablesAreClamped)
{
    LogCapture log;
    resetCalibWorkspace();
    CalibWorkspace &ws = calibWorkspace();
    ws.ac_point_count = 1000;
    ws.mc_point_count = -5;
    cv::Point2f win[25] = {};
    setCalibInformation(win, 400, 0, 0, 1280, 800, 1, 15, 0);
    EXPECT_EQ(ws.ac_tweak_num, 25);
    double tp[13] = {};
    FitResult fit = AC_CallCalcCalibParameter(tp); // reads 25 slots, all missing
    EXPECT_FALSE(fit.success);
    fit = MC_CallCalcCalibParameter(tp); // zero touches of zero
    EXPECT_FALSE(fit.success);
    WideCalibration lensModel;
    Calibration calib;
    EXPECT_FALSE(calcProjection(ws.ac_pattern_center_org, lensModel, calib));
}
