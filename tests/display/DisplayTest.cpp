#include "calibration/WaitDlg.h"
#include "input/NqUtils.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"

#include <QEvent>
#include <gtest/gtest.h>

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

class DisplayTest : public ::testing::Test
{
protected:
    void TearDown() override { tl::FixedScreens::uninstall(); }
    static void monitors(const QList<tl::MonitorInfo> &list) { tl::FixedScreens::install(list); }
};

TEST_F(DisplayTest, MonitorsAreOrderedLeftToRight)
{
    // The primary is enumerated first; the secondary sits to its left.
    monitors({{QRect(0, 0, 1920, 1080), 96}, {QRect(-1280, 56, 1280, 1024), 96}});
    QList<QRect> all;
    NqUtils::getWindowRectAll(all);
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all[0], QRect(-1280, 56, 1280, 1024));
    EXPECT_EQ(all[0].right(), -1); // inclusive edges
    EXPECT_EQ(all[1].left(), 0);
    EXPECT_EQ(NqUtils::primaryMonitorIndex(), 1);

    QRect two[2];
    NqUtils::getWindowRect(two);
    EXPECT_EQ(two[0], all[0]);
    EXPECT_EQ(two[1], all[1]);
}

TEST_F(DisplayTest, ThreeMonitorsGiveTheTwoLeftmost)
{
    monitors({{QRect(1920, 0, 1920, 1080), 96}, {QRect(0, 0, 1920, 1080), 96}, {QRect(3840, 0, 800, 600), 96}});
    QRect two[2];
    NqUtils::getWindowRect(two);
    EXPECT_EQ(two[0].left(), 0);
    EXPECT_EQ(two[1].left(), 1920);

    monitors({{QRect(0, 0, 1024, 768), 96}});
    NqUtils::getWindowRect(two);
    EXPECT_EQ(two[0], QRect(0, 0, 1024, 768));
    EXPECT_TRUE(two[1].isNull());
}

TEST_F(DisplayTest, MonitorByIndexFallsBackToThePrimary)
{
    monitors({{QRect(0, 0, 1920, 1080), 96}, {QRect(-1280, 0, 1280, 1024), 96}});
    QRect r;
    NqUtils::getMonitorRect(r, 0);
    EXPECT_EQ(r.left(), -1280);
    NqUtils::getMonitorRect(r, -1);
    EXPECT_EQ(r.topLeft(), QPoint(0, 0));
    NqUtils::getMonitorRect(r, 7);
    EXPECT_EQ(r.topLeft(), QPoint(0, 0));

    // The window system's primary wherever it lies, before the monitor at
    // (0, 0): an X11 desktop whose user made the right-hand monitor primary.
    monitors({{QRect(0, 0, 1280, 1024), 96}, {QRect(1280, 0, 1920, 1080), 96, true}});
    NqUtils::getMonitorRect(r, -1);
    EXPECT_EQ(r, QRect(1280, 0, 1920, 1080));
    NqUtils::getMonitorRect(r, 2);
    EXPECT_EQ(r, QRect(1280, 0, 1920, 1080));
    NqUtils::getMonitorRect(r, 0);
    EXPECT_EQ(r, QRect(0, 0, 1280, 1024));
    EXPECT_EQ(NqUtils::primaryMonitorIndex(), 1);
    // The same after the left-to-right ordering moved it.
    monitors({{QRect(0, 0, 1920, 1080), 96}, {QRect(-1280, 0, 1280, 1024), 96, true}, {QRect(1920, 0, 800, 600), 96}});
    NqUtils::getMonitorRect(r, 3);
    EXPECT_EQ(r, QRect(-1280, 0, 1280, 1024));
    EXPECT_EQ(NqUtils::primaryMonitorIndex(), 0);

    // No primary and no monitor at (0, 0): the first of the list.
    monitors({{QRect(900, 0, 800, 600), 96}, {QRect(100, 0, 800, 600), 96}});
    NqUtils::getMonitorRect(r, 2);
    EXPECT_EQ(r.left(), 100);

    monitors({});
    NqUtils::getMonitorRect(r, 0);
    EXPECT_TRUE(r.isNull());
}

TEST_F(DisplayTest, TargetSizesAndSpacing)
{
    int a = 0, b = 0;
    NqUtils::getTargetSize(1920, 1080, a, b);
    EXPECT_EQ(a, 75);
    EXPECT_EQ(b, 60);
    EXPECT_DOUBLE_EQ(NqUtils::getTargetSpacing(1920, 1200, true, 16), 105.0);
    EXPECT_DOUBLE_EQ(NqUtils::getTargetSpacing(1920, 1080, true, 16), 105.0);
    EXPECT_DOUBLE_EQ(NqUtils::getTargetSpacing(1280, 720, true, 16), 60.0);
    EXPECT_DOUBLE_EQ(NqUtils::getTargetSpacing(1920, 1200, false, 25), 15.0);
    EXPECT_DOUBLE_EQ(NqUtils::getTargetSpacing(1920, 1080, false, 25), 10.0);
    EXPECT_DOUBLE_EQ(NqUtils::getTargetSpacing(1280, 800, false, 16), 70.0);
}

TEST_F(DisplayTest, MonitorScaleByExactEdges)
{
    monitors({{QRect(0, 0, 1920, 1080), 144}, {QRect(1920, 0, 1280, 1024), 96}});
    EXPECT_DOUBLE_EQ(NqUtils::getMonitorScale(0, 0, 1919, 1079), 1.5);
    EXPECT_DOUBLE_EQ(NqUtils::getMonitorScale(1920, 0, 3199, 1023), 1.0);
    EXPECT_DOUBLE_EQ(NqUtils::getMonitorScale(0, 0, 1920, 1080), 1.0); // exclusive edges match nothing
}

TEST_F(DisplayTest, WaitCoverSpansTheUnionOfAllMonitors)
{
    // Different heights leave a gap in the bounding rectangle; it is covered too.
    monitors({{QRect(0, 0, 1920, 1080), 96}, {QRect(1920, 200, 1280, 1024), 96}});
    WaitDlg dlg;
    PaintCounter paints;
    dlg.installEventFilter(&paints);
    dlg.showAllMonitors();
    // It returns once it has been painted white, not by running out of spins.
    EXPECT_GE(paints.count, 1);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.geometry(), QRect(0, 0, 3200, 1224));
    EXPECT_TRUE(dlg.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(dlg.windowFlags() & Qt::FramelessWindowHint);
    const QImage shot = dlg.grab(QRect(0, 0, 50, 50)).toImage();
    EXPECT_EQ(shot.pixelColor(10, 10), QColor(Qt::white));
    dlg.hide();
    EXPECT_FALSE(dlg.isVisible());
}

} // namespace
