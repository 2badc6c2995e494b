#include "app/Corvane.h"
#include "app/CorvaneCompanion.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "platform/fake/FakeSystemEvents.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "tests/support/PlatformInjection.h"

#include <QDir>
#include <gtest/gtest.h>

// Without an X server (here the offscreen platform, as under Wayland) there is no
// global window lookup: the driver runs with the companion link and the X hot
// key off, and the companion's messages still reach the controller.
TEST(CompanionOffTest, NoWindowLookupWithoutX)
{
    QDir(ConfigFileRW::settingsFolder()).removeRecursively();
    tl::FixedScreens::install({{QRect(0, 0, 1920, 1080), 96}});
    tl::sim::EmulatedBus bus;
    tl::FakeSystemEvents events;
    auto window = std::make_unique<Corvane>(Corvane::Platform{&events, &bus, {}, &tl::test::platformInjection()});
    EXPECT_EQ(window->companion()->link(), nullptr);
    window->initialStart();
    EXPECT_EQ(window->companion()->hotKey(), nullptr);
    EXPECT_EQ(window->control()->targetWindow(), 0u);
    window->StartScrivo();
    window->handleRunningApp(0x1234, 1);
    EXPECT_EQ(window->control()->targetWindow(), 0x1234u);
    EXPECT_TRUE(window->control()->intelMode());
    window.reset();
    tl::FixedScreens::uninstall();
}
