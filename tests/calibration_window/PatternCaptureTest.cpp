#include "LogCapture.h"
#include "WarpedCapture.h"
#include "WindowSupport.h"

#include "calibration/CalibWorkspace.h"
#include "calibration/CalibrationFit.h"
#include "calibration/PatternGeometry.h"
#include "calibration/PatternRecognition.h"
#include "platform/Clock.h"
#include "platform/ClockPace.h"

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <algorithm>

#include <time.h>

namespace {

// Screen position (row-major index) at which element k is drawn.
int screenPositionOf(int k, bool ceiling, bool rear)
{
    for (int s = 0; s < tl::kPatternPoints; ++s)
        if (tl::patternElement(s / 5, s % 5, ceiling, rear) == k)
            return s;
    return -1;
}

// The two 5000 ms limits of the search are read from the one clock. On a
// loaded machine they could cut a search short and make a result depend on
// the load; these tests slow the clock down (50 wall seconds per driver
// second) so that every threshold level is worked through.
struct UnhurriedClock
{
    UnhurriedClock() { tl::Clock::setCompression(0.02); }
    ~UnhurriedClock() { tl::Clock::setCompression(1); }
};

struct Recognition
{
    cv::Point2f org[25];
    cv::Point2f twk[25];
    int found = 0;
    bool projected = false;
};

// Loads the window's points into the workspace as the calibration flow does
// and runs the recognition on the three captures.
Recognition recognise(const CalibDlg &dlg, int lens, const cv::Mat &black, const cv::Mat &white, const cv::Mat &pattern)
{
    tl::setCalibPointCounts(lens);
    int w = 0, h = 0;
    dlg.getWindowSize(w, h);
    tl::setCalibInformation(dlg.getPoints(), 20, dlg.ceiling(), dlg.rear(), w, h, lens, 10, dlg.penType());
    cv::Mat normalized;
    tl::makeNormalizedPatternImage(black, white, pattern, normalized);
    tl::PatternSearchResult search;
    {
        UnhurriedClock clock;
        search = tl::AC_FindPatternCenter(normalized);
    }
    // The search records what it returns in the workspace, where the fit reads it.
    const tl::CalibWorkspace &ws = tl::calibWorkspace();
    Recognition run;
    for (int k = 0; k < 20; ++k) {
        run.org[k] = search.found[k];
        run.twk[k] = search.foundTweaked[k];
        run.found += run.org[k] != cv::Point2f(0, 0);
        EXPECT_EQ(ws.ac_pattern_center_org[k], search.found[k]) << k;
        EXPECT_EQ(ws.ac_pattern_center_twk[k], search.foundTweaked[k]) << k;
    }
    run.projected = search.projected;
    if (search.projected) {
        EXPECT_TRUE(std::equal(search.homography, search.homography + 9, ws.homography));
    }
    return run;
}

bool fitAccepted()
{
    double tp[13] = {};
    return tl::AC_CallCalcCalibParameter(tp).success;
}

} // namespace

