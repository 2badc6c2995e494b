// Recovery of known camera-to-window mappings. For each window size and lens:
// the 20 auto-pattern points and the 16 manual targets are mapped to camera
// points through a known model (a tilted projector view with distortion near
// the lens preset; the screen fills about 70 % of the camera's width), given
// Gaussian noise of 0.2 camera pixels per coordinate, fitted through the fit
// entries, and the fitted model is measured against the known one over a
// grid of the whole window (every 8 window pixels).
//
// The table is printed; run
//   test_calibration_model --gtest_filter='Recovery.*'
// to see it.

#include "tests/support/LogCapture.h"
#include "SyntheticScene.h"

#include "calibration/CalibrationFit.h"

#include <gtest/gtest.h>

#include <cstdio>

using tl::test::LogCapture;

using namespace tl;

namespace {

constexpr double kNoise = 0.2;
constexpr int kTrials = 20;

struct FitRun
{
    RecoveryError err;
    bool success = false;
    int loop = 0;
    double fitSse = 0;   // of the fitted parameters, double precision
    double refSse = 0;   // least-squares minimum of the same pairs
    RecoveryError refErr;
    std::array<double, 13> tp{};
};

void fillRun(FitRun &r, const SyntheticScene &scene, const FitResult &fit, const double *tp,
             const std::vector<cv::Point2f> &cam, const cv::Point2d *win, int n, bool withReference)
{
    r.success = fit.success;
    r.loop = fit.loops;
    std::copy(tp, tp + 13, r.tp.begin());
    r.err = measureAgainstTruth(scene, tp);
    if (!withReference)
        return;
    std::vector<cv::Point2d> c, w;
    for (int i = 0; i < n; ++i) {
        c.emplace_back(cam[i].x, cam[i].y);
        w.push_back(win[i]);
    }
    r.fitSse = modelSse(tp, c, w);
    const auto ref = referenceLeastSquares({ r.tp, scene.truth }, c, w);
    r.refSse = modelSse(ref.data(), c, w);
    r.refErr = measureAgainstTruth(scene, ref.data());
}

// One auto run: noisy centres straight into the workspace (the synthetic
// detector has no bias to tweak away), markers to the homography through the
// lens preset, then the auto entry.
FitRun runAuto(const SyntheticScene &scene, double sigma, unsigned seed, bool withReference)
{
    LogCapture log;
    std::vector<cv::Point2f> cam;
    EXPECT_TRUE(prepareAutoRun(scene, 0, sigma, seed, cam));
    const CalibWorkspace &ws = calibWorkspace();
    double tp[13] = {};
    const FitResult fit = AC_CallCalcCalibParameter(tp);
    FitRun r;
    fillRun(r, scene, fit, tp, cam, ws.win_coordi, 20, withReference);
    return r;
}

FitRun runManual(const SyntheticScene &scene, double sigma, unsigned seed, bool withReference)
{
    LogCapture log;
    resetCalibWorkspace();
    setCalibPointCounts(scene.lens);
    setCalibInformation(scene.manualTargets.data(), 16, 0, 0, scene.width, scene.height, scene.lens,
                        scene.fwParam, 0);
    std::mt19937 rng(seed);
    const std::vector<cv::Point2f> cam = scene.cameraPoints(scene.manualTargets, sigma, rng);
    CalibWorkspace &ws = calibWorkspace();
    for (int i = 0; i < 16; ++i)
        ws.ac_pattern_center_twk[i] = cam[i];
    double tp[13] = {};
    const FitResult fit = MC_CallCalcCalibParameter(tp);
    FitRun r;
    fillRun(r, scene, fit, tp, cam, ws.win_coordi, 16, withReference);
    return r;
}

struct Summary
{
    double rms = 0;        // root mean square over the trials' grid RMS
    double worstRms = 0;
    double worstMax = 0;
    double rmsInside = 0;
    double rmsBorder = 0;
    double worstMaxBorder = 0;
    double refRms = 0;     // the same for the least-squares minimum
    double worstSseExcess = 0; // largest fitSse / refSse - 1
    int over = 0;          // trials with grid RMS >= 0.5
    int failed = 0;        // trials with calib_success false
    int maxLoop = 0;
};

template <typename F>
Summary noisyTrials(F run)
{
    Summary s;
    double sum = 0, sumIn = 0, sumBorder = 0, sumRef = 0;
    for (int t = 0; t < kTrials; ++t) {
        const FitRun r = run(1000u + unsigned(t));
        sum += r.err.rms * r.err.rms;
        sumIn += r.err.rmsInside * r.err.rmsInside;
        sumBorder += r.err.rmsBorder * r.err.rmsBorder;
        sumRef += r.refErr.rms * r.refErr.rms;
        s.worstRms = std::max(s.worstRms, r.err.rms);
        s.worstMax = std::max(s.worstMax, r.err.max);
        s.worstMaxBorder = std::max(s.worstMaxBorder, r.err.maxBorder);
        s.worstSseExcess = std::max(s.worstSseExcess, r.fitSse / r.refSse - 1);
        s.over += r.err.rms >= 0.5;
        s.failed += !r.success;
        s.maxLoop = std::max(s.maxLoop, r.loop);
    }
    s.rms = std::sqrt(sum / kTrials);
    s.rmsInside = std::sqrt(sumIn / kTrials);
    s.rmsBorder = std::sqrt(sumBorder / kTrials);
    s.refRms = std::sqrt(sumRef / kTrials);
    return s;
}

struct Case
{
    int width, height, lens;
};

const Case kCases[] = {
    { 1280, 800, 1 },  { 1280, 800, 2 },  { 1280, 800, 3 },  { 1920, 1080, 1 }, { 1920, 1080, 2 },
    { 1920, 1080, 3 }, { 3840, 2160, 1 }, { 3840, 2160, 2 }, { 3840, 2160, 3 },
};

} // namespace

