// calshot: shows the calibration window on the desktop and saves screenshots
// of it: the auto pattern, and a manual target with its ring half drawn.
// Run under a real X server (tools/screenshots/calibration-window.sh).
//   calshot OUTDIR

#include "calibration/CalibDlg.h"
#include "calibration/CalibWorkspace.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"
#include "tools/shotkit/ShotKit.h"

#include <QLabel>
#include <cstdio>

using tl::shots::grabScreen;
using tl::shots::saveShot;
using tl::shots::settle;

int main(int argc, char **argv)
{
    tl::shots::ShotApp app(argc, argv);
    const QString dir = app.outputDir(1);

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
    bool ok = saveShot(grabScreen(), dir + "/calibration-pattern.png");

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
    ok = saveShot(grabScreen(), dir + "/calibration-manual-target.png") && ok;
    std::printf("%s\n", ok ? "saved" : "failed");
    return ok ? 0 : 1;
}