// The pattern window, photographed through a lens with noise, is found
// whole and close to where the camera really sees each element.
TEST(PatternCapture, AllTwentyPointsFoundCloseToTheTruth)
{
    struct Case
    {
        int w, h, lens;
        bool ceiling, rear;
    };
    for (const Case &c : { Case{ 1920, 1080, 2, false, false }, Case{ 1280, 800, 1, true, false },
                           Case{ 1920, 1080, 3, false, true } }) {
        WindowRig rig(c.w, c.h, c.ceiling, c.rear);
        const cv::Mat window = toGrey(rig.showPattern());
        const WarpedCapture cam(c.w, c.h, c.lens, 0.7, 2.0, 5, c.ceiling, c.rear);
        LogCapture log;
        const Recognition run = recognise(*rig.dlg, c.lens, cam.black(), cam.white(), cam.capture(window, 3));
        EXPECT_EQ(run.found, 20) << c.w << " lens " << c.lens;
        EXPECT_TRUE(run.projected);
        EXPECT_TRUE(log.contains("AC_FindPatternCenter - End"));
        EXPECT_TRUE(log.contains("TweakX:"));
        EXPECT_TRUE(log.contains("tweakMarkerCenter"));
        const cv::Point2f *p = rig.dlg->getPoints();
        const cv::Point2f *tweak = tl::calibWorkspace().ac_tweak;
        double worst = 0;
        for (int k = 0; k < 20; ++k) {
            const cv::Point2f drawn = p[screenPositionOf(k, c.ceiling, c.rear)];
            const cv::Point2d truth = cam.cameraOf(drawn.x, drawn.y);
            const double err = cv::norm(cv::Point2d(run.org[k].x, run.org[k].y) - truth);
            worst = std::max(worst, err);
            EXPECT_LT(err, 1.0) << "point " << k << " found " << run.org[k] << " truth " << truth;
            // Found points carry the tweak of their slot.
            if (run.org[k] != cv::Point2f(0, 0)) {
                EXPECT_NEAR(run.twk[k].x, run.org[k].x + tweak[k].x, 1e-3);
                EXPECT_NEAR(run.twk[k].y, run.org[k].y + tweak[k].y, 1e-3);
            }
        }
        EXPECT_LT(worst, 1.0) << c.w << " lens " << c.lens;
        EXPECT_TRUE(fitAccepted());
    }
}

