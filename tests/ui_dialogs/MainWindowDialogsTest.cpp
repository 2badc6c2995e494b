#include "DialogTestSupport.h"

#include "app/Corvane.h"
#include "app/CorvaneTray.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "platform/fake/FakeSystemEvents.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "tests/support/MainWindowFixture.h"
#include "ui/AboutDlg.h"
#include "ui/EngineerMode.h"
#include "ui/WizardDlg.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QRadioButton>
#include <QDir>
#include <QWindow>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <gtest/gtest.h>

using tl::sim::EmulatedBus;
using tl::sim::ModuleVariant;

namespace {

const QString kInterface2 = "USB\\VID_16D0&PID_0F8C&MI_02\\3-1";

// The main window on emulated modules, as in the driver. Time runs 40 times
// faster (the fixture's compression): a step lets 4 s of driver time pass.
class MainWindowDialogsTest : public tl::test::MainWindowFixture
{
protected:
    void TearDown() override
    {
        MainWindowFixture::TearDown();
        // The close handling asks the application to leave its event loop; with
        // none running the request stays pending and would end every later
        // modal run at once. A main loop that starts and ends clears it.
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
    void start()
    {
        makeWindow();
        window->initialStart();
        tl::test::spinFor(4000);
    }
};

TEST_F(MainWindowDialogsTest, BlankModuleOpensTheWizardInSetupModeWithTheSetUpDefaults)
{
    bus.plug(ModuleVariant::blank("TLM-A"));
    start();
    ASSERT_TRUE(window->control()->wizardPending());
    WizardDlg *wizard = window->wizard();
    ASSERT_NE(wizard, nullptr);
    EXPECT_TRUE(wizard->isVisible());
    EXPECT_TRUE(wizard->setupMode());
    EXPECT_EQ(wizard->page(), 0);
    EXPECT_FALSE(window->settings()->getCheckCeiling());
    EXPECT_FALSE(wizard->checkCelling->isChecked());
    EXPECT_FALSE(window->settings()->getStartProgram());
    EXPECT_FALSE(window->isVisible());

    // Next applies (param.ini written through the controller), Finish saves
    // config.ini and ends the pending set-up.
    wizard->checkAutoStart->click();
    wizard->clickNext();
    QSettings param(ConfigFileRW::paramFilePath(), QSettings::IniFormat);
    EXPECT_EQ(param.value("Configuration/CheckCeiling").toString(), "0");
    wizard->clickNext();
    wizard->clickNext();
    EXPECT_FALSE(window->control()->wizardPending());
    EXPECT_FALSE(wizard->isVisible());
    QSettings config(ConfigFileRW::configFilePath(), QSettings::IniFormat);
    EXPECT_EQ(config.value("Configuration/Start_Program").toString(), "1");
}

TEST_F(MainWindowDialogsTest, CancelInSetupModeClosesTheDriver)
{
    bus.plug(ModuleVariant::blank("TLM-A"));
    start();
    QStringList destroyed;
    bool controlGoneFirst = false;
    QObject::connect(window->wizard(), &QObject::destroyed, [&] {
        destroyed << "wizard";
        controlGoneFirst = window->control() == nullptr;
    });
    QObject::connect(window->tray(), &QObject::destroyed, [&] { destroyed << "tray"; });
    window->startEnginnerMode(0);
    QObject::connect(window->engineerDialog(), &QObject::destroyed, [&] { destroyed << "engineer"; });
    window->wizard()->pushCancel->click();
    tl::test::spinUntil([&] { return window->tray() == nullptr; }, 5000);
    EXPECT_TRUE(controlGoneFirst);
    EXPECT_EQ(destroyed, (QStringList{"wizard", "engineer", "tray"}));
    EXPECT_EQ(window->wizard(), nullptr);
    QSettings config(ConfigFileRW::configFilePath(), QSettings::IniFormat);
    EXPECT_EQ(config.value("Device/Count").toString(), "0");
}

TEST_F(MainWindowDialogsTest, ArrivalOfABlankModuleOpensTheWizard)
{
    start();
    EXPECT_FALSE(window->wizard()->isVisible());
    window->settings()->setCheckCeiling(true);
    bus.plug(ModuleVariant::blank("TLM-A"));
    events.raiseDeviceArrival(kInterface2);
    tl::test::spinFor(4000);
    EXPECT_TRUE(window->wizard()->isVisible());
    EXPECT_TRUE(window->wizard()->setupMode());
    EXPECT_FALSE(window->settings()->getCheckCeiling());
    // It stands on its own on the desktop, not under the hidden (minimised,
    // then withdrawn) main window, which would take it along.
    ASSERT_NE(window->windowHandle(), nullptr);
    ASSERT_NE(window->wizard()->windowHandle(), nullptr);
    EXPECT_EQ(window->wizard()->windowHandle()->transientParent(), nullptr);

    // Removing it hides the wizard again.
    bus.unplug(bus.devices().front());
    events.raiseDeviceRemoval(kInterface2);
    tl::test::spinFor(4000);
    EXPECT_FALSE(window->wizard()->isVisible());
}

TEST_F(MainWindowDialogsTest, TrayEntriesOpenTheWizardAndTheAboutBox)
{
    bus.plugAll(tl::sim::moduleSeries(2, true));
    tl::FixedScreens::install({{QRect(0, 0, 1920, 1080), 96}, {QRect(1920, 0, 1920, 1080), 96}});
    start();
    ASSERT_FALSE(window->control()->wizardPending());
    EXPECT_FALSE(window->wizard()->isVisible());
    window->tray()->action(CorvaneTray::ActConfiguration)->trigger();
    EXPECT_TRUE(window->wizard()->isVisible());
    EXPECT_FALSE(window->wizard()->setupMode());
    // Two modules: no monitor choice.
    EXPECT_FALSE(window->wizard()->groupMonitor->isVisible());

    const QString first = window->settings()->getDeviceFwVersion(0);
    const QString second = window->settings()->getDeviceFwVersion(1);
    ASSERT_FALSE(first.isEmpty());
    auto box = answerNextModal("", [](QWidget *w) {
        auto *about = qobject_cast<AboutDlg *>(w);
        if (!about)
            return QString("not the about box");
        const QString line = about->labelHardVer->text();
        about->pushOk->click();
        return line;
    });
    window->tray()->action(CorvaneTray::ActAbout)->trigger();
    ASSERT_TRUE(box->seen);
    EXPECT_EQ(box->objectName, "AboutDlg");
    EXPECT_EQ(box->title, "About Tesselink");
    EXPECT_EQ(box->extra, "Firmware Version : " + first + "   " + second);
    // Built for the one opening.
    tl::test::spinFor(800);
    EXPECT_TRUE(window->findChildren<AboutDlg *>().isEmpty());

    window->HideDialogs();
    EXPECT_FALSE(window->wizard()->isVisible());
}

TEST_F(MainWindowDialogsTest, EngineerModeIsMadeOnceAndStartsInTheAlignmentPicture)
{
    bus.plug(ModuleVariant::calibrated("TLM-A"));
    start();
    EXPECT_EQ(window->engineerDialog(), nullptr);
    window->startEnginnerMode(0);
    EngineerMode *dlg = window->engineerDialog();
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(dlg->radioDisp_AV->isChecked());
    dlg->radioDisp_FT->click();
    window->startEnginnerMode(0);
    EXPECT_EQ(window->engineerDialog(), dlg);
    EXPECT_EQ(dlg->mode(), eavALIGNMENT_VIEW);
    window->HideDialogs();
    EXPECT_FALSE(dlg->isVisible());
}

} // namespace
