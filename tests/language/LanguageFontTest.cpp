// Dialog fonts on a machine without the Windows fonts the dialogs name: every
// character of every text must be drawable by the families the table hands
// out, or the user sees boxes.
#include "RawLanguageFile.h"

#include "settings/LanguageTable.h"

#include <QFontDatabase>
#include <QRawFont>
#include <QSet>
#include <QSettings>
#include <gtest/gtest.h>

namespace {

QStringList allTexts(const QString &code)
{
    QSettings file(languagePath(code), QSettings::IniFormat);
    file.setIniCodec("UTF-8");
    QStringList texts;
    for (const QString &key : file.allKeys())
        texts.append(file.value(key).toString());
    return texts;
}

bool needsGlyph(uint c)
{
    // Spaces and format characters (the Persian zero-width non-joiner) shape
    // the text but draw nothing of their own.
    const QChar::Category cat = QChar::category(c);
    return cat != QChar::Separator_Space && cat != QChar::Other_Format && cat != QChar::Other_Control;
}

class DialogFont : public ::testing::TestWithParam<QString>
{
};

TEST_P(DialogFont, CoversEveryCharacterOfTheLanguage)
{
    const QString code = GetParam();
    LanguageTable table;
    ASSERT_TRUE(table.loadLanguageData(LanguageTable::indexOfCode(code) + 1, QLocale::c()));
    ASSERT_EQ(table.languageCode(), code);

    const QFontDatabase db;
    const QString family = table.resolvedFontFamily();
    ASSERT_FALSE(family.isEmpty());
    EXPECT_TRUE(db.families().contains(family, Qt::CaseInsensitive)) << family.toStdString() << " is not installed";
    if (!db.families().contains(table.fontFamily(), Qt::CaseInsensitive)) {
        EXPECT_NE(family, table.fontFamily());
    }

    const QFont font = table.dialogFont(10);
    EXPECT_EQ(font.family(), family);
    EXPECT_EQ(font.pointSize(), 10);
    QVector<QRawFont> raws;
    for (const QString &f : font.families()) {
        QRawFont raw = QRawFont::fromFont(QFont(f));
        ASSERT_TRUE(raw.isValid()) << f.toStdString();
        raws.append(raw);
    }

    QSet<uint> uncovered;
    for (const QString &text : allTexts(code) + QStringList{table.languageName(table.languageIndex())}) {
        for (uint c : text.toUcs4()) {
            if (!needsGlyph(c))
                continue;
            bool covered = false;
            for (const QRawFont &raw : raws)
                covered = covered || raw.supportsCharacter(c);
            if (!covered)
                uncovered.insert(c);
        }
    }
    QStringList missing;
    for (uint c : uncovered)
        missing.append(QStringLiteral("U+%1").arg(c, 4, 16, QLatin1Char('0')).toUpper());
    EXPECT_TRUE(uncovered.isEmpty()) << code.toStdString() << " with " << font.families().join(", ").toStdString()
                                     << " lacks " << missing.join(' ').toStdString();
}

TEST_P(DialogFont, ScriptFontComesFirstWhenTheNamedOneIsAbsent)
{
    const QString code = GetParam();
    LanguageTable table;
    ASSERT_TRUE(table.loadLanguageData(LanguageTable::indexOfCode(code) + 1, QLocale::c()));
    const QFontDatabase db;
    if (db.families().contains(table.fontFamily(), Qt::CaseInsensitive))
        GTEST_SKIP() << table.fontFamily().toStdString() << " is installed here";

    QFontDatabase::WritingSystem script = QFontDatabase::Latin;
    if (code == QLatin1String("ARA") || code == QLatin1String("FAR"))
        script = QFontDatabase::Arabic;
    else if (code == QLatin1String("CHS"))
        script = QFontDatabase::SimplifiedChinese;
    else if (code == QLatin1String("CHT"))
        script = QFontDatabase::TraditionalChinese;
    else if (code == QLatin1String("JPN"))
        script = QFontDatabase::Japanese;
    else if (code == QLatin1String("KOR"))
        script = QFontDatabase::Korean;
    else if (code == QLatin1String("BUL") || code == QLatin1String("RUS"))
        script = QFontDatabase::Cyrillic;
    EXPECT_TRUE(db.families(script).contains(table.resolvedFontFamily(), Qt::CaseInsensitive))
        << code.toStdString() << ": " << table.resolvedFontFamily().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Languages, DialogFont, ::testing::ValuesIn(languageCodeVector()),
                         [](const ::testing::TestParamInfo<QString> &info) { return info.param.toStdString(); });

} // namespace
