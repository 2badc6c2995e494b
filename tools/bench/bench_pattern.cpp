// Pattern recognition on an emulator capture: the calibration window's
// pattern at 1920 x 1080, photographed by the module's synthetic camera
// (lens 1, default noise) at 1280 x 720.
//   build/bin/bench-pattern --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
// Time is wall time; CPU is the CPU time of all threads of the process. The
// two threshold loops also run on their own, on one thread.

#include "calibration/CalibDlg.h"
#include "calibration/CalibWorkspace.h"
#include "calibration/CalibrationFit.h"
#include "calibration/PatternRecognition.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "resources/Resources.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"
#include "sim/SyntheticCamera.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <cstring>

namespace {

struct Captures
{
    cv::Mat black, white, pattern, normalized;
};

Captures &captures()
{
    static Captures c = [] {
        Captures out;
        tl::FixedScreens::install({ { QRect(0, 0, 1920, 1080), 96.0 } });
        ConfigFileRW settings;
        settings.setNumOfCamDevice(1);
        settings.setMonitor(0);
        settings.setCheckCeiling(false);
        settings.setCheckRear(false);
        LanguageTable language;
        language.loadLanguageData(LanguageTable::kEnglishIndex + 1);
        tl::setCalibPointCounts(1);
        CalibDlg dlg(&settings, &language);
        dlg.showOnMonitor(0, CalibDlg::ModeBlack);
        dlg.prepareAutoPattern();
        dlg.showDisplay();
        tl::sim::CameraSetup setup;
        setup.displayWidth = 1920;
        setup.displayHeight = 1080;
        setup.lens = 1;
        setup.seed = 1;
        tl::sim::SyntheticCamera camera(setup);
        out.black = camera.capture(dlg.grab().toImage()).clone();
        dlg.setDisplayMode(CalibDlg::ModeWhite);
        out.white = camera.capture(dlg.grab().toImage()).clone();
        dlg.setDisplayMode(CalibDlg::ModePattern);
        out.pattern = camera.capture(dlg.grab().toImage()).clone();
        int w = 0, h = 0;
        dlg.getWindowSize(w, h);
        tl::setCalibInformation(dlg.getFitPoints(), 20, 0, 0, w, h, 1, 10, 0);
        tl::makeNormalizedPatternImage(out.black, out.white, out.pattern, out.normalized);
        dlg.hide();
        return out;
    }();
    return c;
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

void BM_makeNormalizedPatternImage(benchmark::State &state)
{
    Captures &c = captures();
    cv::Mat out;
    for (auto _ : state) {
        tl::makeNormalizedPatternImage(c.black, c.white, c.pattern, out);
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_makeNormalizedPatternImage)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_AC_FindPatternCenter(benchmark::State &state)
{
    Captures &c = captures();
    int found = 0;
    double threadsMs = 0;
    for (auto _ : state) {
        const qint64 thread0 = tl::threadCpuNs();
        const tl::PatternSearchResult search = tl::AC_FindPatternCenter(c.normalized);
        threadsMs += (tl::threadCpuNs() - thread0 + search.workerCpuNs) / 1e6;
        found = 0;
        for (int k = 0; k < 20; ++k)
            found += search.found[k].x > 3;
    }
    state.counters["found"] = found;
    // The CPU the evaluation's report counts: the calling thread's and the
    // levels' on the worker threads (the CPU column is the whole process's).
    state.counters["search_threads_cpu_ms"] = threadsMs / static_cast<double>(state.iterations());
}
BENCHMARK(BM_AC_FindPatternCenter)->Unit(benchmark::kMillisecond)->Iterations(1)->MeasureProcessCPUTime()->UseRealTime();

// The two threshold loops of the search on their own, one thread, every
// level: the marker detection and the dot contours.
void BM_markerLevels(benchmark::State &state)
{
    Captures &c = captures();
    const std::vector<int> levels = tl::PatternFinder::makeThresholdList(c.normalized);
    size_t markers = 0;
    for (auto _ : state) {
        markers = 0;
        for (int t : levels)
            markers += tl::PatternFinder::detectMarkers(c.normalized, t).size();
    }
    state.counters["levels"] = static_cast<double>(levels.size());
    state.counters["markers"] = static_cast<double>(markers);
}
BENCHMARK(BM_markerLevels)->Unit(benchmark::kMillisecond)->Iterations(1)->MeasureProcessCPUTime()->UseRealTime();

void BM_dotLevels(benchmark::State &state)
{
    Captures &c = captures();
    const std::vector<int> levels = tl::PatternFinder::makeThresholdList(c.normalized);
    const tl::CalibWorkspace &ws = tl::calibWorkspace();
    double tp[tl::kCalibParamCount] = {};
    tl::WideCalibration lens(tp);
    lens.setPredefinedLens(ws.lens, ws.fwParam);
    tl::Calibration calib;
    tl::PatternFinder finder(lens, calib);
    finder.loadExpected();
    cv::Point2f markers[tl::PatternFinder::kSlots] = {};
    finder.findMarkerCenters(c.normalized, markers);
    if (!tl::calcProjection(markers, lens, calib)) {
        state.SkipWithError("no homography");
        return;
    }
    size_t dots = 0;
    for (auto _ : state) {
        tl::PatternFinder run(lens, calib);
        run.loadExpected();
        for (int t : levels)
            run.recogCircularPattern(c.normalized, t);
        dots = 0;
        for (int k = 0; k < tl::PatternFinder::kSlots; ++k)
            dots += run.dotList(k).size();
    }
    state.counters["dots"] = static_cast<double>(dots);
}
BENCHMARK(BM_dotLevels)->Unit(benchmark::kMillisecond)->Iterations(1)->MeasureProcessCPUTime()->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    tl::initResources();
    qInstallMessageHandler(quiet);
    captures();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
