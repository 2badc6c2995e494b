#include "DialogTestSupport.h"

#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "settings/ConfigFileRW.h"
#include "ui/AboutDlg.h"
#include "ui/EngineerMode.h"

#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <gtest/gtest.h>

namespace {

class AboutTest : public ::testing::Test
{
protected:
    void SetUp() override { tl::FixedScreens::install({{QRect(0, 0, 1920, 1080), 96}}); }
    void TearDown() override { tl::FixedScreens::uninstall(); }
};

TEST_F(AboutTest, FirmwareLineForNoneOneAndTwoModules)
{
    EXPECT_EQ(AboutDlg::firmwareText(0, "A", "B"), "");
    EXPECT_EQ(AboutDlg::firmwareText(1, "A", "B"), "A");
    EXPECT_EQ(AboutDlg::firmwareText(2, "A", "B"), "A   B");
    EXPECT_EQ(AboutDlg::firmwareText(3, "A", "B"), "");

    AboutDlg about;
    about.setTexts("About Tesselink", AboutDlg::firmwareText(2, "A", "B"), 6);
    EXPECT_EQ(about.labelHardVer->text(), "Firmware Version : A   B");
    EXPECT_EQ(about.windowTitle(), "About Tesselink");
    about.setTexts("About Tesselink", AboutDlg::firmwareText(0, "A", "B"), 6);
    EXPECT_EQ(about.labelHardVer->text(), "Firmware Version : ");
}

TEST_F(AboutTest, BrandTextsFontsAndOk)
{
    AboutDlg about;
    EXPECT_EQ(about.labelAppName->text(), "Tesselink Driver");
    EXPECT_EQ(about.labelAppName->styleSheet(), "font: 87 16pt \"Arial Black\";");
    EXPECT_TRUE(about.labelSoftVer->text().startsWith("Driver Version : "));
    EXPECT_TRUE(about.labelWeb->text().contains("https://"));
    EXPECT_TRUE(about.labelWeb->openExternalLinks());
    EXPECT_FALSE(about.labelMaker->text().isEmpty());
    EXPECT_FALSE(about.IconLabel->pixmap(Qt::ReturnByValue).isNull());
    EXPECT_EQ(about.minimumSize(), about.maximumSize());

    about.setTexts("t", "", 14);
    EXPECT_EQ(about.font().family(), "Malgun Gothic");
    about.setTexts("t", "", 10);
    EXPECT_EQ(about.font().family(), "Tahoma");

    // OK ends the modal run.
    QTimer::singleShot(0, &about, [&] { about.pushOk->click(); });
    about.exec();
    EXPECT_FALSE(about.isVisible());
}

TEST_F(AboutTest, At144DotsPerInchEverythingIsOneAndAHalfTimes)
{
    AboutDlg plain;
    tl::FixedScreens::install({{QRect(0, 0, 2880, 1620), 144}});
    AboutDlg big;
    EXPECT_DOUBLE_EQ(big.dpiRatio(), 1.5);
    EXPECT_EQ(big.size(), QSize(int(plain.width() * 1.5 + 0.5), int(plain.height() * 1.5 + 0.5)));
    auto times15 = [](const QRect &r) {
        auto s = [](int v) { return int(v * 1.5 + 0.5); };
        return QRect(s(r.x()), s(r.y()), s(r.width()), s(r.height()));
    };
    for (QWidget *w : plain.findChildren<QWidget *>()) {
        if (w->objectName().isEmpty() || w->objectName().startsWith("qt_"))
            continue;
        QWidget *other = big.findChild<QWidget *>(w->objectName());
        ASSERT_NE(other, nullptr);
        EXPECT_EQ(other->geometry(), times15(w->geometry())) << w->objectName().toStdString();
    }
}

class EngineerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        tl::FixedScreens::install({{QRect(0, 0, 1920, 1080), 96}, {QRect(1920, 0, 1920, 1080), 96}});
    }
    void TearDown() override { tl::FixedScreens::uninstall(); }
    ConfigFileRW settings;
};