// Threshold levels worked on in parallel merge into exactly the candidates
// and centres of the sequential order.
TEST(PatternCapture, ParallelThresholdWorkEqualsTheSequentialOrder)
{
    WindowRig rig(1920, 1080);
    const cv::Mat window = toGrey(rig.showPattern());
    const WarpedCapture cam(1920, 1080, 2, 0.72, 2.0, 9);
    cv::Mat normalized;
    tl::makeNormalizedPatternImage(cam.black(), cam.white(), cam.capture(window, 3), normalized);
    tl::setCalibPointCounts(2);
    tl::setCalibInformation(rig.dlg->getPoints(), 20, 0, 0, 1920, 1080, 2, 10, 0);

    struct Result
    {
        cv::Point2f found[25], twk[25];
        QStringList log;
        std::vector<std::vector<cv::Point2d>> dots;
        std::vector<size_t> markers;
        qint64 processCpu = 0, threadCpu = 0, workerCpu = 0;
    };
    auto processCpuNs = [] {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return static_cast<qint64>(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    auto runOnce = [&normalized, &processCpuNs](bool parallel) {
        Result r;
        UnhurriedClock clock;
        LogCapture log;
        double tp[13] = {};
        tl::WideCalibration lens(tp);
        lens.setPredefinedLens(2, 10);
        tl::Calibration calib;
        tl::PatternFinder finder(lens, calib);
        finder.setParallel(parallel);
        const qint64 process0 = processCpuNs();
        const qint64 thread0 = tl::threadCpuNs();
        EXPECT_TRUE(finder.findPatternCenters(normalized, r.found, r.twk));
        r.workerCpu = finder.workerCpuNs();
        r.threadCpu = tl::threadCpuNs() - thread0;
        r.processCpu = processCpuNs() - process0;
        for (int k = 0; k < 25; ++k) {
            r.dots.push_back(finder.dotList(k));
            r.markers.push_back(finder.markerList(k).size());
        }
        r.log = log.lines();
        return r;
    };
    const Result a = runOnce(false);
    const Result b = runOnce(true);
    for (int k = 0; k < 25; ++k) {
        EXPECT_EQ(a.found[k], b.found[k]) << k;
        EXPECT_EQ(a.twk[k], b.twk[k]) << k;
        EXPECT_EQ(a.dots[k], b.dots[k]) << k;
        EXPECT_EQ(a.markers[k], b.markers[k]) << k;
    }
    EXPECT_EQ(a.log, b.log);
    // The worker figure holds only levels run on other threads: nothing when
    // the search runs alone, and with the searching thread's own time never
    // more than the whole process spent (the searching thread's share of a
    // batch is not counted twice).
    EXPECT_EQ(a.workerCpu, 0);
    EXPECT_GT(a.threadCpu, 0);
    EXPECT_LE(b.threadCpu + b.workerCpu, b.processCpu + 2000000)
        << "thread " << b.threadCpu << " workers " << b.workerCpu << " process " << b.processCpu;
    int found = 0;
    for (int k = 0; k < 20; ++k)
        found += a.found[k] != cv::Point2f(0, 0);
    EXPECT_EQ(found, 20);
}

// Whatever the module sends, the search ends, reads nothing outside its
// images and leaves unfound points at (0, 0); with too little found the fit
// rejects the run.
TEST(PatternCapture, BadCapturesLeaveUnfoundPointsAtZero)
{
    WindowRig rig(1920, 1080);
    const cv::Mat window = toGrey(rig.showPattern());
    const WarpedCapture cam(1920, 1080, 2, 0.7, 2.0, 11);
    const cv::Mat black = cam.black();
    const cv::Mat white = cam.white();
    auto allZero = [](const Recognition &run) {
        for (int k = 0; k < 20; ++k)
            if (run.org[k] != cv::Point2f(0, 0) || run.twk[k] != cv::Point2f(0, 0))
                return false;
        return true;
    };

    const cv::Mat allBlack(720, 1280, CV_8UC1, cv::Scalar(0));
    const cv::Mat allWhite(720, 1280, CV_8UC1, cv::Scalar(255));
    Recognition run = recognise(*rig.dlg, 2, allBlack, allBlack, allBlack);
    EXPECT_TRUE(allZero(run));
    EXPECT_FALSE(run.projected);
    EXPECT_FALSE(fitAccepted());
    run = recognise(*rig.dlg, 2, allWhite, allWhite, allWhite);
    EXPECT_TRUE(allZero(run));
    EXPECT_FALSE(run.projected);
    EXPECT_FALSE(fitAccepted());
    // A dark screen under a bright white capture: the pattern capture all black.
    run = recognise(*rig.dlg, 2, black, white, allBlack);
    EXPECT_TRUE(allZero(run));
    EXPECT_FALSE(fitAccepted());

    // Captures of another size.
    cv::Mat small;
    cv::resize(cam.capture(window, 3), small, cv::Size(640, 360));
    run = recognise(*rig.dlg, 2, black, white, small);
    EXPECT_TRUE(allZero(run));
    EXPECT_FALSE(fitAccepted());
    cv::Mat odd(37, 5, CV_8UC1, cv::Scalar(90));
    run = recognise(*rig.dlg, 2, odd, odd, odd);
    EXPECT_TRUE(allZero(run));
    // The working image itself of another size (no captures behind it).
    tl::AC_FindPatternCenter(cv::Mat(3, 3, CV_8UC1, cv::Scalar(0)));
    tl::AC_FindPatternCenter(cv::Mat());

    // Pure noise.
    cv::Mat noise(720, 1280, CV_8UC1);
    cv::RNG rng(4);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
    run = recognise(*rig.dlg, 2, black, white, noise);
    for (int k = 0; k < 20; ++k) {
        if (tl::isMarkerIndex(k)) {
            EXPECT_EQ(run.org[k], cv::Point2f(0, 0)) << k;
        }
    }
    EXPECT_FALSE(fitAccepted());

    // Five of nine markers covered: four are left, enough for the dots.
    cv::Mat covered = window.clone();
    const cv::Point2f *p = rig.dlg->getPoints();
    const int hide[] = { 6, 8, 12, 16, 18 };
    for (int k : hide)
        cv::rectangle(covered, cv::Rect(int(p[k].x) - 85, int(p[k].y) - 85, 170, 170), cv::Scalar(255), cv::FILLED);
    run = recognise(*rig.dlg, 2, black, white, cam.capture(covered, 3));
    for (int k : hide) {
        EXPECT_EQ(run.org[k], cv::Point2f(0, 0)) << k;
        EXPECT_EQ(run.twk[k], cv::Point2f(0, 0)) << k; // no tweak on an unfound point
    }
    EXPECT_NE(run.org[7], cv::Point2f(0, 0));
    EXPECT_NE(run.org[0], cv::Point2f(0, 0));
    // Six covered: three markers cannot give a homography; nothing is found.
    cv::rectangle(covered, cv::Rect(int(p[7].x) - 85, int(p[7].y) - 85, 170, 170), cv::Scalar(255), cv::FILLED);
    LogCapture log;
    run = recognise(*rig.dlg, 2, black, white, cam.capture(covered, 3));
    EXPECT_TRUE(allZero(run));
    EXPECT_FALSE(log.startingWith("calcProjection(): nRealCornerCount =").isEmpty());
    EXPECT_FALSE(fitAccepted());
}

// Each threshold loop gives up after the level in which 5000 ms of driver
// time passed, and works with what it found.
TEST(PatternCapture, EachLoopStopsAfterTheLevelThatPassedFiveSeconds)
{
    WindowRig rig(1280, 800);
    const cv::Mat window = toGrey(rig.showPattern());
    const WarpedCapture cam(1280, 800, 1, 0.7, 2.0, 3);
    cv::Mat normalized;
    tl::makeNormalizedPatternImage(cam.black(), cam.white(), cam.capture(window, 3), normalized);
    tl::setCalibPointCounts(1);
    tl::setCalibInformation(rig.dlg->getPoints(), 20, 0, 0, 1280, 800, 1, 10, 0);
    ASSERT_GT(tl::PatternFinder::makeThresholdList(normalized).size(), 2u);

    // A million-fold clock that counts work at that rate too: every level
    // takes far more than 5000 ms.
    tl::setWallPacedCompression(1e6);
    LogCapture log;
    double tp[13] = {};
    tl::WideCalibration lens(tp);
    lens.setPredefinedLens(1, 10);
    tl::Calibration calib;
    tl::PatternFinder finder(lens, calib);
    cv::Point2f found[25], twk[25];
    finder.findPatternCenters(normalized, found, twk);
    tl::Clock::setCompression(1);

    const QStringList timeouts = log.startingWith("timeout: ");
    ASSERT_EQ(timeouts.size(), 2) << "one per loop";
    EXPECT_GT(timeouts[0].mid(9).toLongLong(), 5000);
    // The dot loop worked on exactly one level.
    EXPECT_EQ(log.startingWith("recogCircularPattern: thr =").size(), 1);
    // What the first levels found is kept: the raw image and one level give
    // the markers.
    int markers = 0;
    for (int k = 0; k < 20; ++k)
        markers += tl::isMarkerIndex(k) && found[k] != cv::Point2f(0, 0);
    EXPECT_EQ(markers, 9);
}

// The dot search takes every outer boundary and hole without their
// hierarchy: the same contours as the two-level retrieval.
TEST(PatternCapture, ContourListEqualsTheTwoLevelContours)
{
    WindowRig rig(1920, 1080);
    const cv::Mat window = toGrey(rig.showPattern());
    const WarpedCapture cam(1920, 1080, 2, 0.7, 2.0, 21);
    cv::Mat normalized;
    tl::makeNormalizedPatternImage(cam.black(), cam.white(), cam.capture(window, 3), normalized);
    // A corner with off-screen noise and part of the pattern, small enough
    // for the two-level retrieval to finish quickly.
    const cv::Mat part = normalized(cv::Rect(0, 0, 640, 360));
    for (int t : { 60, 127, 200 }) {
        cv::Mat bin;
        cv::threshold(part, bin, t, 255, cv::THRESH_BINARY);
        std::vector<std::vector<cv::Point>> listed, twoLevel;
        std::vector<cv::Vec4i> hierarchy;
        cv::findContours(bin, listed, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
        cv::findContours(bin, twoLevel, hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_SIMPLE);
        ASSERT_GT(listed.size(), 100u) << "the noise should give many contours";
        auto key = [](const std::vector<cv::Point> &c) {
            std::vector<int> k;
            for (const cv::Point &p : c) {
                k.push_back(p.x);
                k.push_back(p.y);
            }
            return k;
        };
        std::vector<std::vector<int>> a, b;
        for (const auto &c : listed)
            a.push_back(key(c));
        for (const auto &c : twoLevel)
            b.push_back(key(c));
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        EXPECT_EQ(a, b) << "threshold " << t;
    }
}
