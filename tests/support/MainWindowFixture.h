#pragma once

// The main window as the driver runs it (real controller and device layer) on
// emulated modules, with its system events raised by hand: the fixture the
// main-window tests share. Header only; the tests that use it link tl_app and
// tl_sim.

#include "app/Corvane.h"
#include "control/nqmaincontrol.h"
#include "platform/Clock.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "platform/fake/FakeSystemEvents.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "tests/support/DriverSpin.h"
#include "tests/support/PlatformInjection.h"

#include <QDir>
#include <QList>
#include <gtest/gtest.h>

#include <memory>

namespace tl::test {

class MainWindowFixture : public ::testing::Test
{
protected:
    // Driver time runs `compression` times faster than the wall clock; the
    // desktop is `monitors`. Each test starts from an empty settings folder.
    explicit MainWindowFixture(double compression = 40,
                               QList<tl::MonitorInfo> monitors = {{QRect(0, 0, 1920, 1080), 96}})
        : m_compression(compression)
        , m_monitors(std::move(monitors))
    {
    }

    void SetUp() override
    {
        tl::Clock::setCompression(m_compression);
        QDir(ConfigFileRW::settingsFolder()).removeRecursively();
        tl::FixedScreens::install(m_monitors);
    }
    void TearDown() override
    {
        window.reset();
        tl::FixedScreens::uninstall();
        tl::Clock::setCompression(1);
    }

    // The main window on the bus and the hand-raised events; not started.
    void makeWindow()
    {
        window = std::make_unique<Corvane>(Corvane::Platform{&events, &bus, {}, &tl::test::platformInjection()});
    }

    // Makes the window, starts it on the modules plugged so far and lets it
    // settle: whether it then tracks.
    bool startWindow()
    {
        makeWindow();
        window->initialStart();
        settle();
        return window->control() && window->control()->threadState() == etaTRACKING;
    }

    // Runs the event loop for `rounds` turns of 20 ms of driver time.
    static void settle(int rounds = 10) { tl::test::settle(rounds); }

    // Runs the event loop until `done` holds or `driverMs` of driver time pass.
    template <typename Pred>
    static bool settleUntil(Pred done, int driverMs = 60000)
    {
        return tl::test::spinUntil(done, driverMs);
    }

    tl::sim::EmulatedBus bus;
    tl::FakeSystemEvents events;
    std::unique_ptr<Corvane> window;

private:
    double m_compression;
    QList<tl::MonitorInfo> m_monitors;
};

} // namespace tl::test
