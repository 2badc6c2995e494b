#include "ControllerFixture.h"
#include "tests/support/LogCapture.h"

#include "calibration/WaitDlg.h"
#include "control/nqmaincontrol.h"
#include "device/CamDevCtrl.h"
#include "device/codec/Commands.h"
#include "platform/Clock.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"
#include "sim/EmulatedBus.h"
#include "tests/support/PlatformInjection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QWidget>
#include <gtest/gtest.h>

using tl::test::LogCapture;

using namespace tl::codec;
using tl::sim::EmulatedBus;
using tl::sim::ModuleVariant;

namespace {

class ControllerTest : public ControllerFixture
{
protected:
    void start()
    {
        settings = std::make_unique<ConfigFileRW>(QList<QRect>{QRect(0, 0, 1920, 1080)});
        control = std::make_unique<nqmaincontrol>(settings.get(), &language, &bus, &window, nullptr, nullptr,
                                                  nullptr, &tl::test::platformInjection());
        control->systemStateChange(esysCONNECTION_START, -1);
        QCoreApplication::processEvents();
    }
};

TEST_F(ControllerTest, NoModuleEndsDisconnectedWithoutTraffic)
{
    LogCapture log;
    start();
    const int stateLine = log.find("nqmaincontrol::systemStateChange(): esysCONNECTION_START -1");
    ASSERT_GE(stateLine, 0) << log.lines().join("\n").toStdString();
    const int countLine = log.find("InitDeviceCheck(): device count = 0", stateLine);
    ASSERT_GT(countLine, stateLine);
    EXPECT_GT(log.find("InitDeviceCheck(): m_bConnectionStatus = false", countLine), countLine);
    EXPECT_FALSE(control->connectionStatus());
    EXPECT_FALSE(control->allDevicesIdentified());
    EXPECT_EQ(control->threadState(), etaNULL);
    EXPECT_FALSE(control->waitDialog()->isVisible());
    EXPECT_FALSE(control->wizardPending());
    EXPECT_EQ(control->deviceDisplayName(), "Device");
}

TEST_F(ControllerTest, ThreeModulesAreTreatedAsNone)
{
    auto modules = bus.plugAll({ModuleVariant::calibrated("A1"), ModuleVariant::calibrated("B2"),
                                ModuleVariant::calibrated("C3")});
    start();
    EXPECT_FALSE(control->connectionStatus());
    EXPECT_EQ(settings->getNumOfCamDevice(), 0);
    for (const auto &m : modules)
        EXPECT_TRUE(m->received().empty()) << m->serial();
    EXPECT_FALSE(control->waitDialog()->isVisible());
}

TEST_F(ControllerTest, CalibratedModuleEndsTracking)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-LEFT", 15));
    start();
    settle();
    EXPECT_TRUE(control->connectionStatus());
    EXPECT_EQ(settings->getNumOfCamDevice(), 1);
    EXPECT_EQ(settings->getDeviceSerial(0), "TLM-LEFT");
    EXPECT_EQ(settings->getDeviceFwVersion(0), "40.15");
    EXPECT_EQ(control->modelType(0), 1);
    EXPECT_TRUE(control->allDevicesIdentified());
    EXPECT_EQ(control->deviceDisplayName(), "TL-40");
    EXPECT_EQ(control->threadState(), etaTRACKING);
    EXPECT_FALSE(control->wizardPending());
    EXPECT_FALSE(control->waitDialog()->isVisible());
    EXPECT_TRUE(module->tracking());
    EXPECT_EQ(module->transferMode(), 2);
    EXPECT_EQ(module->fingerTouchMode(), 0);
    ASSERT_EQ(control->displayInfo().size(), 1);
    EXPECT_EQ(control->displayInfo()[0].sDisplayRect, QRect(0, 0, 1920, 1080));

    // Switching to finger mode restarts tracking with the new mode on the module.
    control->setPenTouchMode(1);
    settle();
    EXPECT_EQ(module->fingerTouchMode(), 1);
    EXPECT_EQ(control->threadState(), etaTRACKING);
}

