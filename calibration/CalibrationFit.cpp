#include "calibration/CalibrationFit.h"

#include <QDebug>
#include <QString>

#include <algorithm>
#include <cmath>
#include <limits>

namespace tl {

namespace {

// Pattern slots that carry a marker; the others are dots.
constexpr int kMarkerSlots[] = { 6, 7, 8, 11, 12, 13, 16, 17, 18 };
// Pattern slots in the left and right columns of the 5 x 4 pattern.
constexpr int kSideSlots[] = { 0, 4, 5, 9, 10, 14, 15, 19 };

// A detection closer than this to the image's top or left edge is taken as
// "not found": missing points are stored as (0, 0).
constexpr float kMissingBelow = 3.0f;

// Largest mean squared window-pixel error per point of an accepted fit.
constexpr double kMaxSsePerPoint = 64.0;

constexpr int kCameraWidth = 1280;
constexpr int kCameraHeight = 720;

template <std::size_t N>
bool contains(const int (&table)[N], int k)
{
    for (int s : table)
        if (s == k)
            return true;
    return false;
}

FitResult fitEntry(bool bAuto, double *tpOut)
{
    CalibWorkspace &ws = calibWorkspace();
    const int n = clampedSlotCount(bAuto ? ws.ac_point_count : ws.mc_point_count);

    cv::Point2d cam[CalibWorkspace::kSlots];
    cv::Point2d win[CalibWorkspace::kSlots];
    int side = 0;
    const int valid = collectValidPoints(ws.ac_pattern_center_twk, n, cam, win, &side);
    FitResult result;

    if (bAuto) {
        qDebug() << "nRealCornerCount =" << valid << ", nSidePatternCount =" << side;
        result.fitted = valid >= n - 8 && valid <= n && side >= 2;
    } else {
        result.fitted = valid == n;
    }
    if (result.fitted) {
        const bool selected = fitWideModel(bAuto, valid, cam, win, tpOut);
        result.loops = ws.ac_loop;
        result.sse = ws.ac_sse;
        result.success = selected && isCalibAccepted(result.sse, valid);
    }
    ws.calib_success = result.success;
    std::copy(tpOut, tpOut + kCalibParamCount, result.parameters);
    return result;
}

} // namespace

bool calcProjection(const cv::Point2f *markerCenters, const WideCalibration &lensModel, Calibration &calib)
{
    CalibWorkspace &ws = calibWorkspace();
    const int n = clampedSlotCount(ws.ac_point_count);

    calib.clear();
    for (int j : kMarkerSlots) {
        if (j >= n)
            continue;
        const cv::Point2f &p = markerCenters[j];
        if (p.x == 0.f && p.y == 0.f)
            continue;
        // A broken detection can leave NaN or infinity; such a centre is as
        // good as missing and would poison the whole normal matrix.
        if (!std::isfinite(p.x) || !std::isfinite(p.y))
            continue;
        const cv::Point2d uv = lensModel.radialCorrection(cv::Point2d(p.x, p.y));
        calib.addPoint(static_cast<float>(uv.x), static_cast<float>(uv.y),
                       static_cast<float>(ws.win_coordi[j].x), static_cast<float>(ws.win_coordi[j].y));
    }

    const int count = calib.pointCount();
    if (count <= 3) {
        qDebug() << "calcProjection(): nRealCornerCount =" << count;
        return false;
    }

    calib.CalibrationMain();
    double h[9];
    const double *solved = calib.homography();
    for (int i = 0; i < 8; ++i)
        h[i] = solved[i] / solved[8];
    h[8] = 1.0;
    for (double v : h) {
        // Points in a degenerate layout (all on one line, or repeated) give a
        // homography with h8 = 0 that maps nothing: refuse it.
        if (!std::isfinite(v)) {
            qDebug() << "calcProjection(): degenerate homography, h8 =" << solved[8];
            return false;
        }
    }
    std::copy(h, h + 9, ws.homography);
    calib.setHomography(h);
    return true;
}

int collectValidPoints(const cv::Point2f *camTable, int n, cv::Point2d *camOut, cv::Point2d *winOut,
                       int *sideCount)
{
    const CalibWorkspace &ws = calibWorkspace();
    n = clampedSlotCount(n);
    const bool pattern = n == ws.ac_point_count;

    int nRealCornerCount = 0;
    int nSidePatternCount = 0;
    for (int k = 0; k < n; ++k) {
        const cv::Point2f &p = camTable[k];
        if (!(p.x > kMissingBelow && p.y > kMissingBelow))
            continue;
        camOut[nRealCornerCount] = cv::Point2d(p.x, p.y);
        winOut[nRealCornerCount] = ws.win_coordi[k];
        qDebug().noquote() << QString::asprintf(
            "No. %d CAM Coordi x : %f CAM Coordi y : %f  WIN Coordi x : %f WIN Coordi y : %f", k,
            camOut[nRealCornerCount].x, camOut[nRealCornerCount].y, winOut[nRealCornerCount].x,
            winOut[nRealCornerCount].y);
        ++nRealCornerCount;
        if (pattern && contains(kSideSlots, k))
            ++nSidePatternCount;
    }
    if (sideCount)
        *sideCount = nSidePatternCount;
    return nRealCornerCount;
}

bool fitWideModel(bool bAuto, int n, const cv::Point2d *cam, const cv::Point2d *win, double *tpOut)
{
    CalibWorkspace &ws = calibWorkspace();
    n = clampedSlotCount(n);

    WideCalibration wide;
    wide.setPoints(n, cam, win);
    for (int i = 0; i < n; ++i)
        qDebug().noquote() << QString::asprintf(
            "No. %2d: CAM x: %11.6f CAM y: %11.6f WIN x: %11.6f WIN y: %11.6f", i, cam[i].x, cam[i].y,
            win[i].x, win[i].y);

    constexpr int kMaxModes = 6;
    const int modes = bAuto ? 6 : 2;
    double results[kMaxModes][kCalibParamCount];
    int loops[kMaxModes] = {};
    double sses[kMaxModes] = {};
    double minSse = std::numeric_limits<double>::max();
    int minMode = -1;

    for (int m = 0; m < modes; ++m) {
        // Identity projective part, distortion centre mid-image, no distortion.
        double start[kCalibParamCount] = { 1, 0, 0, 0, 1, 0, 0, 0, 640, 360, 0, 0, 0 };
        if (!bAuto || m < 2) {
            // The screen usually sits in the lower part of the camera image.
            start[9] = 480;
        } else {
            WideCalibration::predefinedLens(ws.lens, ws.fwParam, start + 8);
            if (m >= 4)
                std::copy(ws.homography, ws.homography + 8, start);
        }
        wide.setParameters(start);
        wide.CalibrationMain(m);
        wide.getParameters(results[m]);
        loops[m] = wide.loopCount();
        sses[m] = wide.sse();
        // Strictly smaller: the earliest of equal modes wins. NaN never does.
        if (sses[m] < minSse) {
            minSse = sses[m];
            minMode = m;
        }
    }

    for (int m = 0; m < modes; ++m)
        qDebug() << "mode =" << m << "loop =" << loops[m] << "sse =" << sses[m];
    qDebug() << "min_sse =" << minSse;
    qDebug() << "min_sse_mode =" << minMode;

    if (minMode < 0) {
        ws.ac_loop = 0;
        ws.ac_sse = std::numeric_limits<double>::quiet_NaN();
        return false;
    }
    std::copy(results[minMode], results[minMode] + kCalibParamCount, tpOut);
    ws.ac_sse = sses[minMode];
    ws.ac_loop = loops[minMode];
    return true;
}

bool isCalibAccepted(double sse, int points)
{
    return sse < kMaxSsePerPoint * points;
}

FitResult AC_CallCalcCalibParameter(double *tpOut)
{
    qDebug() << "AC_CallCalcCalibParameter";
    return fitEntry(true, tpOut);
}

FitResult MC_CallCalcCalibParameter(double *tpOut)
{
    qDebug() << "MC_CallCalcCalibParameter";
    return fitEntry(false, tpOut);
}

int calcYThreshold(const double *tp, int windowWidth, int windowHeight)
{
    const WideCalibration model(tp);
    const double *p = model.parameters();
    const int yLimit = windowHeight * 30 / 100;

    int result = -1;
    for (int r = 0; r < kCameraHeight; ++r) {
        for (int c = 0; c < kCameraWidth; ++c) {
            const ModelPoint w = cameraToWindow(p, c, r);
            if (w.x >= 0 && w.x < windowWidth && w.y >= 0 && w.y < yLimit && r > result)
                result = r;
        }
    }
    qDebug() << "calcYThreshold():" << yLimit << "->" << result;
    return result;
}

} // namespace tl
