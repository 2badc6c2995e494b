#pragma once

#include "calibration/CalibModel.h"

#include <opencv2/core.hpp>

#include <array>
#include <random>
#include <vector>

// A known camera-to-window mapping for one module and the calibration points a
// run would see through it: the ground truth the fitted model is measured
// against.
struct SyntheticScene
{
    int width = 0;
    int height = 0;
    int lens = 0;
    int fwParam = 15;
    std::array<double, tl::kCalibParamCount> truth{};

    // The 20 auto-pattern points and the 16 manual targets, in window pixels,
    // laid out as the calibration window draws them.
    std::vector<cv::Point2f> patternPoints;
    std::vector<cv::Point2f> manualTargets;

    // Camera point of a window point under the truth (must exist).
    cv::Point2d toCamera(const cv::Point2d &win) const;
    // Camera points of `win` with Gaussian noise of `sigma` camera pixels.
    std::vector<cv::Point2f> cameraPoints(const std::vector<cv::Point2f> &win, double sigma,
                                          std::mt19937 &rng) const;
};

// A projector view tilted like a real installation: the camera looks at the
// screen from above its centre, so the screen's far (top) edge is shorter,
// with a slight roll; the screen fills about 70 % of the camera's width. The
// distortion is the lens preset moved a little (centre by a few pixels, k1..k3
// by a few per cent), as one lens differs from the next.
SyntheticScene makeScene(int width, int height, int lens, int fwParam = 15);

// Margin of the outer calibration points from the window edge.
double patternMargin(int width, int height);

// Error of a fitted model against the truth over a grid of the whole window
// (every `stepPx` window pixels, edges included), in window pixels.
struct RecoveryError
{
    double rms = 0.0;
    double max = 0.0;
    int samples = 0;
};
RecoveryError measureAgainstTruth(const SyntheticScene &scene, const double *fitted, int stepPx = 8);
