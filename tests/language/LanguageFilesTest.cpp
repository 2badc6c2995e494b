// Checks every embedded language file the way the INI reader sees it and the
// way it is stored: a text the reader loses shows up as an empty menu entry or
// message box, with no error anywhere.
#include "RawLanguageFile.h"

#include "settings/LanguageTable.h"

#include <QFile>
#include <QSet>
#include <QSettings>
#include <gtest/gtest.h>

namespace {

const char *const kGroups[] = {"TRAY ICON MENU", "CONFIGURATION", "CALIBRATION WINDOW", "MESSAGEBOX"};

// Keys of the English file, group by group, as the INI reader sees them.
QMap<QString, QStringList> englishKeys()
{
    QSettings en(languagePath(QStringLiteral("ENU")), QSettings::IniFormat);
    en.setIniCodec("UTF-8");
    QMap<QString, QStringList> keys;
    for (const char *g : kGroups) {
        en.beginGroup(QLatin1String(g));
        keys.insert(QLatin1String(g), en.childKeys());
        en.endGroup();
    }
    return keys;
}

QString unquoted(const QString &raw)
{
    const QString t = raw.trimmed();
    if (t.size() >= 2 && t.startsWith(QLatin1Char('"')) && t.endsWith(QLatin1Char('"')))
        return t.mid(1, t.size() - 2);
    return t;
}

QString englishText(const QString &group, const QString &key)
{
    QSettings en(languagePath(QStringLiteral("ENU")), QSettings::IniFormat);
    en.setIniCodec("UTF-8");
    return en.value(group + QLatin1Char('/') + key).toString();
}

class EveryLanguageFile : public ::testing::TestWithParam<QString>
{
};

TEST_P(EveryLanguageFile, IsEmbeddedWithBomAndCrLf)
{
    const QString path = languagePath(GetParam());
    ASSERT_TRUE(QFile::exists(path)) << "missing resource " << path.toStdString();
    const RawLanguageFile raw = RawLanguageFile::read(path);
    EXPECT_TRUE(raw.hasBom());
    EXPECT_GT(raw.bytes.count("\r\n"), 0);
    EXPECT_EQ(raw.bareLineFeeds(), 0) << "lines must end with CR LF";
    EXPECT_TRUE(raw.malformedLines.isEmpty())
        << raw.malformedLines.join(QLatin1Char('\n')).toStdString();
}

TEST_P(EveryLanguageFile, HoldsEveryEnglishKeyWithText)
{
    const QString path = languagePath(GetParam());
    ASSERT_TRUE(QFile::exists(path)) << "missing resource " << path.toStdString();
    QSettings file(path, QSettings::IniFormat);
    file.setIniCodec("UTF-8");
    ASSERT_EQ(file.status(), QSettings::NoError);

    const QMap<QString, QStringList> keys = englishKeys();
    int keyCount = 0;
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        for (const QString &key : it.value()) {
            ++keyCount;
            const QString fullKey = it.key() + QLatin1Char('/') + key;
            ASSERT_TRUE(file.contains(fullKey)) << GetParam().toStdString() << " lacks " << fullKey.toStdString();
            const QVariant v = file.value(fullKey);
            // An unquoted comma makes the reader return a list, which the table
            // reads as an empty text.
            EXPECT_EQ(v.type(), QVariant::String) << GetParam().toStdString() << " " << fullKey.toStdString();
            if (key != QLatin1String("C9")) {
                EXPECT_FALSE(v.toString().trimmed().isEmpty())
                    << GetParam().toStdString() << " " << fullKey.toStdString() << " is empty";
            }
        }
    }
    EXPECT_EQ(keyCount, LanguageTable::kTrayCount + LanguageTable::kConfigCount
                            + LanguageTable::kCalibCount + LanguageTable::kMessageCount);
}

TEST_P(EveryLanguageFile, QuotesEveryTextWithACommaAndReadsBackAsWritten)
{
    const QString path = languagePath(GetParam());
    ASSERT_TRUE(QFile::exists(path)) << "missing resource " << path.toStdString();
    const RawLanguageFile raw = RawLanguageFile::read(path);
    QSettings file(path, QSettings::IniFormat);
    file.setIniCodec("UTF-8");

    QSet<QString> seen;
    for (const RawEntry &e : raw.entries) {
        const QString id = e.group + QLatin1Char('/') + e.key;
        EXPECT_FALSE(seen.contains(id)) << GetParam().toStdString() << ": " << id.toStdString() << " twice";
        seen.insert(id);

        const QString text = unquoted(e.rawText);
        if (text.contains(QLatin1Char(','))) {
            EXPECT_TRUE(e.rawText.trimmed().startsWith(QLatin1Char('"'))
                        && e.rawText.trimmed().endsWith(QLatin1Char('"')))
                << GetParam().toStdString() << " line " << e.line << ": comma outside quotes";
        }
        // What the reader returns must be the text as written: catches escapes,
        // comment characters and stray quotes that the reader would eat.
        EXPECT_EQ(file.value(id).toString(), text)
            << GetParam().toStdString() << " line " << e.line;
    }
}

