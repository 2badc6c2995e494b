#pragma once

// The driver's own fit run on exact camera points of a synthetic camera: what
// a perfect pattern recognition would hand to the evaluation.

#include "calibration/Calibration.h"
#include "calibration/CalibWorkspace.h"
#include "calibration/CalibrationFit.h"
#include "calibration/PatternGeometry.h"
#include "calibration/WideCalibration.h"
#include "sim/SyntheticCamera.h"

#include <cmath>
#include <vector>

namespace tl::sim::test {

// The 20 positions of the auto-calibration pattern of a window (row-major,
// 4 rows of 5), as the calibration window places them.
inline std::vector<cv::Point2d> autoPatternPoints(int w, int h)
{
    const int R = std::max(int(std::floor(w * 50.0 / 1280 + 0.5)), int(std::floor(h * 50.0 / 800 + 0.5)));
    double d;
    if (int64_t(w) * 800 == int64_t(h) * 1280)
        d = w * 70.0 / 1280;
    else if (w <= 1280)
        d = R + 10;
    else
        d = R + w * 20.0 / 1280;
    const double e = (h - 1) - 2 * d;
    const double f = (w - 1) - 2 * d;
    std::vector<cv::Point2d> pts;
    for (int g = 0; g < 4; ++g) {
        const double y = std::floor(g * e / 3 + d + 0.5);
        const double xs[5] = { std::floor(0 * f / 3 + d + 0.5), std::floor(1 * f / 3 + d + 0.5), double(w / 2),
                               std::floor(2 * f / 3 + d + 0.5), std::floor(3 * f / 3 + d + 0.5) };
        for (double x : xs)
            pts.emplace_back(x, y);
    }
    return pts;
}

// Fits the 13 parameters through the auto-calibration entry to the exact
// camera points of the pattern, plus the tweak table of `penType` as the
// product adds it (any other pen type, the default: no tweak, the model's own
// floor). True when the fit is accepted. With `asDrawn` each pattern
// element is found where the calibration window draws it for the camera's
// mounting (turned for ceiling, mirrored for rear), as the recognition finds
// it; without, element k is taken at screen position k whatever the mounting.
inline bool fitExactAuto(const SyntheticCamera &cam, double tp[13], bool asDrawn = false, int penType = -1)
{
    const CameraSetup &s = cam.setup();
    const std::vector<cv::Point2d> win = autoPatternPoints(s.displayWidth, s.displayHeight);
    resetCalibWorkspace();
    setCalibPointCounts(s.lens);
    // The fit is handed what the window hands it: each element's middle as
    // drawn, in the module's frame (with `asDrawn`), or the positions.
    float positions[2 * 20];
    for (size_t k = 0; k < win.size(); ++k) {
        positions[2 * k] = float(win[k].x);
        positions[2 * k + 1] = float(win[k].y);
    }
    cv::Point2f wf[25];
    for (size_t k = 0; k < win.size(); ++k) {
        double x = win[k].x, y = win[k].y;
        if (asDrawn)
            patternDrawnPoint(positions, int(k), s.displayWidth, s.displayHeight, s.ceiling, s.rear, &x, &y);
        wf[k] = cv::Point2f(float(x), float(y));
    }
    setCalibInformation(wf, 20, s.ceiling, s.rear, s.displayWidth, s.displayHeight, s.lens, 10, penType);
    CalibWorkspace &ws = calibWorkspace();
    cv::Point2f found[25];
    for (size_t k = 0; k < win.size(); ++k) {
        // The fit's point of element k is the middle of the element as drawn,
        // in the module's frame; on the screen it lies turned or mirrored back.
        cv::Point2d onScreen = ws.win_coordi[k];
        if (asDrawn) {
            if (s.ceiling)
                onScreen = cv::Point2d((s.displayWidth - 1) - onScreen.x, (s.displayHeight - 1) - onScreen.y);
            if (s.rear)
                onScreen.x = (s.displayWidth - 1) - onScreen.x;
        }
        const cv::Point2d c = cam.windowToCamera(onScreen);
        found[k] = cv::Point2f(float(c.x), float(c.y));
        ws.ac_pattern_center_org[k] = found[k];
        ws.ac_pattern_center_twk[k] = found[k] + ws.ac_tweak[k];
    }
    // The homography from the marker points, as recognition leaves it.
    double preset[13] = { 1, 0, 0, 0, 1, 0, 0, 0, 640, 360, 0, 0, 0 };
    WideCalibration::predefinedLens(s.lens, 10, preset + 8);
    const WideCalibration lensModel(preset);
    Calibration calib;
    calcProjection(found, lensModel, calib);
    for (int i = 0; i < 13; ++i)
        tp[i] = 0;
    return AC_CallCalcCalibParameter(tp).success;
}

} // namespace tl::sim::test
