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
// by a few per cent), as one lens differs from the next. With halfTurn the
// camera sees the screen upside down (a ceiling mount the image is not turned
// for): window (0, 0) lies at the camera image's bottom right.
SyntheticScene makeScene(int width, int height, int lens, int fwParam = 15, bool halfTurn = false);

// Sets the calibration workspace up for an auto run on the scene, as the flow
// leaves it before the fit: a fresh workspace with the calibration information
// of the 20 pattern points (ceiling flag as given), their camera centres with
// Gaussian noise of `sigma` camera pixels (drawn from a generator seeded with
// `seed`) stored as found and as tweaked, and the markers' homography through
// the lens preset. `cam` receives the centres; false when no homography was found.
bool prepareAutoRun(const SyntheticScene &scene, int ceiling, double sigma, unsigned seed,
                    std::vector<cv::Point2f> &cam);

// Margin of the outer calibration points from the window edge.
double patternMargin(int width, int height);

// Error of a fitted model against the truth over a grid of the whole window
// (every `stepPx` window pixels, edges included), in window pixels.
// The window is split into the part inside the outermost calibration points
// (where the fit interpolates) and the border band around it (where it
// extrapolates).
struct RecoveryError
{
    double rms = 0.0;
    double max = 0.0;
    double rmsInside = 0.0;
    double rmsBorder = 0.0;
    double maxBorder = 0.0;
    int samples = 0;
};
RecoveryError measureAgainstTruth(const SyntheticScene &scene, const double *fitted, int stepPx = 8);

// Sum of squared window errors of the model over the pairs, in double
// precision throughout.
double modelSse(const double *tp, const std::vector<cv::Point2d> &cam, const std::vector<cv::Point2d> &win);

// The least-squares minimum of the same model, found independently of the
// product's fitter: Gauss-Newton with a finite-difference Jacobian whose
// columns are scaled to unit length and solved by SVD, run from each start
// given; returns the best end point.
std::array<double, tl::kCalibParamCount> referenceLeastSquares(
    const std::vector<std::array<double, tl::kCalibParamCount>> &starts, const std::vector<cv::Point2d> &cam,
    const std::vector<cv::Point2d> &win);
