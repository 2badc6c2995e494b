#include "tests/support/LogCapture.h"

#include "app/Corvane.h"
#include "platform/Screens.h"
#include "platform/fake/FixedScreens.h"
#include "platform/fake/FakeSystemEvents.h"
#include "platform/linux/KeyboardHookLibrary.h"
#include "settings/ConfigFileRW.h"
#include "sim/EmulatedBus.h"
#include "tests/support/PlatformInjection.h"

#include <QDir>
#include <gtest/gtest.h>

#include <dlfcn.h>

namespace {

// The counters of a test hook library that is loaded already.
template <typename T>
T *counter(const char *library, const char *name)
{
    void *handle = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
    return handle ? static_cast<T *>(dlsym(handle, name)) : nullptr;
}

} // namespace

TEST(HookLibraryTest, RunHookAtStartKillHookAtStop)
{
    tl::KeyboardHookLibrary hook;
    ASSERT_TRUE(hook.start(QStringLiteral(TL_TEST_HOOK_FULL), 0x2a00005));
    EXPECT_TRUE(hook.isLoaded());
    auto *window = counter<unsigned long>(TL_TEST_HOOK_FULL, "tl_test_hook_window");
    auto *runs = counter<int>(TL_TEST_HOOK_FULL, "tl_test_hook_runs");
    auto *kills = counter<int>(TL_TEST_HOOK_FULL, "tl_test_hook_kills");
    ASSERT_TRUE(window && runs && kills);
    EXPECT_EQ(*window, 0x2a00005ul);
    const int runsBefore = *runs;
    const int killsBefore = *kills;
    hook.stop();
    EXPECT_FALSE(hook.isLoaded());
    EXPECT_EQ(*kills, killsBefore + 1);
    hook.stop();  // forgotten: not again
    EXPECT_EQ(*kills, killsBefore + 1);
    EXPECT_EQ(*runs, runsBefore);
}

TEST(HookLibraryTest, MissingLibraryOrRunHookMeansNoHook)
{
    tl::test::LogCapture log;
    tl::KeyboardHookLibrary hook;
    EXPECT_FALSE(hook.start(QStringLiteral("/nonexistent/libtesselink-keyhook.so"), 1));
    EXPECT_FALSE(hook.isLoaded());
    EXPECT_TRUE(log.contains("KeyboardHookLibrary: no hook library:"));

    EXPECT_FALSE(hook.start(QStringLiteral(TL_TEST_HOOK_NORUN), 1));
    EXPECT_FALSE(hook.isLoaded());
    EXPECT_TRUE(log.contains("has no RunHook; running without the hook"));
    hook.stop();
    auto *kills = counter<int>(TL_TEST_HOOK_NORUN, "tl_test_hook_kills");
    ASSERT_NE(kills, nullptr);
    EXPECT_EQ(*kills, 0);
}

// The driver finds the library by its name (here through the loader's path),
// starts it with the main window's X id and stops it when the window closes.
TEST(HookLibraryTest, MainWindowStartsAndStopsTheHook)
{
    QDir(ConfigFileRW::settingsFolder()).removeRecursively();
    tl::FixedScreens::install({{QRect(0, 0, 1280, 800), 96}});
    tl::sim::EmulatedBus bus;
    tl::FakeSystemEvents events;
    auto window = std::make_unique<Corvane>(Corvane::Platform{&events, &bus, {}, &tl::test::platformInjection()});
    window->initialStart();
    auto *hookWindow = counter<unsigned long>(tl::KeyboardHookLibrary::kFileName, "tl_test_hook_window");
    auto *kills = counter<int>(tl::KeyboardHookLibrary::kFileName, "tl_test_hook_kills");
    ASSERT_TRUE(hookWindow && kills) << "the test hook is not on LD_LIBRARY_PATH";
    EXPECT_EQ(*hookWindow, window->winId());
    const int before = *kills;
    window->close();
    EXPECT_EQ(*kills, before + 1);
    window.reset();
    EXPECT_EQ(*kills, before + 1);
    tl::FixedScreens::uninstall();
}
