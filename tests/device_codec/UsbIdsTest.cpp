// The installed udev rule names the ids the driver looks for.
#include "device/codec/UsbIds.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

using namespace tl::codec;

TEST(UsbIds, GeneratedUdevRuleMatchesTheHeader)
{
    std::ifstream in(TL_MODULE_RULE);
    ASSERT_TRUE(in.good()) << TL_MODULE_RULE;
    std::stringstream text;
    text << in.rdbuf();
    const std::string rule = text.str();
    std::smatch m;
    ASSERT_TRUE(std::regex_search(rule, m, std::regex(R"re(ATTR\{idVendor\}=="([0-9a-f]{4})", ATTR\{idProduct\}=="([0-9a-f]{4})")re")))
        << rule;
    char vendor[8], product[8];
    std::snprintf(vendor, sizeof vendor, "%04x", kVendorId);
    std::snprintf(product, sizeof product, "%04x", kProductId);
    EXPECT_EQ(m[1].str(), vendor);
    EXPECT_EQ(m[2].str(), product);
    EXPECT_NE(rule.find("TAG+=\"uaccess\""), std::string::npos);
    EXPECT_EQ(rule.find('@'), std::string::npos) << "an unreplaced placeholder";
}
