// How the language is chosen and what the getters return.
#include "RawLanguageFile.h"

#include "settings/LanguageTable.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString fileText(const QString &code, const QString &group, const QString &key)
{
    QSettings file(languagePath(code), QSettings::IniFormat);
    file.setIniCodec("UTF-8");
    return file.value(group + QLatin1Char('/') + key).toString();
}

const QLocale kGerman(QLocale::German, QLocale::Germany);

TEST(LanguageChoice, StoredIdPicksItsRowWhateverTheLocale)
{
    LanguageTable table;
    ASSERT_TRUE(table.loadLanguageData(7, kGerman));
    EXPECT_EQ(table.languageIndex(), LanguageTable::kEnglishIndex);
    EXPECT_EQ(table.languageCode(), QStringLiteral("ENU"));
    EXPECT_EQ(table.trayText(0), QStringLiteral("Configuration"));
    EXPECT_EQ(table.messageText(16), QStringLiteral("Disconnection"));
    EXPECT_FALSE(table.isRightToLeft());

    ASSERT_TRUE(table.loadLanguageData(1, kGerman));
    EXPECT_EQ(table.languageIndex(), 0);
    EXPECT_EQ(table.languageCode(), QStringLiteral("ARA"));
    EXPECT_TRUE(table.isRightToLeft());
    EXPECT_EQ(table.trayText(0), fileText(QStringLiteral("ARA"), QStringLiteral("TRAY ICON MENU"), QStringLiteral("T1")));
    EXPECT_NE(table.trayText(0), QStringLiteral("Configuration"));

    ASSERT_TRUE(table.loadLanguageData(8, kGerman));
    EXPECT_EQ(table.languageCode(), QStringLiteral("FAR"));
    EXPECT_TRUE(table.isRightToLeft());

    ASSERT_TRUE(table.loadLanguageData(23, kGerman));
    EXPECT_EQ(table.languageCode(), QStringLiteral("SWE"));
    EXPECT_FALSE(table.isRightToLeft());
}

TEST(LanguageChoice, EveryStoredIdLoadsItsOwnFile)
{
    for (int id = 1; id <= LanguageTable::kLanguageCount; ++id) {
        LanguageTable table;
        ASSERT_TRUE(table.loadLanguageData(id, kGerman)) << id;
        const QString code = LanguageTable::languageCode(id - 1);
        EXPECT_EQ(table.languageIndex(), id - 1);
        EXPECT_EQ(table.calibText(1), fileText(code, QStringLiteral("CALIBRATION WINDOW"), QStringLiteral("CW2")))
            << code.toStdString();
        EXPECT_EQ(table.configText(37), fileText(code, QStringLiteral("CONFIGURATION"), QStringLiteral("C38")))
            << code.toStdString();
    }
}

TEST(LanguageChoice, IdOutsideTheListFollowsTheLocale)
{
    for (int id : {0, 24, -1, 1000}) {
        LanguageTable table;
        ASSERT_TRUE(table.loadLanguageData(id, kGerman));
        EXPECT_EQ(table.languageCode(), QStringLiteral("DEU")) << id;
        EXPECT_EQ(table.trayText(9), fileText(QStringLiteral("DEU"), QStringLiteral("TRAY ICON MENU"), QStringLiteral("T10")));
    }
    EXPECT_EQ(LanguageTable::chooseLanguageIndex(24, QLocale(QStringLiteral("ar_EG"))),
              LanguageTable::chooseLanguageIndex(0, QLocale(QStringLiteral("ar_EG"))));
}

TEST(LanguageChoice, ChineseByScriptAndRegion)
{
    struct Case { const char *locale; const char *code; };
    const Case cases[] = {
        {"zh_HK", "CHT"}, {"zh_TW", "CHT"}, {"zh_Hant", "CHT"}, {"zh_Hant_TW", "CHT"},
        {"zh_CN", "CHS"}, {"zh_SG", "CHS"}, {"zh", "CHS"}, {"zh_Hans", "CHS"},
    };
    for (const Case &c : cases) {
        const QLocale locale(QLatin1String(c.locale));
        ASSERT_EQ(locale.language(), QLocale::Chinese) << c.locale;
        EXPECT_EQ(LanguageTable::languageCode(LanguageTable::chooseLanguageIndex(0, locale)),
                  QLatin1String(c.code))
            << c.locale << " (" << locale.bcp47Name().toStdString() << ")";
    }

    LanguageTable table;
    ASSERT_TRUE(table.loadLanguageData(0, QLocale(QStringLiteral("zh_HK"))));
    EXPECT_EQ(table.languageIndex(), LanguageTable::kChineseTraditionalIndex);
    EXPECT_EQ(table.trayText(0), fileText(QStringLiteral("CHT"), QStringLiteral("TRAY ICON MENU"), QStringLiteral("T1")));
    ASSERT_TRUE(table.loadLanguageData(0, QLocale(QStringLiteral("zh_CN"))));
    EXPECT_EQ(table.languageIndex(), LanguageTable::kChineseSimplifiedIndex);
    EXPECT_EQ(table.trayText(0), fileText(QStringLiteral("CHS"), QStringLiteral("TRAY ICON MENU"), QStringLiteral("T1")));
}

