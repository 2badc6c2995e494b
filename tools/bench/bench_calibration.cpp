// Cost of the calibration model: the six-mode auto fit of 20 pattern points and
// the camera-row limit scan over the whole 1280 x 720 image.
//
//   build/bin/bench-calibration --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include "SyntheticScene.h"

#include "calibration/CalibrationFit.h"

#include <QtGlobal>
#include <benchmark/benchmark.h>

#include <cmath>
#include <limits>
#include <random>

using namespace tl;

namespace {

// The fit writes a few lines per iteration; they are formatted as in the
// product and then dropped, so the figures include the logging cost.
void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

struct AutoRun
{
    cv::Point2d cam[20];
    cv::Point2d win[20];
};

// Workspace and 20 noisy pattern points of one auto calibration.
AutoRun prepareAuto(int width, int height, int lens)
{
    const SyntheticScene scene = makeScene(width, height, lens);
    resetCalibWorkspace();
    setCalibPointCounts(lens);
    setCalibInformation(scene.patternPoints.data(), 20, 0, 0, width, height, lens, scene.fwParam, 0);
    std::mt19937 rng(7);
    const std::vector<cv::Point2f> cam = scene.cameraPoints(scene.patternPoints, 0.2, rng);
    CalibWorkspace &ws = calibWorkspace();
    for (int i = 0; i < 20; ++i)
        ws.ac_pattern_center_org[i] = ws.ac_pattern_center_twk[i] = cam[i];
    WideCalibration lensModel;
    lensModel.setPredefinedLens(ws.lens, ws.fwParam);
    Calibration calib;
    calcProjection(ws.ac_pattern_center_org, lensModel, calib);

    AutoRun run;
    for (int i = 0; i < 20; ++i) {
        run.cam[i] = cv::Point2d(cam[i].x, cam[i].y);
        run.win[i] = ws.win_coordi[i];
    }
    return run;
}

void BM_FitWideModel(benchmark::State &state)
{
    const QtMessageHandler previous = qInstallMessageHandler(dropMessage);
    const int lens = int(state.range(0));
    const AutoRun run = prepareAuto(1920, 1080, lens);
    for (auto _ : state) {
        double tp[13] = {};
        fitWideModel(true, 20, run.cam, run.win, tp);
        benchmark::DoNotOptimize(tp);
    }
    state.counters["loop"] = calibWorkspace().ac_loop;
    state.counters["sse"] = calibWorkspace().ac_sse;
    qInstallMessageHandler(previous);
}
BENCHMARK(BM_FitWideModel)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

// A broken detection (a point at infinity) makes every mode's sse NaN, which
// no comparison of the loop rules accepts or rejects: each of the six modes
// runs its full 4096 iterations. This is the fit's worst case.
void BM_FitWideModelAllLoops(benchmark::State &state)
{
    const QtMessageHandler previous = qInstallMessageHandler(dropMessage);
    AutoRun run = prepareAuto(1920, 1080, 2);
    run.cam[7].x = std::numeric_limits<double>::infinity();
    for (auto _ : state) {
        double tp[13] = {};
        fitWideModel(true, 20, run.cam, run.win, tp);
        benchmark::DoNotOptimize(tp);
    }
    qInstallMessageHandler(previous);
}
BENCHMARK(BM_FitWideModelAllLoops)->Unit(benchmark::kMillisecond);

void BM_CalcYThreshold(benchmark::State &state)
{
    const QtMessageHandler previous = qInstallMessageHandler(dropMessage);
    const SyntheticScene scene = makeScene(1920, 1080, 2);
    int row = 0;
    for (auto _ : state) {
        row = calcYThreshold(scene.truth.data(), 1920, 1080);
        benchmark::DoNotOptimize(row);
    }
    state.counters["row"] = row;
    qInstallMessageHandler(previous);
}
BENCHMARK(BM_CalcYThreshold)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
