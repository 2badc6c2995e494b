#include "settings/LanguageTable.h"

#include <QLocale>
#include <gtest/gtest.h>

// The desktop texts (touch input off, touches not mapped) exist in every
// language with their one placeholder, and read back whole (no list split at
// a comma).
TEST(DesktopTexts, EveryLanguageHasBothWithTheirPlaceholder)
{
    LanguageTable english;
    ASSERT_TRUE(english.loadLanguageData(7, QLocale(QLocale::English)));
    EXPECT_TRUE(english.desktopText(0).startsWith(QStringLiteral("Touch input is off: the driver cannot open %1.")));
    EXPECT_TRUE(english.desktopText(0).endsWith(QStringLiteral("then log out and in again.")));
    EXPECT_TRUE(english.desktopText(2).isEmpty());
    EXPECT_TRUE(english.desktopText(-1).isEmpty());
    for (int id = 1; id <= LanguageTable::kLanguageCount; ++id) {
        LanguageTable table;
        ASSERT_TRUE(table.loadLanguageData(id, QLocale(QLocale::English))) << id;
        for (int k = 0; k < LanguageTable::kDesktopCount; ++k) {
            const QString text = table.desktopText(k);
            EXPECT_EQ(text.count(QStringLiteral("%1")), 1) << id << " D" << k + 1;
            EXPECT_GT(text.size(), 40) << id << " D" << k + 1;
            if (id != 7)
                EXPECT_NE(text, english.desktopText(k)) << id << " D" << k + 1;
        }
        EXPECT_TRUE(table.desktopText(0).contains(QStringLiteral("60-tesselink-uinput.rules"))) << id;
        EXPECT_EQ(table.desktopText(1).arg(QStringLiteral("weston")).count(QStringLiteral("weston")), 1) << id;
    }
}