TEST(LanguageChoice, LocalesMapToTheirRows)
{
    struct Case { const char *locale; const char *code; };
    const Case cases[] = {
        {"ar_SA", "ARA"}, {"bg_BG", "BUL"}, {"cs_CZ", "CES"}, {"da_DK", "DAN"}, {"en_GB", "ENU"},
        {"en_US", "ENU"}, {"fa_IR", "FAR"}, {"fi_FI", "FIN"}, {"fr_CA", "FRA"}, {"de_AT", "DEU"},
        {"id_ID", "IND"}, {"it_IT", "ITA"}, {"ja_JP", "JPN"}, {"ko_KR", "KOR"}, {"lt_LT", "LTU"},
        {"nb_NO", "NOR"}, {"pl_PL", "PLK"}, {"pt_BR", "PTB"}, {"pt_PT", "PTB"}, {"ro_RO", "ROM"},
        {"ru_RU", "RUS"}, {"es_MX", "ESN"}, {"sv_SE", "SWE"},
        // No row of their own: English.
        {"nl_NL", "ENU"}, {"tr_TR", "ENU"}, {"he_IL", "ENU"}, {"C", "ENU"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(LanguageTable::languageCode(LanguageTable::chooseLanguageIndex(0, QLocale(QLatin1String(c.locale)))),
                  QLatin1String(c.code))
            << c.locale;
    }

    LanguageTable table;
    ASSERT_TRUE(table.loadLanguageData(0, QLocale(QStringLiteral("nl_NL"))));
    EXPECT_EQ(table.languageIndex(), LanguageTable::kEnglishIndex);
    EXPECT_EQ(table.trayText(3), QStringLiteral("Manual Calibration"));
}

TEST(LanguageTexts, IndexOutsideAListGivesAnEmptyText)
{
    LanguageTable table;
    ASSERT_TRUE(table.loadLanguageData(7, kGerman));

    EXPECT_FALSE(table.trayText(10).isEmpty());
    EXPECT_TRUE(table.trayText(11).isEmpty());
    EXPECT_FALSE(table.configText(37).isEmpty());
    EXPECT_TRUE(table.configText(38).isEmpty());
    EXPECT_FALSE(table.calibText(4).isEmpty());
    EXPECT_TRUE(table.calibText(5).isEmpty());
    EXPECT_FALSE(table.messageText(20).isEmpty());
    EXPECT_TRUE(table.messageText(21).isEmpty());
    EXPECT_TRUE(table.messageText(1000).isEmpty());
    EXPECT_FALSE(table.languageName(22).isEmpty());
    EXPECT_TRUE(table.languageName(23).isEmpty());
    for (int negative : {-1, -2, -1000}) {
        EXPECT_TRUE(table.trayText(negative).isEmpty());
        EXPECT_TRUE(table.configText(negative).isEmpty());
        EXPECT_TRUE(table.calibText(negative).isEmpty());
        EXPECT_TRUE(table.messageText(negative).isEmpty());
        EXPECT_TRUE(table.languageName(negative).isEmpty());
    }

    // Before loading every list is empty, not out of bounds.
    LanguageTable empty;
    EXPECT_TRUE(empty.trayText(0).isEmpty());
    EXPECT_TRUE(empty.messageText(16).isEmpty());
    EXPECT_EQ(LanguageTable::languageCode(-1), QString());
    EXPECT_EQ(LanguageTable::languageCode(23), QString());
}

TEST(LanguageTexts, NamesComeFromTheIndexWhateverTheLanguage)
{
    LanguageTable table;
    ASSERT_TRUE(table.loadLanguageData(11, kGerman));
    EXPECT_EQ(table.languageName(10), QStringLiteral("Deutsch"));
    EXPECT_EQ(table.languageName(0), QStringLiteral("العربية"));
    EXPECT_EQ(table.languageName(6), QStringLiteral("English"));
    EXPECT_EQ(table.languageName(14), QStringLiteral("한국어"));
}

TEST(LanguageFonts, KoreanAsksForMalgunGothicEveryOtherForTahoma)
{
    for (int id = 1; id <= LanguageTable::kLanguageCount; ++id) {
        LanguageTable table;
        ASSERT_TRUE(table.loadLanguageData(id, kGerman));
        EXPECT_EQ(table.fontFamily(), id - 1 == LanguageTable::kKoreanIndex ? QStringLiteral("Malgun Gothic")
                                                                           : QStringLiteral("Tahoma"))
            << id;
    }
}

// A folder of hand-made language files, to test what the embedded set never
// shows: a missing file, a missing key.
class LanguageFolder : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    void copyFromResources(const QString &name)
    {
        ASSERT_TRUE(QFile::copy(LanguageTable::kResourceFolder + QLatin1Char('/') + name, dir.filePath(name)));
        QFile::setPermissions(dir.filePath(name), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    void write(const QString &name, const QByteArray &body)
    {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("\xEF\xBB\xBF" + body);
    }

    QTemporaryDir dir;
};

TEST_F(LanguageFolder, MissingFileFallsBackToEnglish)
{
    copyFromResources(QStringLiteral("l_ENU"));
    copyFromResources(QStringLiteral("l_Idx"));
    LanguageTable table;
    EXPECT_TRUE(table.loadLanguageData(11, kGerman, dir.path()));
    EXPECT_EQ(table.languageIndex(), LanguageTable::kEnglishIndex);
    EXPECT_EQ(table.trayText(9), QStringLiteral("Exit"));
    EXPECT_EQ(table.languageName(10), QStringLiteral("Deutsch"));

    // Locale choice falls back the same way.
    EXPECT_TRUE(table.loadLanguageData(0, QLocale(QStringLiteral("fr_FR")), dir.path()));
    EXPECT_EQ(table.languageIndex(), LanguageTable::kEnglishIndex);
}

TEST_F(LanguageFolder, NothingToReadLeavesEmptyTextsAndSaysSo)
{
    LanguageTable table;
    EXPECT_FALSE(table.loadLanguageData(11, kGerman, dir.path()));
    EXPECT_EQ(table.languageIndex(), LanguageTable::kEnglishIndex);
    EXPECT_TRUE(table.trayText(0).isEmpty());
    EXPECT_TRUE(table.languageName(0).isEmpty());
}

TEST_F(LanguageFolder, MissingKeyEmptiesThatTextOnly)
{
    copyFromResources(QStringLiteral("l_Idx"));
    write(QStringLiteral("l_DEU"),
          "[TRAY ICON MENU]\t\t\r\n"
          "T1\t=\tKonfiguration\r\n"
          "T2\t=\tAusrichtungsansicht\r\n"
          "T4\t=\tManuelle Kalibrierung\r\n"
          "\r\n"
          "[MESSAGEBOX]\t\t\r\n"
          "M15\t=\t\"Tesselink-Status, quoted\"\r\n"
          "M16\t=\tVerbunden, unquoted\r\n"
          "M17\t=\t  Getrennt  \r\n");
    LanguageTable table;
    EXPECT_TRUE(table.loadLanguageData(11, kGerman, dir.path()));
    EXPECT_EQ(table.languageCode(), QStringLiteral("DEU"));
    EXPECT_EQ(table.trayText(0), QStringLiteral("Konfiguration"));
    EXPECT_EQ(table.trayText(1), QStringLiteral("Ausrichtungsansicht"));
    EXPECT_TRUE(table.trayText(2).isEmpty());
    EXPECT_EQ(table.trayText(3), QStringLiteral("Manuelle Kalibrierung"));
    EXPECT_TRUE(table.configText(0).isEmpty());
    EXPECT_EQ(table.messageText(14), QStringLiteral("Tesselink-Status, quoted"));
    // The file format's rule: an unquoted comma reads as an empty text.
    EXPECT_TRUE(table.messageText(15).isEmpty());
    EXPECT_EQ(table.messageText(16), QStringLiteral("Getrennt"));
}

} // namespace
