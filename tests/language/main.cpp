#include "resources/Resources.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

// The font checks ask Qt's font database, which needs a GUI application.
int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    tl::initResources();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