TEST_F(EngineerTest, ModeButtonsRaiseOnlyRealChanges)
{
    EngineerMode dlg(nullptr, &settings, 1);
    QSignalSpy update(&dlg, &EngineerMode::engModeCamUpDate);
    dlg.start();
    ASSERT_EQ(update.size(), 1);
    EXPECT_EQ(update[0][0].toInt(), 1);
    EXPECT_EQ(update[0][1].value<ALIGNMENT_VIEW_MODE>(), eavALIGNMENT_VIEW);
    EXPECT_TRUE(update[0][2].toBool());
    EXPECT_TRUE(dlg.radioDisp_AV->isChecked());

    // The checked mode again: nothing.
    dlg.radioDisp_AV->click();
    EXPECT_EQ(update.size(), 1);

    QRadioButton *buttons[] = {dlg.radioDisp_ACal, dlg.radioDisp_PT, dlg.radioDisp_FT, dlg.radioDisp_PTBin,
                               dlg.radioDisp_FTBin};
    for (int i = 0; i < 5; ++i) {
        buttons[i]->click();
        ASSERT_EQ(update.size(), i + 2);
        EXPECT_EQ(int(update.last()[1].value<ALIGNMENT_VIEW_MODE>()), i + 1);
        EXPECT_TRUE(update.last()[2].toBool());
        EXPECT_EQ(dlg.mode(), ALIGNMENT_VIEW_MODE(i + 1));
    }
    dlg.clickDisp_Finger_Analysis();
    EXPECT_EQ(update.size(), 6);

    dlg.pushButtonReset->click();
    ASSERT_EQ(update.size(), 7);
    EXPECT_EQ(update.last()[1].value<ALIGNMENT_VIEW_MODE>(), eavFINGER_ANALYSIS);
    EXPECT_FALSE(update.last()[2].toBool());

    // start() again returns to the alignment picture.
    dlg.start();
    EXPECT_EQ(update.last()[1].value<ALIGNMENT_VIEW_MODE>(), eavALIGNMENT_VIEW);
    EXPECT_TRUE(dlg.radioDisp_AV->isChecked());
}

TEST_F(EngineerTest, SendPassesTheFieldsAsTyped)
{
    EngineerMode dlg(nullptr, &settings, 0);
    QSignalSpy send(&dlg, &EngineerMode::engModeCamParamSend);
    dlg.pushButtonSend->click();
    ASSERT_EQ(send.size(), 1);
    EXPECT_EQ(send[0][0].toInt(), 0);
    EXPECT_EQ(send[0][1].toString(), "");
    EXPECT_EQ(send[0][2].toString(), "");
    dlg.lineEditAddr->setText("3a0f");
    dlg.lineEditValue->setText("zz 1");
    dlg.pushButtonSend->click();
    EXPECT_EQ(send[1][1].toString(), "3a0f");
    EXPECT_EQ(send[1][2].toString(), "zz 1");

    dlg.show();
    dlg.pushButton->click();
    EXPECT_FALSE(dlg.isVisible());
}

TEST_F(EngineerTest, SlidersAndPlacementAtTheModulesDisplayCorner)
{
    EngineerMode right(nullptr, &settings, 1);
    EXPECT_EQ(right.windowTitle(), "Engineer Mode");
    EXPECT_TRUE(right.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(right.geometry().right(), 3839 - 8);
    EXPECT_EQ(right.geometry().bottom(), 1079 - 8);
    EngineerMode left(nullptr, &settings, 0);
    EXPECT_EQ(left.geometry().right(), 1919 - 8);
    EXPECT_EQ(left.geometry().bottom(), 1079 - 8);

    // A module without a display of its own: the first display.
    tl::FixedScreens::install({{QRect(0, 0, 1280, 800), 96}});
    EngineerMode lone(nullptr, &settings, 1);
    EXPECT_EQ(lone.geometry().right(), 1279 - 8);
    EXPECT_EQ(lone.geometry().bottom(), 799 - 8);

    // No display at all: it opens where it is, without a crash.
    tl::FixedScreens::install({});
    EngineerMode nowhere(nullptr, &settings, 0);
    EXPECT_EQ(nowhere.pos(), QPoint(0, 0));

    const struct { QSlider *s; int max; int start; } rows[] = {
        {right.hSlideAlignmentViewGain, 255, 40}, {right.hSlideAutoCalibrationGain, 255, 31},
        {right.hSlideFingerModeGain, 255, 40},   {right.hSlideFingerThA, 100, 40},
        {right.hSlideFingerThB, 255, 40},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(row.s->minimum(), 0);
        EXPECT_EQ(row.s->maximum(), row.max);
        EXPECT_EQ(row.s->value(), row.start);
        EXPECT_EQ(row.s->singleStep(), 1);
        EXPECT_EQ(row.s->pageStep(), 1);
    }
}

} // namespace