TEST_P(EveryLanguageFile, KeepsProductNamesAndIsTranslated)
{
    const QString code = GetParam();
    const QString path = languagePath(code);
    ASSERT_TRUE(QFile::exists(path)) << "missing resource " << path.toStdString();
    QSettings file(path, QSettings::IniFormat);
    file.setIniCodec("UTF-8");

    int sameAsEnglish = 0;
    int total = 0;
    const QMap<QString, QStringList> keys = englishKeys();
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        for (const QString &key : it.value()) {
            const QString id = it.key() + QLatin1Char('/') + key;
            const QString en = englishText(it.key(), key);
            const QString text = file.value(id).toString();
            ++total;
            if (text == en)
                ++sameAsEnglish;
            for (const char *name : {"Tesselink", "Meridan-Pen"}) {
                if (en.contains(QLatin1String(name))) {
                    EXPECT_TRUE(text.contains(QLatin1String(name)))
                        << code.toStdString() << " " << id.toStdString() << " drops " << name;
                }
            }
            // The reference mark opens the wizard's hint lines in every language.
            if (en.startsWith(QStringLiteral("※"))) {
                EXPECT_TRUE(text.startsWith(QStringLiteral("※"))) << code.toStdString() << " " << id.toStdString();
            }
        }
    }
    if (code != QLatin1String("ENU")) {
        // Some entries (mode names, tool names, "Auto") may stay English; a file
        // mostly identical to English is an untranslated copy.
        EXPECT_LT(sameAsEnglish, total / 4) << code.toStdString() << ": " << sameAsEnglish << " of "
                                            << total << " texts are English";
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, EveryLanguageFile,
                         ::testing::ValuesIn(languageCodeVector()),
                         [](const ::testing::TestParamInfo<QString> &info) {
                             return info.param.toStdString();
                         });

TEST(LanguageIndexFile, HoldsTheNamesInRowOrder)
{
    const QString path = LanguageTable::kResourceFolder + QStringLiteral("/l_Idx");
    ASSERT_TRUE(QFile::exists(path));
    const RawLanguageFile raw = RawLanguageFile::read(path);
    EXPECT_TRUE(raw.hasBom());
    EXPECT_EQ(raw.bareLineFeeds(), 0);
    EXPECT_TRUE(raw.malformedLines.isEmpty());

    // Each language's name in its own language; the wizard lists them in this
    // order and stores the position as LanguageID.
    const QStringList expected{
        QStringLiteral("العربية"), QStringLiteral("Български"), QStringLiteral("简体中文"),
        QStringLiteral("繁體中文"), QStringLiteral("Čeština"),  QStringLiteral("Dansk"),
        QStringLiteral("English"), QStringLiteral("فارسی"),   QStringLiteral("Suomi"),
        QStringLiteral("Français"), QStringLiteral("Deutsch"), QStringLiteral("Indonesia"),
        QStringLiteral("Italiano"), QStringLiteral("日本語"),  QStringLiteral("한국어"),
        QStringLiteral("Lietuvos"), QStringLiteral("Norsk"),   QStringLiteral("Polski"),
        QStringLiteral("Português"), QStringLiteral("Română"), QStringLiteral("Pусский"),
        QStringLiteral("Español"), QStringLiteral("Svenska")};

    ASSERT_EQ(raw.entries.size(), expected.size());
    for (int i = 0; i < raw.entries.size(); ++i) {
        EXPECT_EQ(raw.entries[i].group, QStringLiteral("Language"));
        EXPECT_EQ(raw.entries[i].key, QStringLiteral("L%1").arg(i + 1)) << "line " << raw.entries[i].line;
    }

    QSettings file(path, QSettings::IniFormat);
    file.setIniCodec("UTF-8");
    for (int i = 0; i < expected.size(); ++i)
        EXPECT_EQ(file.value(QStringLiteral("Language/L%1").arg(i + 1)).toString(), expected[i]) << "L" << i + 1;
}

TEST(EnglishFile, HoldsTheTextsTheTrayShows)
{
    // The tray and the connection balloons show these; other parts compare
    // against them in their own tests.
    const QStringList tray{QStringLiteral("Configuration"), QStringLiteral("Alignment View"),
                           QStringLiteral("Auto Calibration"), QStringLiteral("Manual Calibration"),
                           QStringLiteral("Pen Mode"), QStringLiteral("Finger Touch Mode"),
                           QStringLiteral("Run Meridan-Pen"), QStringLiteral("Virtual Keyboard"),
                           QStringLiteral("About Tesselink"), QStringLiteral("Exit"), QStringLiteral("Close")};
    for (int i = 0; i < tray.size(); ++i)
        EXPECT_EQ(englishText(QStringLiteral("TRAY ICON MENU"), QStringLiteral("T%1").arg(i + 1)), tray[i]);
    EXPECT_EQ(englishText(QStringLiteral("MESSAGEBOX"), QStringLiteral("M15")), QStringLiteral("Tesselink Status"));
    EXPECT_EQ(englishText(QStringLiteral("MESSAGEBOX"), QStringLiteral("M16")), QStringLiteral("Connection"));
    EXPECT_EQ(englishText(QStringLiteral("MESSAGEBOX"), QStringLiteral("M17")), QStringLiteral("Disconnection"));
    EXPECT_EQ(englishText(QStringLiteral("MESSAGEBOX"), QStringLiteral("M18")),
              QStringLiteral("Tesselink is connected to PC."));
    EXPECT_EQ(englishText(QStringLiteral("MESSAGEBOX"), QStringLiteral("M19")),
              QStringLiteral("Tesselink is disconnected to PC."));
    EXPECT_EQ(englishText(QStringLiteral("CONFIGURATION"), QStringLiteral("C35")),
              QStringLiteral("Masking - Paint the area to be excluded"));
}

} // namespace
