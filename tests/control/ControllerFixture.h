#pragma once

#include "control/nqmaincontrol.h"
#include "device/CamDevCtrl.h"
#include "platform/Clock.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "settings/ConfigFileRW.h"
#include "settings/LanguageTable.h"
#include "sim/EmulatedBus.h"
#include "tests/support/DriverSpin.h"

#include <QCoreApplication>
#include <QDir>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>

// The controller against emulated modules: real protocol code, real receive
// loops, time compressed (every wait keeps its value). Two 1920 x 1080 displays
// side by side; fresh settings for every test.
class ControllerFixture : public ::testing::Test
{
protected:
    explicit ControllerFixture(double compression = 40) : m_compression(compression) {}

    void SetUp() override
    {
        tl::Clock::setCompression(m_compression);
        QDir(ConfigFileRW::settingsFolder()).removeRecursively();
        tl::FixedScreens::install({{QRect(0, 0, 1920, 1080), 96}, {QRect(1920, 0, 1920, 1080), 96}});
        language.loadLanguageData(7, QLocale(QLocale::English));
    }

    void TearDown() override
    {
        closeController();
        tl::FixedScreens::uninstall();
        tl::Clock::setCompression(1);
    }

    // Stops and closes the modules, then drops the controller and the settings.
    void closeController()
    {
        if (control) {
            control->StopDevice();
            for (int i = 0; i < settings->getNumOfCamDevice() && i < 2; ++i)
                control->device()->Close(i);
        }
        control.reset();
        settings.reset();
    }

    // Runs the event loop for `rounds` steps of 20 ms driver time.
    static void settle(int rounds = 20) { tl::test::settle(rounds); }

    tl::sim::EmulatedBus bus;
    QWidget window;
    LanguageTable language;
    std::unique_ptr<ConfigFileRW> settings;
    std::unique_ptr<nqmaincontrol> control;

private:
    double m_compression;
};
