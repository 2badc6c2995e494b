// tesselink-dialog-shots: shows the first dialogs a user meets on the display
// it runs on (meant for Xvfb) and saves what the screen shows of each one.
// Usage: tesselink-dialog-shots OUTPUT_DIR
// The monitor map is drawn from a two-monitor desktop description, as on a
// machine with a second display; the dialogs themselves use the real screen.
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"
#include "tools/shotkit/ShotKit.h"
#include "ui/AboutDlg.h"
#include "ui/MonitorSelWidget.h"
#include "ui/WizardDlg.h"

#include <QGroupBox>
#include <QScreen>
#include <QtTest/QTest>

using tl::shots::grabScreen;
using tl::shots::saveShot;
using tl::shots::settle;

namespace {

// What the screen shows where the window is.
bool shoot(QWidget *w, const QString &path)
{
    w->raise();
    w->activateWindow();
    settle(300);
    return saveShot(grabScreen(w->frameGeometry()), path);
}

} // namespace

int main(int argc, char *argv[])
{
    tl::shots::ShotApp app(argc, argv);
    const QString dir = app.outputDir(1);
    bool ok = true;

    // The primary screen first, as Qt lists it, and a second display to its right.
    const QRect primary = QGuiApplication::primaryScreen()->geometry();
    const double dpi = QGuiApplication::primaryScreen()->logicalDotsPerInch();
    tl::FixedScreens::install({{primary, dpi}, {QRect(primary.right() + 1, 0, 1920, 1080), dpi}});

    struct Shot
    {
        int languageId;
        int page;
        const char *name;
    };
    const Shot shots[] = {
        {7, 0, "wizard-page1-en.png"}, {7, 1, "wizard-page2-en.png"}, {7, 2, "wizard-page3-en.png"},
        {11, 0, "wizard-page1-de.png"}, {1, 0, "wizard-page1-ar.png"}, {8, 0, "wizard-page1-fa.png"},
    };
    for (const Shot &s : shots) {
        ConfigFileRW settings;
        settings.setNumOfCamDevice(1);
        LanguageTable language;
        language.loadLanguageData(s.languageId);
        WizardDlg wizard(nullptr, &settings, &language);
        wizard.initialize(false, 1, "1.15", 0);
        wizard.show();
        for (int i = 0; i < s.page; ++i)
            wizard.clickNext();
        ok = shoot(&wizard, dir + "/" + s.name) && ok;
        if (s.languageId == 7 && s.page == 0) {
            // The user picks the second display: it turns blue (its frame
            // marks the real monitor, off this screen).
            MonitorSelWidget *map = wizard.widgetMonitorSel;
            QTest::mouseClick(map, Qt::LeftButton, {}, map->scaledRects()[1].center().toPoint());
            settle(300);
            const QRect area(wizard.groupMonitor->mapToGlobal(QPoint(0, 0)), wizard.groupMonitor->size());
            ok = saveShot(grabScreen(area), dir + "/monitor-select.png") && ok;
        }
        wizard.hide();
    }

    {
        LanguageTable language;
        language.loadLanguageData(7);
        AboutDlg about;
        about.setTexts(language.trayText(8), AboutDlg::firmwareText(2, "1.15", "1.15"), language.languageIndex());
        about.show();
        const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
        about.move(avail.center() - QPoint(about.width() / 2, about.height() / 2));
        ok = shoot(&about, dir + "/about.png") && ok;
    }
    tl::FixedScreens::uninstall();
    return ok ? 0 : 1;
}
