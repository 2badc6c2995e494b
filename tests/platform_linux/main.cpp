#include "PrivateBus.h"
#include "tests/support/OneTimeAllocations.h"
#include "TestBus.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char **argv)
{
    // Qt reads DBUS_SYSTEM_BUS_ADDRESS once, when the system bus is first used,
    // so the private bus has to be up before anything touches D-Bus.
    PrivateBus bus;
    if (!bus.start()) {
        std::fprintf(stderr, "cannot start a private dbus-daemon: %s\n", qPrintable(bus.error()));
        return 1;
    }
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address());
    testbus::setAddress(QString::fromLatin1(bus.address()));

    int result = 0;
    {
        const auto app = tl::test::startApplication<QGuiApplication>(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    bus.stop();
    return result;
}
