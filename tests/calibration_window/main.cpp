#include "resources/Resources.h"
#include "tests/support/OneTimeAllocations.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    const auto app = tl::test::startApplication<QApplication>(argc, argv);
    tl::initResources();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
