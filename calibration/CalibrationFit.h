#pragma once

#include "calibration/Calibration.h"
#include "calibration/CalibWorkspace.h"
#include "calibration/WideCalibration.h"

#include <opencv2/core.hpp>

namespace tl {

// The fit entries of a calibration run. They read and write the process-wide
// workspace (CalibWorkspace.h); call setCalibInformation first.

// Homography from the markers found in the camera image: for every marker
// slot (6, 7, 8, 11, 12, 13, 16, 17, 18) below ac_point_count whose centre is
// not (0, 0) and finite, the centre is radially corrected by `lensModel` and paired with
// win_coordi of the slot in `calib`. With 4 or more pairs the homography is
// solved, normalised to h8 = 1, stored in the workspace (and `calib`) and true
// is returned. Fewer pairs, or a homography that cannot be normalised (h8 zero
// or not finite), give false and leave the workspace homography as it was.
bool calcProjection(const cv::Point2f *markerCenters, const WideCalibration &lensModel, Calibration &calib);

// Appends every valid slot of the first n (clamped to 0..25) of `camTable` to
// the lists: a slot is valid when its camera x > 3 and y > 3. Returns the
// number of valid slots; *sideCount gets the valid slots among the left and
// right pattern columns (0, 4, 5, 9, 10, 14, 15, 19) when n is ac_point_count,
// else 0. The lists must hold 25 points.
int collectValidPoints(const cv::Point2f *camTable, int n, cv::Point2d *camOut, cv::Point2d *winOut,
                       int *sideCount);

// Fits the 13 parameters to n pairs from several start points (6 modes with
// bAuto, using the lens preset and the workspace homography; 2 without) and
// keeps the mode of least sse (the lower mode on a tie). Writes tpOut,
// ac_loop and ac_sse and returns true; returns false, leaving tpOut as it was,
// when no mode ends with a finite sse below the largest double.
bool fitWideModel(bool bAuto, int n, const cv::Point2d *cam, const cv::Point2d *win, double *tpOut);

// The acceptance rule of a fit: a mean squared error below 64 window pixels²
// per point. A NaN sse is never accepted.
bool isCalibAccepted(double sse, int points);

// What one fit entry found. The entry records the same in the workspace
// (ac_loop, ac_sse, calib_success) for whoever reads it from there.
struct FitResult
{
    bool success = false;                  // calib_success: fitted and sse < 64 x points
    bool fitted = false;                   // the points met the entry's precondition
    int loops = 0;                         // ac_loop of the best mode; 0 when not fitted
    double sse = 0.0;                      // ac_sse of the best mode; 0 when not fitted
    double parameters[kCalibParamCount] = {}; // the caller's array after the entry
};

// Auto calibration fit over ac_pattern_center_twk: needs at least
// ac_point_count - 8 valid points, two of them side points. Sets tpOut (the
// caller zeroes it first; it is left as it was when nothing is fitted),
// ac_loop, ac_sse and calib_success, which is true when ac_sse < 64 x valid
// points, and returns them.
FitResult AC_CallCalcCalibParameter(double *tpOut);

// Manual calibration fit over the touched points in ac_pattern_center_twk:
// needs all mc_point_count of them valid. Results as above.
FitResult MC_CallCalcCalibParameter(double *tpOut);

// The lowest camera row (largest index) of the 1280 x 720 image in which some
// pixel maps into the top 30 % of the window under tp, or -1 when none does.
int calcYThreshold(const double *tp, int windowWidth, int windowHeight);

} // namespace tl
