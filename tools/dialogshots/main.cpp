// tesselink-dialog-shots: shows the first dialogs a user meets on the display
// it runs on (meant for Xvfb) and saves what the screen shows of each one.
// Usage: tesselink-dialog-shots OUTPUT_DIR
// The monitor map is drawn from a two-monitor desktop description, as on a
// machine with a second display; the dialogs themselves use the real screen.
#include "platform/Screens.h"
#include "resources/Resources.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"
#include "ui/AboutDlg.h"
#include "ui/MonitorSelWidget.h"
#include "ui/WizardDlg.h"

#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QtTest/QTest>

#include <cstdio>

namespace {

void settle(int ms = 300)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// What the screen shows where the window is.
bool shoot(QWidget *w, const QString &path)
{
    w->raise();
    w->activateWindow();
    settle();
    const QRect r = w->frameGeometry();
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
    const bool ok = !shot.isNull() && shot.save(path);
    std::printf("%s: %s %dx%d\n", qPrintable(path), ok ? "saved" : "FAILED", shot.width(), shot.height());
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    tl::initResources();
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("docs");
    QDir().mkpath(dir);
    bool ok = true;

    // The primary screen first, as Qt lists it, and a second display to its right.
    const QRect primary = QGuiApplication::primaryScreen()->geometry();
    const double dpi = QGuiApplication::primaryScreen()->logicalDotsPerInch();
    tl::ScreenSource::setOverride({{primary, dpi}, {QRect(primary.right() + 1, 0, 1920, 1080), dpi}});

    struct Shot
    {
        int languageId;
        int page;
        const char *name;
    };
    const Shot shots[] = {
        {7, 0, "wizard-page1-en.png"}, {7, 1, "wizard-page2-en.png"}, {7, 2, "wizard-page3-en.png"},
        {11, 0, "wizard-page1-de.png"}, {1, 0, "wizard-page1-ar.png"},
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
            settle();
            const QPoint at = wizard.groupMonitor->mapToGlobal(QPoint(0, 0));
            const QSize size = wizard.groupMonitor->size();
            const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, at.x(), at.y(), size.width(),
                                                                              size.height());
            const QString path = dir + "/monitor-select.png";
            const bool saved = !shot.isNull() && shot.save(path);
            std::printf("%s: %s\n", qPrintable(path), saved ? "saved" : "FAILED");
            ok = saved && ok;
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
    tl::ScreenSource::clearOverride();
    return ok ? 0 : 1;
}
