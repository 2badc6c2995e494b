#pragma once

#include "calibration/Calibration.h"
#include "calibration/WideCalibration.h"

#include <QtGlobal>

#include <opencv2/core.hpp>

#include <atomic>
#include <vector>

namespace tl {

// The two difference images the normalisation works in (white - black and
// white - pattern). Made on first use and kept: the normalisation runs three
// times a calibration on captures of one size. Whoever runs normalisations
// side by side gives each its own; by default each thread has one, which on
// the controller's thread lives as long as the process.
struct NormalizationScratch
{
    cv::Mat contrast;
    cv::Mat darkening;

    static NormalizationScratch &ofThisThread();
};

// Builds the working image of an auto calibration from the module's three
// captures: per pixel 255 - min(255, (white - pattern) * 256 / (white - black
// + 1)) where the screen has contrast, 255 where it has none. Dark pattern
// elements come out near 0. The captures come from the device: when they are
// not three 8-bit one-channel images of one size, the result is a 1280 x 720
// image without contrast (all 255), in which nothing is found.
void makeNormalizedPatternImage(const cv::Mat &black, const cv::Mat &white, const cv::Mat &pattern,
                                cv::Mat &normalized,
                                NormalizationScratch &scratch = NormalizationScratch::ofThisThread());

// What one pattern search found. Slots from `count` on stay (0, 0).
struct PatternSearchResult
{
    static constexpr int kSlots = 25;

    int count = 0;                   // pattern points of the run (ac_point_count)
    cv::Point2f found[kSlots];       // centres, camera px; (0, 0) = not found
    cv::Point2f foundTweaked[kSlots]; // found + the slot's tweak where both coordinates are above 3
    bool projected = false;          // the markers gave a homography
    double homography[9] = {};       // corrected camera -> window, h8 = 1; zero when not projected
    // CPU time the search's threshold levels spent on threads other than the
    // searching one (the levels are worked on two or more at a time). The
    // searching thread's own time over the search plus this is the search's
    // CPU time, without what other threads of the process do meanwhile. Work
    // the image library hands to its own threads outside the batches of
    // levels (the marker detection on the unthresholded image, a level worked
    // on alone) is in neither.
    qint64 workerCpuNs = 0;
};

// Finds the pattern points in the working image and returns them. Records
// them in the workspace too, as the fit reads them from there:
// ac_pattern_center_org, ac_pattern_center_twk (slots below ac_point_count)
// and, when the markers gave one, the homography. Unfound points stay (0, 0).
// Call setCalibInformation first.
PatternSearchResult AC_FindPatternCenter(const cv::Mat &normalized);

// CPU time of the calling thread, nanoseconds.
qint64 threadCpuNs();

// One marker as the detector saw it: its ID, its four corners (top-left,
// top-right, bottom-right, bottom-left of the marker in its own frame, camera
// pixels with pixel centres at integers) and the integer contour of its black
// square in the camera image.
struct MarkerDetection
{
    int id = -1;
    std::vector<cv::Point2f> corners;
    std::vector<cv::Point> contour;
};

// What the TAG16h5 detector is asked to do; the defaults are the search's.
// The detector fits the quads on the image reduced by `decimate` (1 = full
// resolution), after a Gaussian blur of `sigma` pixels (0 = none), moves the
// edges of a reduced image's quads onto the full image's gradients when
// `refineEdges`, and sharpens the cells it decodes by `sharpening`. IDs are
// taken only without a corrected bit (the family's codes are 5 bits apart),
// and one detection uses one thread (the levels run side by side). Measured
// on the emulator's working images, every threshold level (marker-compare):
// quads fitted at full resolution without blur found as many markers as a
// reduction by 2 (which took a third of the time but put a detection more
// than 2 px from its marker's other detections) and 3 to 5 % more than with
// a blur of 0.8 px (which took 15 % longer); the sharpening changed nothing.
struct MarkerDetectorSettings
{
    float decimate = 1.0f;
    float sigma = 0.0f;
    bool refineEdges = true;
    double sharpening = 0.25;
};

// The image a marker search runs on at threshold level `t`: binarised at t,
// or the image itself for t = -1. False when nothing is lit at that level.
bool markerLevelImage(const cv::Mat &image, int t, cv::Mat &work);

// The markers the search keeps of what the detector reported (ID and corners
// as MarkerDetection has them) on `work`, the image it was run on (`binary`:
// binarised to 0 and 255): a report with a corner that is not a finite point
// at least 3 pixels inside the image is dropped, since the marker's square is
// not wholly seen; the others get the contour of their black square.
std::vector<MarkerDetection> keptMarkers(const cv::Mat &work, bool binary, std::vector<MarkerDetection> reported);

// The run of one pattern search: the lens preset, the homography from the
// markers, the expected window points and the candidates per slot. Made for
// one call of AC_FindPatternCenter and thrown away; its steps are public so
// that each can be examined on its own.
class PatternFinder
{
public:
    static constexpr int kSlots = 25;
    // Each threshold loop stops after the level in which this much time passed.
    static constexpr int kLoopLimitMs = 5000;

