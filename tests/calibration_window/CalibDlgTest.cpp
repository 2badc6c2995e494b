#include "LogCapture.h"
#include "WindowSupport.h"

#include "calibration/CalibWorkspace.h"
#include "calibration/PatternGeometry.h"
#include "tests/support/DriverSpin.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

bool isBlack(const QImage &img, int x, int y)
{
    return qGray(img.pixel(x, y)) < 40;
}

bool isWhite(const QImage &img, int x, int y)
{
    return qGray(img.pixel(x, y)) > 215;
}

int round(float v)
{
    return static_cast<int>(std::floor(v + 0.5f));
}

// Width of the black run through (x, y) along the row.
int blackRunWidth(const QImage &img, int x, int y)
{
    int l = x, r = x;
    while (l > 0 && isBlack(img, l - 1, y))
        --l;
    while (r + 1 < img.width() && isBlack(img, r + 1, y))
        ++r;
    return r - l + 1;
}

} // namespace

TEST(CalibDlgGeometry, Window1280x800UsesMargin70Radius50AndCell17)
{
    WindowRig rig(1280, 800);
    LogCapture log;
    const QImage img = rig.showPattern();
    ASSERT_EQ(img.size(), QSize(1280, 800));
    int w = 0, h = 0;
    rig.dlg->getWindowSize(w, h);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 800);

    const cv::Point2f *p = rig.dlg->getPoints();
    EXPECT_EQ(p[0], cv::Point2f(70, 70));
    EXPECT_EQ(p[2], cv::Point2f(640, 70));       // middle column: half the width
    EXPECT_EQ(p[4], cv::Point2f(1209, 70));
    EXPECT_EQ(p[19], cv::Point2f(1209, 729));
    EXPECT_EQ(p[6], cv::Point2f(450, 290));      // round(1139/3 + 70), round(659/3 + 70)
    for (int k = 20; k < CalibDlg::kPointSlots; ++k)
        EXPECT_EQ(p[k], cv::Point2f(0, 0));
    EXPECT_TRUE(log.contains("marker size = 50 17"));

    // Marker 6 is 6 x 17 = 102 pixels wide: its black border row spans
    // exactly that many pixels.
    EXPECT_EQ(blackRunWidth(img, 450, 290 - 51), 102);
    // Dots lie in the first row and the outer columns only, all with radius
    // R: 2R + 1 pixels across.
    EXPECT_EQ(blackRunWidth(img, 70, 70), 101);
    EXPECT_EQ(blackRunWidth(img, 640, 70), 101);
    EXPECT_EQ(blackRunWidth(img, 70, round(p[10].y)), 101);
}

TEST(CalibDlgGeometry, Window1920x1080UsesMargin105)
{
    WindowRig rig(1920, 1080);
    LogCapture log;
    rig.showPattern();
    const cv::Point2f *p = rig.dlg->getPoints();
    EXPECT_EQ(p[0], cv::Point2f(105, 105));
    EXPECT_EQ(p[19], cv::Point2f(1919 - 105, 1079 - 105));
    EXPECT_TRUE(log.contains("marker size = 75 25"));
    int R = 0, S = 0;
    tl::patternCircleRadius(1920, 1080, R, S);
    EXPECT_EQ(R, 75);
    EXPECT_EQ(S, 60);
}

TEST(CalibDlgGeometry, ManualTargetsSixteenAndTwentyFive)
{
    WindowRig rig(1920, 1080);
    rig.dlg->showOnMonitor(0, CalibDlg::ModeManual);
    rig.dlg->prepareManualMarks();
    const cv::Point2f *p = rig.dlg->getPoints();
    // Column-major, not rounded: x = (i*f + 1)/3 + d with f = 1919 - 210.
    EXPECT_FLOAT_EQ(p[4 * 1 + 0].x, 675.f);
    EXPECT_FLOAT_EQ(p[4 * 2 + 0].x, static_cast<float>((2 * 1709.0 + 1) / 3 + 105));
    EXPECT_FLOAT_EQ(p[4 * 0 + 3].y, static_cast<float>((3 * 869.0 + 1) / 3 + 105));
    EXPECT_EQ(p[16], cv::Point2f(0, 0));
    // The mark is centred on target 0, its corner rounded halves upward.
    EXPECT_EQ(rig.dlg->markLabel()->geometry(), QRect(105 - 56, round(p[0].y - 56), 113, 113));
    EXPECT_EQ(rig.dlg->markRect(8).x(), round(p[8].x - 56.f));
    EXPECT_TRUE(rig.dlg->markLabel()->isVisibleTo(rig.dlg.get()));

    // 25 targets on a 16:10 window: margin w*10/1280, rounded positions.
    tl::calibWorkspace().mc_point_count = 25;
    WindowRig wide(1280, 800);
    tl::calibWorkspace().mc_point_count = 25;
    wide.dlg->showOnMonitor(0, CalibDlg::ModeManual);
    wide.dlg->prepareManualMarks();
    const cv::Point2f *q = wide.dlg->getPoints();
    EXPECT_EQ(q[0], cv::Point2f(10, 10));
    EXPECT_EQ(q[5 * 1 + 0], cv::Point2f(325, 10));   // round(1259/4 + 10)
    EXPECT_EQ(q[5 * 4 + 4], cv::Point2f(1269, 789));
    EXPECT_EQ(q[5 * 0 + 2], cv::Point2f(10, 400));   // round(2*779/4 + 10) = 399.5 -> 400
}

