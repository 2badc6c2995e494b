// calshot: shows the calibration window on the desktop and saves screenshots
// of it: the auto pattern, and a manual target with its ring half drawn.
// Run under a real X server (tools/screenshots/calibration-window.sh).
//   calshot OUTDIR

#include "calibration/CalibDlg.h"
#include "calibration/CalibWorkspace.h"
#include "platform/Clock.h"
#include "resources/Resources.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QScreen>
#include <cstdio>

namespace {
void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool shoot(const QString &path)
{
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    return !shot.isNull() && shot.save(path);
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    tl::initResources();
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("docs");
    QDir().mkpath(dir);

    ConfigFileRW settings;
    settings.setNumOfCamDevice(1);
    settings.setMonitor(0);
    settings.setCheckCeiling(false);
    settings.setCheckRear(false);
    LanguageTable language;
    language.loadLanguageData(LanguageTable::kEnglishIndex + 1);
    tl::setCalibPointCounts(1);

    CalibDlg dlg(&settings, &language);
    dlg.showOnMonitor(0, CalibDlg::ModeBlack);
    dlg.prepareAutoPattern();
    dlg.showDisplay();
    dlg.setDisplayMode(CalibDlg::ModePattern);
    settle(800);
    bool ok = shoot(dir + "/calibration-pattern.png");

    dlg.hide();
    dlg.showOnMonitor(0, CalibDlg::ModeManual);
    dlg.prepareManualMarks();
    dlg.setCount(5);
    dlg.startMarkRing(false);
    dlg.markLabel()->setGeometry(dlg.markRect(5));
    dlg.showDisplay();
    // Five ticks of the ring: half of it drawn.
    for (int i = 0; i < 5; ++i)
        dlg.OnTimer();
    settle(800);
    ok = shoot(dir + "/calibration-manual-target.png") && ok;
    std::printf("%s\n", ok ? "saved" : "failed");
    return ok ? 0 : 1;
}
