#include "PrivateBus.h"
#include "tests/support/OneTimeAllocations.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    // GIO picks its settings backend once, at the first use of GSettings.
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
    // Every compositor of these tests talks on this bus, never on the session's.
    PrivateBus bus;
    if (!bus.start()) {
        std::fprintf(stderr, "cannot start a private dbus-daemon: %s\n", qPrintable(bus.error()));
        return 1;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().constData(), 1);
    int result = 0;
    {
        const auto app = tl::test::startApplication<QGuiApplication>(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    bus.stop();
    return result;
}