TEST(CalibDlgGeometry, MonitorChoiceForOneAndTwoModules)
{
    WindowRig one(1280, 800, false, false, 2);
    one.settings->setNumOfCamDevice(1);
    one.settings->setMonitor(1);
    one.dlg->showOnMonitor(0, CalibDlg::ModeBlack);
    EXPECT_EQ(one.dlg->geometry(), QRect(1280, 0, 1280, 800));

    one.settings->setNumOfCamDevice(2);
    one.dlg->showOnMonitor(1, CalibDlg::ModeBlack);
    EXPECT_EQ(one.dlg->geometry(), QRect(1280, 0, 1280, 800));
    one.dlg->showOnMonitor(0, CalibDlg::ModeBlack);
    EXPECT_EQ(one.dlg->geometry(), QRect(0, 0, 1280, 800));
    EXPECT_EQ(one.dlg->devNum(), 0);

    one.dlg->showOnMonitor(-1, CalibDlg::ModeBlack);
    int w = -1, h = -1;
    one.dlg->getWindowSize(w, h);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(one.dlg->pos(), QPoint(0, 0));
    EXPECT_EQ(one.dlg->devNum(), -1);
}

TEST(CalibDlgPattern, CeilingPutsMarker18TopSecondAndDotsAlongTheBottom)
{
    WindowRig rig(1280, 800, true, false);
    const QImage img = rig.showPattern();
    const cv::Point2f *p = rig.dlg->getPoints();
    EXPECT_EQ(tl::patternElement(0, 1, true, false), 18);
    // The top row, second column holds a marker: its 6 x 6 grid has a black
    // border but white cells inside (marker 18's inner row 1 is 0101).
    const int cx = round(p[1].x), cy = round(p[1].y);
    EXPECT_TRUE(isBlack(img, cx - 3 * 17 + 8, cy - 3 * 17 + 8));
    EXPECT_TRUE(isWhite(img, cx - 3 * 17 + 17 + 8, cy - 3 * 17 + 17 + 8));
    EXPECT_TRUE(isBlack(img, cx - 3 * 17 + 34 + 8, cy - 3 * 17 + 17 + 8));
    // Bottom row: five large dots (elements 0..4, the camera's first row).
    for (int b = 0; b < 5; ++b) {
        const int x = round(p[15 + b].x), y = round(p[15 + b].y);
        EXPECT_EQ(blackRunWidth(img, x, y), 101) << b;
        EXPECT_LT(tl::patternElement(3, b, true, false), 5);
    }
}

