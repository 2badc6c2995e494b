#include "app/CorvaneTray.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QSignalSpy>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

class TrayTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir(ConfigFileRW::settingsFolder()).removeRecursively();
        settings = std::make_unique<ConfigFileRW>();
    }

    std::unique_ptr<CorvaneTray> makeTray(int languageId)
    {
        language.loadLanguageData(languageId, QLocale(QLocale::English));
        return std::make_unique<CorvaneTray>(&window, settings.get(), &language);
    }

    static QStringList menuEntries(const QMenu *menu)
    {
        QStringList out;
        for (const QAction *a : menu->actions())
            out << (a->isSeparator() ? QStringLiteral("|") : a->text());
        return out;
    }

    QWidget window;
    LanguageTable language;
    std::unique_ptr<ConfigFileRW> settings;
};

TEST_F(TrayTest, StartsDisconnectedWithTheBrandMenu)
{
    auto tray = makeTray(7);
    EXPECT_EQ(tray->toolTip(), "Disconnection");
    EXPECT_EQ(menuEntries(tray->menu()),
              QStringList({"Configuration", "Alignment View", "Auto Calibration", "Manual Calibration", "|",
                           "Pen Mode", "Finger Touch Mode", "|", "About Tesselink", "Exit"}));
    EXPECT_EQ(tray->menu()->defaultAction(), tray->action(CorvaneTray::ActConfiguration));
    for (int i = CorvaneTray::ActConfiguration; i <= CorvaneTray::ActFingerMode; ++i)
        EXPECT_FALSE(tray->action(i)->isEnabled()) << i;
    EXPECT_TRUE(tray->action(CorvaneTray::ActAbout)->isEnabled());
    EXPECT_TRUE(tray->action(CorvaneTray::ActExit)->isEnabled());
    // Actions 6 and 7 exist (and are connected by the main window) but are not in the menu.
    EXPECT_EQ(tray->action(CorvaneTray::ActCompanion)->text(), "Run Meridan-Pen");
    EXPECT_FALSE(tray->menu()->actions().contains(tray->action(CorvaneTray::ActKeyboard)));
    EXPECT_EQ(tray->action(CorvaneTray::ActionCount), nullptr);
}

TEST_F(TrayTest, ConnectionBalloonsAndTooltips)
{
    auto tray = makeTray(7);
    QSignalSpy balloons(tray.get(), &CorvaneTray::balloonShown);

    tray->updateConnect(false, true, "");
    ASSERT_EQ(balloons.size(), 1);
    EXPECT_EQ(balloons[0][0].toString(), "Tesselink Status");
    EXPECT_EQ(balloons[0][1].toString(), "\r\nTesselink is disconnected to PC.");
    EXPECT_EQ(balloons[0][2].toInt(), int(QSystemTrayIcon::Critical));
    EXPECT_EQ(balloons[0][3].toInt(), 10000);

    tray->updateConnect(true, true, "TL-40");
    ASSERT_EQ(balloons.size(), 2);
    EXPECT_EQ(balloons[1][1].toString(), "\r\nTesselink is connected to PC.");
    EXPECT_EQ(balloons[1][2].toInt(), int(QSystemTrayIcon::Information));
    EXPECT_EQ(tray->toolTip(), "Connection");
    EXPECT_TRUE(tray->action(CorvaneTray::ActAutoCalibration)->isEnabled());

    // Suspend: entries off, no balloon.
    tray->updateConnect(false, false, "");
    EXPECT_EQ(balloons.size(), 2);
    EXPECT_FALSE(tray->action(CorvaneTray::ActConfiguration)->isEnabled());
    EXPECT_TRUE(tray->action(CorvaneTray::ActExit)->isEnabled());
    EXPECT_EQ(tray->toolTip(), "Disconnection");
}

TEST_F(TrayTest, ModeMarksFollowPenTouchMode)
{
    auto tray = makeTray(7);
    QAction *pen = tray->action(CorvaneTray::ActPenMode);
    QAction *finger = tray->action(CorvaneTray::ActFingerMode);
    EXPECT_TRUE(pen->isChecked());
    EXPECT_EQ(pen->font().weight(), 75);
    EXPECT_FALSE(finger->isChecked());
    EXPECT_EQ(finger->font().weight(), 50);

    settings->setPenTouchMode(1);
    tray->refreshModeMarks();
    EXPECT_FALSE(pen->isChecked());
    EXPECT_EQ(pen->font().weight(), 50);
    EXPECT_TRUE(finger->isChecked());
    EXPECT_EQ(finger->font().weight(), 75);

    // An unknown stored mode leaves the marks as they are.
    settings->setPenTouchMode(5);
    tray->refreshModeMarks();
    EXPECT_TRUE(finger->isChecked());
}

TEST_F(TrayTest, GermanTextsComeFromTheGermanList)
{
    auto tray = makeTray(11);
    ASSERT_EQ(language.languageCode(), "DEU");
    for (int i = 0; i < CorvaneTray::ActionCount; ++i) {
        EXPECT_EQ(tray->action(i)->text(), language.trayText(i));
        EXPECT_FALSE(tray->action(i)->text().isEmpty());
    }
    EXPECT_NE(tray->action(CorvaneTray::ActExit)->text(), "Exit");
    QSignalSpy balloons(tray.get(), &CorvaneTray::balloonShown);
    tray->updateConnect(false, true, "");
    EXPECT_EQ(tray->toolTip(), language.messageText(16));
    EXPECT_EQ(balloons[0][0].toString(), language.messageText(14));
    EXPECT_EQ(balloons[0][1].toString(), "\r\n" + language.messageText(18));
}

} // namespace
