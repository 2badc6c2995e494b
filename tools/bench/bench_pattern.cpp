// Pattern recognition on an emulator capture: the calibration window's
// pattern at 1920 x 1080, photographed by the module's synthetic camera
// (lens 1, default noise) at 1280 x 720.
//   build/bin/bench-pattern --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
// Time is wall time; CPU is the CPU time of all threads of the process.

#include "calibration/CalibDlg.h"
#include "calibration/CalibWorkspace.h"
#include "calibration/PatternRecognition.h"
#include "platform/Screens.h"
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
        tl::ScreenSource::setOverride({ { QRect(0, 0, 1920, 1080), 96.0 } });
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
        tl::setCalibInformation(dlg.getPoints(), 20, 0, 0, w, h, 1, 10, 0);
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
    for (auto _ : state) {
        tl::AC_FindPatternCenter(c.normalized);
        found = 0;
        for (int k = 0; k < 20; ++k)
            found += tl::calibWorkspace().ac_pattern_center_org[k].x > 3;
    }
    state.counters["found"] = found;
}
BENCHMARK(BM_AC_FindPatternCenter)->Unit(benchmark::kMillisecond)->Iterations(1)->MeasureProcessCPUTime()->UseRealTime();

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