TEST(Recovery, NoiseFreePointsReproduceTheModel)
{
    std::printf("\nNoise-free: error of the fitted model over the whole window, window pixels\n");
    std::printf("%-10s %4s | %-17s | %-17s\n", "window", "lens", "auto rms / max", "manual rms / max");
    for (const Case &c : kCases) {
        const SyntheticScene scene = makeScene(c.width, c.height, c.lens);
        const FitRun a = runAuto(scene, 0.0, 1, false);
        const FitRun m = runManual(scene, 0.0, 1, false);
        std::printf("%4dx%-5d %4d | %7.4f / %7.4f | %7.4f / %7.4f\n", c.width, c.height, c.lens, a.err.rms,
                    a.err.max, m.err.rms, m.err.max);
        EXPECT_TRUE(a.success);
        EXPECT_TRUE(m.success);
        EXPECT_LT(a.err.rms, 0.05) << c.width << " lens " << c.lens;
        EXPECT_LT(a.err.max, 0.05) << c.width << " lens " << c.lens;
        EXPECT_LT(m.err.rms, 0.05) << c.width << " lens " << c.lens;
        EXPECT_LT(m.err.max, 0.05) << c.width << " lens " << c.lens;
    }
}

TEST(Recovery, NoisyPointsStayWithinHalfAPixelAtFullHd)
{
    std::printf("\nNoise %.1f camera px per coordinate, %d trials per row; window pixels.\n", kNoise, kTrials);
    std::printf("rms: over the whole window (root mean square over trials); in/border: inside the outermost\n"
                "calibration points / the band outside them; LS-min: rms of the exact least-squares minimum.\n");
    std::printf("%-10s %4s %-6s | %6s %6s %7s | %6s %6s %8s | %6s | %4s %4s %5s\n", "window", "lens", "fit", "rms",
                "worst", "max", "in", "border", "maxBordr", "LS-min", ">=.5", "fail", "loops");
    for (const Case &c : kCases) {
        const SyntheticScene scene = makeScene(c.width, c.height, c.lens);
        const Summary a = noisyTrials([&](unsigned seed) { return runAuto(scene, kNoise, seed, true); });
        const Summary m = noisyTrials([&](unsigned seed) { return runManual(scene, kNoise, seed, true); });
        for (const auto &[name, s] : { std::pair<const char *, const Summary &>("auto", a), { "manual", m } }) {
            std::printf("%4dx%-5d %4d %-6s | %6.3f %6.3f %7.3f | %6.3f %6.3f %8.3f | %6.3f | %4d %4d %5d\n", c.width,
                        c.height, c.lens, name, s.rms, s.worstRms, s.worstMax, s.rmsInside, s.rmsBorder,
                        s.worstMaxBorder, s.refRms, s.over, s.failed, s.maxLoop);
            // The fit lands on the least-squares minimum of its pairs: what
            // error remains is the data's, not the iteration's.
            EXPECT_LT(s.worstSseExcess, 1e-3) << c.width << " lens " << c.lens << " " << name;
            EXPECT_EQ(s.failed, 0) << c.width << " lens " << c.lens << " " << name;
        }
        if (c.width == 1920) {
            EXPECT_LT(a.rms, 0.5) << "lens " << c.lens;
        }
    }
}
