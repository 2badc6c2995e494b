#include "LogCapture.h"
#include "SyntheticScene.h"

#include "calibration/CalibrationFit.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace tl;

namespace {

struct RunResult
{
    RecoveryError err;
    bool success = false;
    int loop = 0;
    double sse = 0;
};

// One auto calibration on the scene: pattern centres with noise straight into
// the workspace (no tweak: the synthetic detector has no bias), markers give
// the homography through the lens preset, then the auto fit.
RunResult runAuto(const SyntheticScene &scene, double sigma, std::mt19937 &rng)
{
    LogCapture log;
    resetCalibWorkspace();
    setCalibPointCounts(scene.lens);
    setCalibInformation(scene.patternPoints.data(), 20, 0, 0, scene.width, scene.height, scene.lens,
                        scene.fwParam, 2);
    const std::vector<cv::Point2f> cam = scene.cameraPoints(scene.patternPoints, sigma, rng);
    CalibWorkspace &ws = calibWorkspace();
    for (int i = 0; i < 20; ++i)
        ws.ac_pattern_center_org[i] = ws.ac_pattern_center_twk[i] = cam[i];
    WideCalibration lensModel;
    lensModel.setPredefinedLens(ws.lens, ws.fwParam);
    Calibration calib;
    EXPECT_TRUE(calcProjection(ws.ac_pattern_center_org, lensModel, calib));
    double tp[13] = {};
    AC_CallCalcCalibParameter(tp);
    RunResult r;
    r.success = ws.calib_success;
    r.loop = ws.ac_loop;
    r.sse = ws.ac_sse;
    r.err = measureAgainstTruth(scene, tp);
    return r;
}

RunResult runManual(const SyntheticScene &scene, double sigma, std::mt19937 &rng)
{
    LogCapture log;
    resetCalibWorkspace();
    setCalibPointCounts(scene.lens);
    setCalibInformation(scene.manualTargets.data(), 16, 0, 0, scene.width, scene.height, scene.lens,
                        scene.fwParam, 0);
    const std::vector<cv::Point2f> cam = scene.cameraPoints(scene.manualTargets, sigma, rng);
    CalibWorkspace &ws = calibWorkspace();
    for (int i = 0; i < 16; ++i)
        ws.ac_pattern_center_twk[i] = cam[i];
    double tp[13] = {};
    MC_CallCalcCalibParameter(tp);
    RunResult r;
    r.success = ws.calib_success;
    r.loop = ws.ac_loop;
    r.sse = ws.ac_sse;
    r.err = measureAgainstTruth(scene, tp);
    return r;
}

} // namespace

TEST(Recovery, Table)
{
    const int sizes[3][2] = { { 1280, 800 }, { 1920, 1080 }, { 3840, 2160 } };
    const int lenses[3] = { 1, 2, 3 };
    std::printf("%-10s %4s %-6s %6s | %9s %9s %5s %7s\n", "window", "lens", "fit", "noise", "rms", "max", "ok", "loop");
    for (auto &sz : sizes) {
        for (int lens : lenses) {
            const SyntheticScene scene = makeScene(sz[0], sz[1], lens);
            for (double sigma : { 0.0, 0.2 }) {
                std::mt19937 rng(1234);
                RunResult a = runAuto(scene, sigma, rng);
                std::printf("%4dx%-5d %4d %-6s %6.2f | %9.4f %9.4f %5d %7d\n", sz[0], sz[1], lens, "auto", sigma,
                            a.err.rms, a.err.max, a.success, a.loop);
                std::mt19937 rng2(1234);
                RunResult m = runManual(scene, sigma, rng2);
                std::printf("%4dx%-5d %4d %-6s %6.2f | %9.4f %9.4f %5d %7d\n", sz[0], sz[1], lens, "manual", sigma,
                            m.err.rms, m.err.max, m.success, m.loop);
            }
        }
    }
}