TEST(CalibDlgPattern, RearMirrorsEveryMarker)
{
    WindowRig front(1280, 800, false, false);
    const QImage a = front.showPattern();
    WindowRig rear(1280, 800, false, true);
    const QImage b = rear.showPattern();
    const cv::Point2f *p = front.dlg->getPoints();
    const int m = 17;
    int markersChecked = 0;
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 5; ++col) {
            const int l = tl::patternElement(row, col, false, true);
            if (!tl::isMarkerIndex(l))
                continue;
            // Element l sits at (row, 4 - col) in the front pattern; here its
            // cells are mirrored left to right.
            const cv::Point2f &pr = p[5 * row + col];
            const cv::Point2f &pf = p[5 * row + 4 - col];
            bool differsUnmirrored = false;
            for (int i = 0; i < 6; ++i) {
                for (int j = 0; j < 6; ++j) {
                    const int yr = round(pr.y) - 3 * m + i * m + m / 2;
                    const int xr = round(pr.x) - 3 * m + j * m + m / 2;
                    const int yf = round(pf.y) - 3 * m + i * m + m / 2;
                    const int xfMirror = round(pf.x) - 3 * m + (5 - j) * m + m / 2;
                    const int xfSame = round(pf.x) - 3 * m + j * m + m / 2;
                    EXPECT_EQ(isBlack(b, xr, yr), isBlack(a, xfMirror, yf)) << l << " " << i << " " << j;
                    differsUnmirrored = differsUnmirrored || isBlack(b, xr, yr) != isBlack(a, xfSame, yf);
                }
            }
            EXPECT_TRUE(differsUnmirrored) << "marker " << l << " is symmetric, the test proves nothing for it";
            ++markersChecked;
        }
    }
    EXPECT_EQ(markersChecked, 9);
}

TEST(CalibDlgKeys, EscapeBackspaceDeleteAndClose)
{
    WindowRig rig(1280, 800);
    QSignalSpy done(rig.dlg.get(), SIGNAL(calDlgWorkingDone(int)));
    QSignalSpy prev(rig.dlg.get(), SIGNAL(sigMCPrevStepPointer(int)));
    rig.dlg->showOnMonitor(1, CalibDlg::ModeBlack);
    rig.settings->setNumOfCamDevice(2);

    // Hidden: nothing is emitted.
    LogCapture log;
    QTest::keyClick(rig.dlg.get(), Qt::Key_Escape);
    QTest::keyClick(rig.dlg.get(), Qt::Key_Backspace);
    QTest::keyClick(rig.dlg.get(), Qt::Key_Delete);
    EXPECT_EQ(done.count(), 0);
    EXPECT_EQ(prev.count(), 0);
    EXPECT_TRUE(log.contains("CalibDlg::keyPressEvent(): Key_Escape false"));

    rig.dlg->showDisplay();
    ASSERT_TRUE(rig.dlg->isVisible());
    QTest::keyClick(rig.dlg.get(), Qt::Key_Backspace);
    QTest::keyClick(rig.dlg.get(), Qt::Key_Delete);
    QTest::keyClick(rig.dlg.get(), Qt::Key_A);
    QTest::keyClick(rig.dlg.get(), Qt::Key_Return);
    ASSERT_EQ(prev.count(), 2);
    EXPECT_EQ(prev.at(0).at(0).toInt(), 1);
    EXPECT_TRUE(rig.dlg->isVisible()); // Return does not accept the dialog
    EXPECT_EQ(done.count(), 0);

    QTest::keyClick(rig.dlg.get(), Qt::Key_Escape);
    EXPECT_FALSE(rig.dlg->isVisible());
    ASSERT_EQ(done.count(), 1);
    EXPECT_EQ(done.at(0).at(0).toInt(), 1);
    EXPECT_TRUE(log.contains("CalibDlg::keyPressEvent(): Key_Escape true"));

    rig.dlg->showDisplay();
    rig.dlg->close();
    EXPECT_FALSE(rig.dlg->isVisible());
    EXPECT_EQ(done.count(), 2);
}