    // `lensModel` supplies the radial correction, `calib` the homography.
    PatternFinder(WideCalibration &lensModel, Calibration &calib);

    // Takes the expected window points and window size from the workspace.
    void loadExpected();

    // The whole search; false when fewer than 4 markers were found (the
    // outputs then stay (0, 0)).
    bool findPatternCenters(const cv::Mat &image, cv::Point2f *found, cv::Point2f *foundTweaked);

    static std::vector<int> makeThresholdList(const cv::Mat &image);
    // t = -1: the image as it is; else binarised at t (above t white).
    static std::vector<MarkerDetection> detectMarkers(const cv::Mat &image, int t,
                                                      const MarkerDetectorSettings &settings = {});
    void findMarkerCenters(const cv::Mat &image, cv::Point2f *centers);
    void tweakMarkerCenter(cv::Point2f *centers);
    void recogCircularPattern(const cv::Mat &image, int t);
    void findCircleCenters(const cv::Mat &image, cv::Point2f *centers, cv::Point2f *corrections);

    cv::Point2d camToWindow(const cv::Point2d &cam) const;
    // The camera point within +-10 px of `start` (0.2-px grid) whose window
    // image lies nearest to `target`; *error gets the squared window distance.
    cv::Point2d searchInversePoint(const cv::Point2d &target, const cv::Point2d &start, double *error) const;
    static cv::Point2d robustMeanPoint(const std::vector<cv::Point2d> &points);

    // Centroid of a polygon (first moments over area); false for a polygon
    // without area.
    static bool polygonCentroid(const std::vector<cv::Point> &polygon, cv::Point2d *centroid);

    // Candidates gathered so far, per slot.
    const std::vector<MarkerDetection> &markerList(int k) const { return m_markers[k]; }
    const std::vector<cv::Point2d> &dotList(int k) const { return m_dots[k]; }
    const std::vector<cv::Point2d> &dotCorrectionList(int k) const { return m_dotCorrections[k]; }
    void setExpected(int k, const cv::Point2d &p) { m_expected[k] = p; }
    // Also sets the reach of the dot slots: 50 window px up to 1920 x 1080,
    // growing with the display beyond.
    void setWindowSize(int w, int h);
    double dotSlotReach() const { return m_dSlotReach; }
    // The camera point that the projection (lens preset and homography) maps
    // to window point `win`; false where it has none.
    bool windowToCam(const cv::Point2d &win, cv::Point2d *cam) const;
    // Widens the dots' camera box and area limits to the largest dot the
    // projection expects at the expected positions (by a margin), never below
    // the fixed limits of 160 px and 20000 px^2. Call with the homography set.
    void updateDotLimits();
    int dotBoxMax() const { return m_nDotBoxMax; }
    double dotAreaMax() const { return m_dDotAreaMax; }
    void setPointCount(int n) { m_nPointCount = n; }

    // Runs the per-threshold work of one loop on several threads and merges
    // the results in threshold order (identical to the sequential order).
    void setParallel(bool on) { m_bParallel = on; }
    // CPU time this finder's threshold levels have spent on threads other
    // than the searching one (PatternSearchResult::workerCpuNs).
    qint64 workerCpuNs() const { return m_workerCpuNs.load(); }

private:
    // Maps a camera polygon to the window, each coordinate rounded halves
    // upward; false when a point does not map to a finite window point.
    bool windowPolygon(const std::vector<cv::Point> &cam, std::vector<cv::Point> *win) const;
    void addMarkers(const std::vector<MarkerDetection> &found);
    struct DotHit
    {
        int slot;
        cv::Point2d centre;
        cv::Point2d correction;
    };
    std::vector<DotHit> circularCandidates(const cv::Mat &image, int t) const;
    // Files the dots found at threshold t under their slots.
    void addDots(int t, const std::vector<DotHit> &hits);

    WideCalibration &m_lens;
    Calibration &m_calib;
    cv::Point2d m_expected[kSlots];
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nDiameterNormal = 1;
    double m_dSlotReach = 50;
    int m_nDotBoxMax = 160;
    double m_dDotAreaMax = 20000;
    int m_nPointCount = 0;
    bool m_bParallel = false;
    std::atomic<qint64> m_workerCpuNs{ 0 };
    std::vector<MarkerDetection> m_markers[kSlots];
    std::vector<cv::Point2d> m_dots[kSlots];
    std::vector<cv::Point2d> m_dotCorrections[kSlots];
};

} // namespace tl