TEST_F(ControllerTest, BlankModuleAsksForTheWizard)
{
    bus.plug(ModuleVariant::blank("TLM-NEW"));
    start();
    EXPECT_TRUE(control->connectionStatus());
    EXPECT_TRUE(control->wizardPending());
    EXPECT_EQ(control->threadState(), etaNULL);
    EXPECT_FALSE(control->calibrationReady(1));
}

TEST_F(ControllerTest, WakeWithUnchangedModulesReopensAndTracks)
{
    auto module = bus.plug(ModuleVariant::calibrated("TLM-1"));
    start();
    settle();
    control->systemStateChange(esysCHANGE_TO_SLEEP, -1);
    EXPECT_FALSE(control->connectionStatus());
    EXPECT_EQ(control->threadState(), etaNULL);

    module->clearReceived();
    control->systemStateChange(esysCHANGE_WAKE_UP, -1);
    settle();
    EXPECT_TRUE(control->connectionStatus());
    EXPECT_EQ(control->threadState(), etaTRACKING);
    // Reopened: the version was asked again and tracking was started again.
    EXPECT_GE(module->receivedCount(CMD_SENDVERSION), 1);
    EXPECT_GE(module->receivedCount(CMD_START_TRACKING), 1);
    EXPECT_EQ(settings->getNumOfCamDevice(), 1);
}

TEST_F(ControllerTest, DeviceChangeWithUnchangedCountDoesNothing)
{
    bus.plug(ModuleVariant::calibrated("TLM-1"));
    start();
    settle();
    LogCapture log;
    control->systemStateChange(esysDEVICE_FOUND_OR_REMOVE, -1);
    EXPECT_FALSE(log.contains("SuspendDeviceCheck()"));
    EXPECT_EQ(control->threadState(), etaTRACKING);
}

TEST_F(ControllerTest, SecondModuleArrivalRestoresSavedOrder)
{
    // Saved pair: RIGHT was module 1 last time. It is found first on the bus now.
    {
        ConfigFileRW writer;
        QDir().mkpath(ConfigFileRW::settingsFolder());
        QFile f(ConfigFileRW::paramFilePath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Configuration]\r\nSerialNumber1=LEFT\r\nSerialNumber2=RIGHT\r\n");
    }
    bus.plug(ModuleVariant::calibrated("RIGHT"));
    start();
    settle();
    ASSERT_EQ(settings->getNumOfCamDevice(), 1);
    bus.plug(ModuleVariant::calibrated("LEFT"));
    control->systemStateChange(esysDEVICE_FOUND_OR_REMOVE, -1);
    settle();
    EXPECT_EQ(settings->getNumOfCamDevice(), 2);
    EXPECT_EQ(settings->getDeviceSerial(0), "LEFT");
    EXPECT_EQ(settings->getDeviceSerial(1), "RIGHT");
    EXPECT_STREQ(control->device()->serialNumber(0), "LEFT");
    // param.ini was written again in the restored order (the installation keys
    // appear only through that save).
    QSettings param(ConfigFileRW::paramFilePath(), QSettings::IniFormat);
    EXPECT_EQ(param.value("Configuration/SerialNumber1").toString(), "LEFT");
    EXPECT_EQ(param.value("Configuration/SerialNumber2").toString(), "RIGHT");
    EXPECT_TRUE(param.contains("Configuration/LensSelect"));
    EXPECT_EQ(control->threadState(), etaTRACKING);
    ASSERT_EQ(control->displayInfo().size(), 2);
    EXPECT_EQ(control->displayInfo()[1].sDisplayRect.left(), 1920);
}

