// simfit: fits the driver's 13-parameter model to exact, noise-free camera
// points of the emulator's synthetic cameras and reports how far the fitted
// model is from the camera's ground truth over a dense grid of the window.
//
//   simfit [--display WxH] [--seeds N]
//
// For lens codes 1 to 3 and the four mountings: the auto fit on the 20 pattern
// points (the driver's evaluation entry), the manual fit on the 16 targets, and
// a fit on 25 points spread over the whole window (what the family can reach
// with the most points the fitter takes). Errors in window pixels: RMS, 95th
// percentile and largest, inside the hull of the fitted points and over the
// whole window.

#include "calibration/CalibModel.h"
#include "calibration/CalibWorkspace.h"
#include "calibration/CalibrationFit.h"
#include "../../tests/sim/ExactFit.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace tl;
using namespace tl::sim;

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

struct Stats
{
    double rms = 0, p95 = 0, max = 0;
};

Stats stats(std::vector<double> e)
{
    Stats s;
    if (e.empty())
        return s;
    double sum = 0;
    for (double v : e)
        sum += v * v;
    s.rms = std::sqrt(sum / e.size());
    std::sort(e.begin(), e.end());
    s.p95 = e[std::min(e.size() - 1, size_t(0.95 * e.size()))];
    s.max = e.back();
    return s;
}

// Errors of the model against the ground truth on a grid, split by the hull
// (bounding box of the fitted window points) and the whole window.
void evaluate(const SyntheticCamera &cam, const double *tp, cv::Rect2d hull, Stats *inside, Stats *whole)
{
    const CameraSetup &s = cam.setup();
    std::vector<double> in, all;
    const int step = std::max(4, s.displayWidth / 240);
    for (int y = 0; y < s.displayHeight; y += step)
        for (int x = 0; x < s.displayWidth; x += step) {
            const cv::Point2d c = cam.windowToCamera({ double(x), double(y) });
            const ModelPoint w = cameraToWindow(tp, c.x, c.y);
            double e = std::hypot(w.x - x, w.y - y);
            if (!std::isfinite(e))
                e = 1e9;
            all.push_back(e);
            if (x >= hull.x && x <= hull.x + hull.width && y >= hull.y && y <= hull.y + hull.height)
                in.push_back(e);
        }
    *inside = stats(in);
    *whole = stats(all);
}

cv::Rect2d boxOf(const std::vector<cv::Point2d> &p)
{
    double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
    for (const auto &q : p) {
        x0 = std::min(x0, q.x);
        y0 = std::min(y0, q.y);
        x1 = std::max(x1, q.x);
        y1 = std::max(y1, q.y);
    }
    return { x0, y0, x1 - x0, y1 - y0 };
}

// Manual fit (the driver's manual entry) on the given window points.
bool fitManual(const SyntheticCamera &cam, const std::vector<cv::Point2d> &win, double *tp)
{
    const CameraSetup &s = cam.setup();
    resetCalibWorkspace();
    setCalibPointCounts(s.lens);
    CalibWorkspace &ws = calibWorkspace();
    ws.mc_point_count = int(win.size());
    cv::Point2f wf[25];
    for (size_t k = 0; k < win.size(); ++k)
        wf[k] = cv::Point2f(float(win[k].x), float(win[k].y));
    setCalibInformation(wf, int(win.size()), s.ceiling, s.rear, s.displayWidth, s.displayHeight, s.lens, 10, 0);
    for (size_t k = 0; k < win.size(); ++k) {
        const cv::Point2d c = cam.windowToCamera(win[k]);
        ws.ac_pattern_center_twk[k] = cv::Point2f(float(c.x), float(c.y));
    }
    std::fill(tp, tp + 13, 0.0);
    MC_CallCalcCalibParameter(tp);
    return ws.calib_success;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int W = 1920, H = 1080, seeds = 3;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--display"))
            std::sscanf(argv[++i], "%dx%d", &W, &H);
        else if (!std::strcmp(argv[i], "--seeds"))
            seeds = std::max(1, std::atoi(argv[++i]));
    }
    qInstallMessageHandler(quiet);

    // Manual targets (16, column-major) and a 5 x 5 grid over the whole window.
    const std::vector<cv::Point2d> pattern = sim::test::autoPatternPoints(W, H);
    const cv::Rect2d patternBox = boxOf(pattern);
    const double d = patternBox.x;
    std::vector<cv::Point2d> targets;
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k)
            targets.emplace_back((i * ((W - 1) - 2 * d) + 1) / 3 + d, (k * ((H - 1) - 2 * d) + 1) / 3 + d);
    std::vector<cv::Point2d> grid;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            grid.emplace_back(i * (W - 1) / 4.0, j * (H - 1) / 4.0);

    std::printf("display %dx%d, %d seeds per case; window px: RMS / p95 / max\n", W, H, seeds);
    std::printf("%-4s %-7s %-4s | %-24s %-24s | %-24s | %-24s\n", "lens", "mount", "seed", "auto: in pattern hull",
                "auto: whole window", "manual: in target hull", "25-pt grid: whole window");
    const char *mountName[4] = { "front", "rear", "ceil", "ceil+r" };
    for (int lens = 1; lens <= 3; ++lens)
        for (int mnt = 0; mnt < 4; ++mnt)
            for (int seed = 1; seed <= seeds; ++seed) {
                CameraSetup s;
                s.displayWidth = W;
                s.displayHeight = H;
                s.lens = lens;
                s.ceiling = mnt >= 2;
                s.rear = mnt % 2 == 1;
                s.seed = uint64_t(seed);
                const SyntheticCamera cam(s);
                double tp[13];
                Stats aIn, aAll, mIn, mAll, gIn, gAll;
                const bool aOk = sim::test::fitExactAuto(cam, tp);
                evaluate(cam, tp, patternBox, &aIn, &aAll);
                const bool mOk = fitManual(cam, targets, tp);
                evaluate(cam, tp, boxOf(targets), &mIn, &mAll);
                const bool gOk = fitManual(cam, grid, tp);
                evaluate(cam, tp, boxOf(grid), &gIn, &gAll);
                auto cell = [](const Stats &x, bool ok) {
                    static char buf[8][64];
                    static int n = 0;
                    char *b = buf[n++ % 8];
                    std::snprintf(b, 64, "%6.3f %6.3f %7.3f%s", x.rms, x.p95, x.max, ok ? "  " : " !");
                    return b;
                };
                std::printf("%-4d %-7s %-4d | %-24s %-24s | %-24s | %-24s\n", lens, mountName[mnt], seed,
                            cell(aIn, aOk), cell(aAll, aOk), cell(mIn, mOk), cell(gAll, gOk));
                std::fflush(stdout);
            }
    std::printf("(! = the driver's acceptance rule rejected the fit)\n");
    return 0;
}
