#include "resources/Resources.h"

#include <QApplication>
#include <gtest/gtest.h>

// Runs under xvfb-run with the xcb platform: the companion link, its receiver
// and the hot key talk to a real X server.
int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    tl::initResources();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