TEST_F(ControllerTest, DisplayChangeWaitsOnlyWhenModuleZerosRectangleChanged)
{
    bus.plug(ModuleVariant::calibrated("TLM-1"));
    start();
    settle();
    LogCapture log;
    qint64 before = tl::Clock::nowMs();
    qint64 sleptBefore = tl::Clock::sleptMs();
    control->systemStateChange(esysDISPLAY_CHANGE, -1);
    EXPECT_EQ(tl::Clock::sleptMs() - sleptBefore, 0);     // the settling wait was not taken
    EXPECT_FALSE(log.contains("ecsIDLE_CALIBRATION"));
    EXPECT_EQ(control->threadState(), etaTRACKING);

    tl::FixedScreens::install({{QRect(0, 0, 1280, 800), 96}});
    before = tl::Clock::nowMs();
    sleptBefore = tl::Clock::sleptMs();
    control->systemStateChange(esysDISPLAY_CHANGE, -1);
    EXPECT_GE(tl::Clock::nowMs() - before, 4000);
    EXPECT_GE(tl::Clock::sleptMs() - sleptBefore, 4000);  // the settling wait was taken
    EXPECT_TRUE(log.contains("ecsIDLE_CALIBRATION"));
    EXPECT_EQ(control->displayInfo()[0].sDisplayRect, QRect(0, 0, 1280, 800));
    settle();
    EXPECT_EQ(control->threadState(), etaTRACKING);
}

TEST_F(ControllerTest, FirmwareVersionGivesModelType)
{
    start();
    struct Case
    {
        const char *version;
        int type, subType, fwParam;
    };
    const Case cases[] = {
        {"40.12", 1, 0, 10}, {"30.07", 2, 2, 10}, {"30.05", 2, 1, 10}, {"51.15", 3, 0, 15},
        {"51.05", 3, 0, 0},  {"100.1", 3, 0, 0},  {"60.1", 0, 0, 0},   {"", 0, 0, 0},
    };
    for (const Case &c : cases) {
        control->slotSetFWVersion(c.version, 0);
        EXPECT_EQ(control->modelType(0), c.type) << c.version;
        if (c.type == 2) {
            EXPECT_EQ(control->modelSubType(0), c.subType) << c.version;
        }
        if (QString(c.version).startsWith("51.")) {
            EXPECT_EQ(control->fwParam(), c.fwParam) << c.version;
        }
        EXPECT_EQ(settings->getDeviceFwVersion(0), c.version);
    }
    // A module index the records do not have is refused, not written: the two
    // records, the firmware parameter and the stored versions stay as they were.
    control->slotSetFWVersion("30.07", 0);
    control->slotSetFWVersion("51.15", 1);
    for (int bad : {5, 2, -1}) {
        control->slotSetFWVersion("51.05", bad);   // would set the firmware parameter to 0
        EXPECT_EQ(control->modelType(bad), 0) << bad;
        EXPECT_EQ(control->modelType(0), 2) << bad;
        EXPECT_EQ(control->modelSubType(0), 2) << bad;
        EXPECT_EQ(control->modelType(1), 3) << bad;
        EXPECT_EQ(control->fwParam(), 15) << bad;
        EXPECT_EQ(settings->getDeviceFwVersion(0), "30.07") << bad;
        EXPECT_EQ(settings->getDeviceFwVersion(1), "51.15") << bad;
        EXPECT_EQ(settings->getDeviceFwVersion(bad), "") << bad;
    }
}

TEST_F(ControllerTest, StateNamesAreLoggedExactly)
{
    EXPECT_STREQ(systemStateName(esysUSER_START_ANALYSYS_BEFOR_TRACKING), "esysUSER_START_ANALYSYS_BEFOR_TRACKING");
    EXPECT_STREQ(calibrationStateName(5), "INVALID");
    EXPECT_STREQ(calibrationStateName(ecsANALYSIS_START_BEFOR_TRACKING), "ecsANALYSIS_START_BEFOR_TRACKING");
    EXPECT_STREQ(threadStateName(etaTRACKING), "etaTRACKING");
    EXPECT_STREQ(systemStateName(-3), "INVALID");
    EXPECT_STREQ(threadStateName(99), "INVALID");
}

} // namespace
