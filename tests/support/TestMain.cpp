#include "resources/Resources.h"
#include "tests/support/OneTimeAllocations.h"

#include <QApplication>
#include <gtest/gtest.h>

// The main of the Qt test executables: a widget application (tests run with
// the offscreen platform) that stays up when a test closes its last window,
// with the embedded images and language files.
int main(int argc, char **argv)
{
    // Raster only, as the driver runs (its main switches the X11 GL integration
    // off): a native window would otherwise load a GL driver that nothing uses.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    const auto app = tl::test::startApplication<QApplication>(argc, argv);
    app->setQuitOnLastWindowClosed(false);
    tl::initResources();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
