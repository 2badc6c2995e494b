#pragma once

#include <QtGlobal>

#include <opencv2/core.hpp>

namespace tl {

// The process-wide calibration workspace shared by pattern recognition, the
// model fit and the calibration flow. Every table has 25 slots; auto runs use
// the first ac_point_count, manual runs the first mc_point_count. Only the GUI
// thread touches it, one calibration at a time, so it has no lock.
struct CalibWorkspace
{
    static constexpr int kSlots = 25;

    cv::Point2d win_coordi[kSlots];              // window points of the run
    cv::Point2f ac_pattern_center_org[kSlots];   // found centres, camera px; (0, 0) = not found
    cv::Point2f ac_pattern_center_twk[kSlots];   // found + tweak; manual: touched camera points
    cv::Point2f ac_tweak[kSlots];                // tweak offsets, camera px
    int ac_tweak_num = 0;
    int ac_point_count = 0;                      // 20 for lens codes 1..4, else 0
    int mc_point_count = 0;                      // 16 for lens codes 1..4, else 0
    qint16 ac_window_width = 0;
    qint16 ac_window_height = 0;
    quint8 lens = 0;
    quint8 acCeiling = 0;
    quint8 acRear = 0;
    int fwParam = 0;
    double homography[9] = {};                   // corrected camera -> window, h8 = 1
    int ac_loop = 0;
    double ac_sse = 0.0;
    bool calib_success = false;
};

// The one workspace of the process; it starts zeroed.
CalibWorkspace &calibWorkspace();
// Back to the zeroed start state (for a fresh process-like start in tests).
void resetCalibWorkspace();

// Sets the point counts for a lens code: 20 auto points and 16 manual targets
// for codes 1 to 4, none otherwise.
void setCalibPointCounts(int lensCode);

// Loads the geometry of a run and chooses the tweak table: win_coordi from the
// n window points (n clamped to 0..25), window size, lens, mounting flags, and
// ac_tweak / ac_tweak_num from the predefined table of the lens, fwParam (lens
// 3 only) and pen type (0 or 1; any other pen type leaves the tweaks zero).
void setCalibInformation(const cv::Point2f *winPoints, int n, int acCeiling, int acRear,
                         int windowWidth, int windowHeight, int lens, int fwParam, int penType);

// Clamps a point count read from the workspace to the table size.
int clampedSlotCount(int n);

} // namespace tl
