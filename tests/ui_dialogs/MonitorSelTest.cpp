#include "DialogTestSupport.h"

#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "settings/LanguageTable.h"
#include "ui/MonitorSelWidget.h"

#include <QFontMetricsF>
#include <QFrame>
#include <QSignalSpy>
#include <QtTest/QTest>
#include <gtest/gtest.h>

namespace {

class MonitorSelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        tl::Clock::setCompression(10);
        language.loadLanguageData(7);
        tl::FixedScreens::install({{QRect(0, 0, 1920, 1080), 96}, {QRect(1920, 0, 1920, 1080), 96}});
    }
    void TearDown() override
    {
        tl::FixedScreens::uninstall();
        tl::Clock::setCompression(1);
    }
    LanguageTable language;
};

TEST_F(MonitorSelTest, TwoMonitorsAreDrawnToScale)
{
    MonitorSelWidget w;
    w.resize(300, 120);
    w.initialize(&language, 0);
    EXPECT_EQ(w.area(), QSize(296, 116));
    EXPECT_NEAR(w.scale(), 0.0771, 0.00005);
    EXPECT_DOUBLE_EQ(w.scale(), 296.0 / 3840.0);
    EXPECT_EQ(w.scaledSize(), QSize(296, 83));
    EXPECT_EQ(w.margin(), QPoint(2, 18));
    ASSERT_EQ(w.scaledRects().size(), 2);
    EXPECT_DOUBLE_EQ(w.scaledRects()[0].x(), 2.0);
    EXPECT_DOUBLE_EQ(w.scaledRects()[1].x(), 2.0 + 1920 * w.scale());
    EXPECT_DOUBLE_EQ(w.scaledRects()[1].y(), 18.0);
    EXPECT_EQ(w.labels()[0], "1920 x 1080\nmain");
    EXPECT_EQ(w.labels()[1], "1920 x 1080\n");
}

TEST_F(MonitorSelTest, TheMarkFollowsThePrimaryScreenNotTheOrigin)
{
    // The screen source lists the primary screen first; here it lies right of
    // a monitor at the origin.
    tl::FixedScreens::install({{QRect(1280, 0, 1920, 1080), 96}, {QRect(0, 0, 1280, 1024), 96}});
    MonitorSelWidget w;
    w.resize(300, 120);
    w.initialize(&language, 7);
    ASSERT_EQ(w.monitors().size(), 2);
    EXPECT_EQ(w.monitors()[0], QRect(0, 0, 1280, 1024));
    EXPECT_EQ(w.labels()[0], "1280 x 1024\n");
    EXPECT_EQ(w.labels()[1], "1920 x 1080\nmain");
    // An index outside the list selects the primary monitor.
    EXPECT_EQ(w.selected(), 1);
}

TEST_F(MonitorSelTest, ClickingAnotherMonitorSelectsAndFramesIt)
{
    MonitorSelWidget w;
    w.resize(300, 120);
    w.initialize(&language, 0);
    w.show();
    QSignalSpy changed(&w, &MonitorSelWidget::selChanged);

    // Between the rectangles (in the margin above them): nothing.
    QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(150, 5));
    EXPECT_EQ(changed.size(), 0);
    EXPECT_EQ(w.selected(), 0);
    EXPECT_EQ(w.borderWindow(), nullptr);

    QTest::mouseClick(&w, Qt::LeftButton, {}, w.scaledRects()[1].center().toPoint());
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed[0][0].toInt(), 1);
    EXPECT_EQ(w.selected(), 1);
    QFrame *border = w.borderWindow();
    ASSERT_NE(border, nullptr);
    EXPECT_EQ(border->objectName(), "monitorselframe");
    EXPECT_EQ(border->styleSheet(), "#monitorselframe {border: 20px solid blue;}");
    EXPECT_EQ(border->geometry(), QRect(1920, 0, 1920, 1080));
    EXPECT_NEAR(border->windowOpacity(), 0.5, 0.01);
    EXPECT_TRUE(border->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(border->windowFlags() & Qt::WindowTransparentForInput);
    // Only the outer 20 pixels are part of the window.
    EXPECT_TRUE(border->mask().contains(QPoint(10, 500)));
    EXPECT_TRUE(border->mask().contains(QPoint(1910, 1070)));
    EXPECT_FALSE(border->mask().contains(QPoint(960, 540)));
    EXPECT_FALSE(border->mask().contains(QPoint(20, 20)));
    EXPECT_TRUE(border->isVisible());
    // It blinks once and stays.
    EXPECT_TRUE(tl::test::spinUntil([&] { return !border->isVisible(); }, 10000));
    EXPECT_TRUE(tl::test::spinUntil([&] { return border->isVisible(); }, 10000));

    // The selected monitor again: blinks, no signal, same window.
    QTest::mouseClick(&w, Qt::LeftButton, {}, w.scaledRects()[1].topLeft().toPoint() + QPoint(1, 1));
    EXPECT_EQ(changed.size(), 1);
    EXPECT_EQ(w.borderWindow(), border);

    // The other one: the old frame goes, a new one frames the first monitor.
    QPointer<QFrame> old = border;
    QTest::mouseClick(&w, Qt::LeftButton, {}, w.scaledRects()[0].center().toPoint());
    EXPECT_EQ(changed.size(), 2);
    EXPECT_TRUE(old.isNull());
    ASSERT_NE(w.borderWindow(), nullptr);
    EXPECT_EQ(w.borderWindow()->geometry(), QRect(0, 0, 1920, 1080));

    // Hiding the map (the wizard closes) takes the frame off the desktop.
    old = w.borderWindow();
    w.hide();
    EXPECT_TRUE(old.isNull());
}

TEST_F(MonitorSelTest, WideResolutionTextsShrinkEveryLabel)
{
    MonitorSelWidget w;
    w.resize(120, 50);
    QFont f = w.font();
    f.setPointSizeF(12);
    w.setFont(f);
    w.initialize(&language, 0);
    w.grab();
    EXPECT_LT(w.paintedPointSize(), 12.0);
    QFont shrunk = f;
    shrunk.setPointSizeF(w.paintedPointSize());
    const QFontMetricsF fm(shrunk);
    for (int i = 0; i < 2; ++i)
        EXPECT_LE(fm.horizontalAdvance("1920 x 1080"), w.scaledRects()[i].width() - 4 + 0.5);

    // Room enough: the font stays.
    MonitorSelWidget big;
    big.resize(600, 300);
    big.setFont(f);
    big.initialize(&language, 0);
    big.grab();
    EXPECT_DOUBLE_EQ(big.paintedPointSize(), 12.0);
}

TEST_F(MonitorSelTest, NoMonitorDrawsNothingAndIgnoresClicks)
{
    tl::FixedScreens::install({});
    MonitorSelWidget w;
    w.resize(300, 120);
    w.initialize(&language, 2);
    QSignalSpy changed(&w, &MonitorSelWidget::selChanged);
    w.grab();
    QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(150, 60));
    EXPECT_EQ(changed.size(), 0);
    EXPECT_EQ(w.borderWindow(), nullptr);
    EXPECT_TRUE(w.scaledRects().isEmpty());

    // Monitors, but a widget with no room for a map.
    tl::FixedScreens::install({{QRect(0, 0, 1920, 1080), 96}, {QRect(1920, 0, 1920, 1080), 96}});
    MonitorSelWidget tiny;
    tiny.resize(3, 3);
    tiny.initialize(&language, 1);
    tiny.grab();
    EXPECT_TRUE(tiny.scaledRects().isEmpty());
    EXPECT_EQ(tiny.selected(), 1);
}

} // namespace