TEST(CalibDlgManual, RingDrawsOnTheTargetRingsAndEmitsOnTheTwelfthTick)
{
    WindowRig rig(1280, 800);
    rig.dlg->showOnMonitor(0, CalibDlg::ModeManual);
    rig.dlg->prepareManualMarks();
    rig.dlg->setCount(0);
    QSignalSpy next(rig.dlg.get(), SIGNAL(sigMCNextStepPointer()));
    const QImage original = rig.dlg->markLabel()->pixmap(Qt::ReturnByValue).toImage();

    // The target image is white wherever the three arcs run.
    const double rings[3][3] = { { 56.25, 56.25, 37.25 }, { 56.5, 56.5, 25.5 }, { 56.2, 56.2, 13 } };
    for (const auto &ring : rings)
        for (int deg = 0; deg < 360; deg += 15) {
            const double a = deg * M_PI / 180;
            const int x = static_cast<int>(ring[0] + ring[2] * std::cos(a));
            const int y = static_cast<int>(ring[1] - ring[2] * std::sin(a));
            EXPECT_TRUE(isWhite(original, x, y)) << ring[2] << " " << deg;
        }

    rig.dlg->startMarkRing(true);
    EXPECT_TRUE(rig.dlg->isRingRunning());
    for (int tick = 1; tick <= 5; ++tick)
        rig.dlg->OnTimer();
    // Half the ring: the arcs run counter-clockwise from 3 o'clock; 180 deg
    // reached, the top is red, the bottom still white.
    QImage half = rig.dlg->markLabel()->pixmap(Qt::ReturnByValue).toImage();
    EXPECT_EQ(rig.dlg->ringAngle(), 180);
    const QRgb top = half.pixel(56, static_cast<int>(56.25 - 37.25));
    const QRgb bottom = half.pixel(56, static_cast<int>(56.25 + 37.25));
    EXPECT_GT(qRed(top), 200);
    EXPECT_LT(qGreen(top), 60);
    EXPECT_TRUE(isWhite(half, 56, static_cast<int>(56.25 + 37.25))) << qRed(bottom);

    for (int tick = 6; tick <= 11; ++tick)
        rig.dlg->OnTimer();
    EXPECT_EQ(rig.dlg->ringAngle(), 396);
    EXPECT_EQ(next.count(), 0);
    rig.dlg->OnTimer();
    EXPECT_EQ(next.count(), 1);
    EXPECT_EQ(rig.dlg->markLabel()->pixmap(Qt::ReturnByValue).toImage(), original);

    rig.dlg->startMarkRing(false);
    EXPECT_FALSE(rig.dlg->isRingRunning());
    EXPECT_EQ(rig.dlg->ringAngle(), 0);

    // At the end of the targets the ring completes without a signal.
    rig.dlg->setCount(16);
    rig.dlg->startMarkRing(true);
    for (int tick = 1; tick <= 13; ++tick)
        rig.dlg->OnTimer();
    EXPECT_EQ(next.count(), 1);
    rig.dlg->startMarkRing(false);
}

TEST(CalibDlgManual, LastTargetStopsDrawingAndHidesTheMark)
{
    WindowRig rig(1280, 800);
    rig.dlg->showOnMonitor(0, CalibDlg::ModeManual);
    rig.dlg->prepareManualMarks();
    rig.dlg->setCount(15);
    rig.dlg->showDisplay();
    // The background's title and the instructions are drawn for the last target.
    const QImage last = rig.dlg->grab().toImage();
    auto brightPixels = [](const QImage &img, const QRect &r) {
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                n += qGray(img.pixel(x, y)) > 200;
        return n;
    };
    const QRect title(400, 140, 480, 90);
    const QRect text(190, 400, 900, 100);
    EXPECT_GT(brightPixels(last, title), 500);
    EXPECT_GT(brightPixels(last, text), 500);
    EXPECT_LT(qGray(last.pixel(5, 5)), 20); // the black background

    rig.dlg->incCount();
    rig.dlg->nextMark();
    EXPECT_FALSE(rig.dlg->markLabel()->isVisibleTo(rig.dlg.get()));
    rig.dlg->setDisplayMode(CalibDlg::ModeKeep);
    // Only the window's own plain background is left.
    const QImage after = rig.dlg->grab().toImage();
    const QRgb plain = after.pixel(5, 5);
    EXPECT_GT(qGray(plain), 20);
    int differing = 0;
    for (const QRect &r : { title, text })
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                differing += after.pixel(x, y) != plain;
    EXPECT_EQ(differing, 0);
}

TEST(CalibDlgManual, MarkMovesBetweenTargetsIn400ms)
{
    WindowRig rig(1280, 800);
    rig.dlg->showOnMonitor(0, CalibDlg::ModeManual);
    rig.dlg->prepareManualMarks();
    rig.dlg->setCount(1);
    rig.dlg->nextMark();
    EXPECT_TRUE(rig.dlg->isMoveRunning());
    // Let the animation run out; its end is target 1.
    tl::test::spinUntil([&] { return !rig.dlg->isMoveRunning(); }, 2000);
    EXPECT_FALSE(rig.dlg->isMoveRunning());
    EXPECT_EQ(rig.dlg->markLabel()->geometry(), rig.dlg->markRect(1));

    rig.dlg->setCount(0);
    rig.dlg->prevMark();
    tl::test::spinUntil([&] { return !rig.dlg->isMoveRunning(); }, 2000);
    EXPECT_EQ(rig.dlg->markLabel()->geometry(), rig.dlg->markRect(0));
}

TEST(CalibDlgSync, SetDisplayModeReturnsAfterThePaintOrGivesUp)
{
    WindowRig rig(1280, 800);
    rig.dlg->showOnMonitor(0, CalibDlg::ModeBlack);
    rig.dlg->prepareAutoPattern();
    {
        // Hidden: no paint ever comes; the call still returns.
        LogCapture log;
        rig.dlg->setDisplayMode(CalibDlg::ModePattern);
        EXPECT_EQ(rig.dlg->displayMode(), CalibDlg::ModePattern);
        EXPECT_TRUE(log.startingWith("marker size =").isEmpty());
    }
    rig.dlg->showDisplay();
    {
        LogCapture log;
        rig.dlg->setDisplayMode(CalibDlg::ModeWhite);
        rig.dlg->setDisplayMode(CalibDlg::ModePattern);
        // The pattern was painted before the call returned.
        EXPECT_EQ(log.startingWith("marker size =").size(), 1);
        rig.dlg->setDisplayMode(CalibDlg::ModeKeep);
        EXPECT_EQ(rig.dlg->displayMode(), CalibDlg::ModePattern);
        EXPECT_EQ(log.startingWith("marker size =").size(), 2);
    }
    rig.dlg->setTouchAccepted(true);
    EXPECT_TRUE(rig.dlg->isTouchAccepted());
    rig.dlg->setTouchAccepted(false);
    EXPECT_FALSE(rig.dlg->isTouchAccepted());
}

TEST(CalibDlgPattern, FitIsHandedTheMiddleOfEachElementAsDrawnInTheModulesFrame)
{
    // For every mounting, the window point the fit pairs with element k is
    // the middle of the black element the window drew (its bounding box of
    // black pixels), turned or mirrored about the pixel centres as the module
    // turns its points back: markers are not half a pixel off, and the middle
    // column lands on itself when mirrored.
    for (const QSize size : { QSize(1920, 1080), QSize(1366, 768) }) {
        for (int mount = 0; mount < 4; ++mount) {
            const bool ceiling = mount & 1, rear = mount & 2;
            WindowRig rig(size.width(), size.height(), ceiling, rear);
            const QImage img = rig.showPattern();
            const int W = size.width(), H = size.height();
            const cv::Point2f *p = rig.dlg->getPoints();
            const cv::Point2f *fit = rig.dlg->getFitPoints();
            int R = 0, S = 0;
            tl::patternCircleRadius(W, H, R, S);
            for (int k = 0; k < 20; ++k) {
                const int q = tl::patternPositionOf(k, ceiling, rear);
                ASSERT_GE(q, 0);
                ASSERT_EQ(tl::patternElement(q / 5, q % 5, ceiling, rear), k);
                const int cx = round(p[q].x), cy = round(p[q].y);
                int x0 = W, x1 = -1, y0 = H, y1 = -1;
                for (int y = std::max(0, cy - R - 6); y <= std::min(H - 1, cy + R + 6); ++y)
                    for (int x = std::max(0, cx - R - 6); x <= std::min(W - 1, cx + R + 6); ++x)
                        if (isBlack(img, x, y)) {
                            x0 = std::min(x0, x);
                            x1 = std::max(x1, x);
                            y0 = std::min(y0, y);
                            y1 = std::max(y1, y);
                        }
                ASSERT_GE(x1, x0) << k;
                double mx = (x0 + x1) / 2.0, my = (y0 + y1) / 2.0;
                if (ceiling) {
                    mx = (W - 1) - mx;
                    my = (H - 1) - my;
                }
                if (rear)
                    mx = (W - 1) - mx;
                const cv::Point2f w = fit[k];
                EXPECT_DOUBLE_EQ(w.x, mx) << W << "x" << H << " ceiling " << ceiling << " rear " << rear << " k " << k;
                EXPECT_DOUBLE_EQ(w.y, my) << W << "x" << H << " ceiling " << ceiling << " rear " << rear << " k " << k;
            }
        }
    }
    // Manual targets are handed over as they are.
    WindowRig manual(1920, 1080, true, true);
    manual.dlg->showOnMonitor(0, CalibDlg::ModeManual);
    manual.dlg->prepareManualMarks();
    for (int k = 0; k < CalibDlg::kPointSlots; ++k)
        EXPECT_EQ(manual.dlg->getFitPoints()[k], manual.dlg->getPoints()[k]) << k;
}
