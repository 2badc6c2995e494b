#include "settings/LanguageTable.h"

#include <QDebug>
#include <QFile>
#include <QFontDatabase>
#include <QSettings>

#include <array>

namespace {

struct LanguageRow
{
    const char *code;
    QLocale::Language language;
};

// Row order is stored in config.ini (LanguageID = row + 1): never reorder.
constexpr std::array<LanguageRow, LanguageTable::kLanguageCount> kLanguages{{
    {"ARA", QLocale::Arabic},
    {"BUL", QLocale::Bulgarian},
    {"CHS", QLocale::Chinese},
    {"CHT", QLocale::Chinese},
    {"CES", QLocale::Czech},
    {"DAN", QLocale::Danish},
    {"ENU", QLocale::English},
    {"FAR", QLocale::Persian},
    {"FIN", QLocale::Finnish},
    {"FRA", QLocale::French},
    {"DEU", QLocale::German},
    {"IND", QLocale::Indonesian},
    {"ITA", QLocale::Italian},
    {"JPN", QLocale::Japanese},
    {"KOR", QLocale::Korean},
    {"LTU", QLocale::Lithuanian},
    {"NOR", QLocale::NorwegianBokmal},
    {"PLK", QLocale::Polish},
    {"PTB", QLocale::Portuguese},
    {"ROM", QLocale::Romanian},
    {"RUS", QLocale::Russian},
    {"ESN", QLocale::Spanish},
    {"SWE", QLocale::Swedish},
}};

// The stored enumerator values are part of the file contract of LanguageID's
// locale choice; a Qt that renumbered them would silently pick wrong rows.
static_assert(QLocale::Arabic == 8 && QLocale::Chinese == 25 && QLocale::English == 31
                  && QLocale::Persian == 89 && QLocale::NorwegianBokmal == 85
                  && QLocale::Swedish == 114,
              "QLocale language values changed");

QStringList readGroup(QSettings &file, const char *group, const char *prefix, int count)
{
    QStringList texts;
    texts.reserve(count);
    file.beginGroup(QLatin1String(group));
    for (int i = 1; i <= count; ++i) {
        // A text with an unquoted comma comes back as a list and reads as an
        // empty text, like a missing key.
        texts.append(file.value(QStringLiteral("%1%2").arg(QLatin1String(prefix)).arg(i)).toString());
    }
    file.endGroup();
    return texts;
}

bool isTraditionalChinese(const QLocale &locale)
{
    const QString name = locale.bcp47Name();
    return name == QLatin1String("zh-TW") || name == QLatin1String("zh-HK")
           || name.startsWith(QLatin1String("zh-Hant"))
           || locale.script() == QLocale::TraditionalHanScript;
}

QFontDatabase::WritingSystem writingSystemOf(int index)
{
    switch (index) {
    case LanguageTable::kArabicIndex:
    case LanguageTable::kPersianIndex:
        return QFontDatabase::Arabic;
    case 1:  // BUL
    case 20: // RUS
        return QFontDatabase::Cyrillic;
    case LanguageTable::kChineseSimplifiedIndex:
        return QFontDatabase::SimplifiedChinese;
    case LanguageTable::kChineseTraditionalIndex:
        return QFontDatabase::TraditionalChinese;
    case 13: // JPN
        return QFontDatabase::Japanese;
    case LanguageTable::kKoreanIndex:
        return QFontDatabase::Korean;
    default:
        return QFontDatabase::Latin;
    }
}

// Families known to cover each script well, in order of preference; they come
// with the fonts-noto-core, fonts-noto-cjk and fonts-dejavu-core packages.
QStringList preferredFamilies(int index)
{
    switch (writingSystemOf(index)) {
    case QFontDatabase::Arabic:
        return {QStringLiteral("Noto Sans Arabic"), QStringLiteral("Noto Naskh Arabic"),
                QStringLiteral("DejaVu Sans")};
    case QFontDatabase::SimplifiedChinese:
        return {QStringLiteral("Noto Sans CJK SC")};
    case QFontDatabase::TraditionalChinese:
        return {QStringLiteral("Noto Sans CJK TC"), QStringLiteral("Noto Sans CJK HK")};
    case QFontDatabase::Japanese:
        return {QStringLiteral("Noto Sans CJK JP")};
    case QFontDatabase::Korean:
        return {QStringLiteral("Noto Sans CJK KR")};
    default:
        return {QStringLiteral("Noto Sans"), QStringLiteral("DejaVu Sans")};
    }
}

bool containsFamily(const QStringList &families, const QString &family)
{
    return families.contains(family, Qt::CaseInsensitive);
}

} // namespace

const QString LanguageTable::kResourceFolder = QStringLiteral(":/Language");

LanguageTable::LanguageTable() = default;

bool LanguageTable::loadLanguageData(int languageId)
{
    return loadLanguageData(languageId, QLocale());
}

bool LanguageTable::loadLanguageData(int languageId, const QLocale &systemLocale,
                                     const QString &folder)
{
    qDebug() << "loadLanguageData():" << languageId;

    int index = chooseLanguageIndex(languageId, systemLocale);
    QString path = folder + QStringLiteral("/l_") + languageCode(index);
    if (!QFile::exists(path)) {
        qDebug() << "loadLanguageData(): no resource" << path << "- using English";
        index = kEnglishIndex;
        path = folder + QStringLiteral("/l_ENU");
    }
    qDebug() << "loadLanguageData():" << languageCode(index) << path;

    const bool found = QFile::exists(path);
    {
        QSettings file(path, QSettings::IniFormat);
        file.setIniCodec("UTF-8");
        m_sTray = readGroup(file, "TRAY ICON MENU", "T", kTrayCount);
        m_sConfig = readGroup(file, "CONFIGURATION", "C", kConfigCount);
        m_sCalib = readGroup(file, "CALIBRATION WINDOW", "CW", kCalibCount);
        m_sMessage = readGroup(file, "MESSAGEBOX", "M", kMessageCount);
        m_sDesktop = readGroup(file, "DESKTOP", "D", kDesktopCount);
    }
    {
        QSettings names(folder + QStringLiteral("/l_Idx"), QSettings::IniFormat);
        names.setIniCodec("UTF-8");
        m_sLanguageName = readGroup(names, "Language", "L", kLanguageCount);
    }
    m_nLanguageIndex = index;
    return found;
}

int LanguageTable::chooseLanguageIndex(int languageId, const QLocale &systemLocale)
{
    if (languageId >= 1 && languageId <= kLanguageCount)
        return languageId - 1;

    const QLocale::Language language = systemLocale.language();
    if (language == QLocale::Chinese) {
        return isTraditionalChinese(systemLocale) ? kChineseTraditionalIndex
                                                  : kChineseSimplifiedIndex;
    }
    for (int row = 0; row < kLanguageCount; ++row) {
        if (kLanguages[row].language == language)
            return row;
    }
    return kEnglishIndex;
}

QString LanguageTable::languageCode(int index)
{
    if (index < 0 || index >= kLanguageCount)
        return QString();
    return QLatin1String(kLanguages[index].code);
}

int LanguageTable::indexOfCode(const QString &code)
{
    for (int row = 0; row < kLanguageCount; ++row) {
        if (code == QLatin1String(kLanguages[row].code))
            return row;
    }
    return -1;
}

QString LanguageTable::textAt(const QStringList &list, int index)
{
    if (index < 0 || index >= list.size())
        return QString();
    return list.at(index);
}

QString LanguageTable::trayText(int index) const { return textAt(m_sTray, index); }
QString LanguageTable::configText(int index) const { return textAt(m_sConfig, index); }
QString LanguageTable::calibText(int index) const { return textAt(m_sCalib, index); }
QString LanguageTable::messageText(int index) const { return textAt(m_sMessage, index); }
QString LanguageTable::desktopText(int index) const { return textAt(m_sDesktop, index); }
QString LanguageTable::languageName(int index) const { return textAt(m_sLanguageName, index); }

bool LanguageTable::isRightToLeft() const
{
    return m_nLanguageIndex == kArabicIndex || m_nLanguageIndex == kPersianIndex;
}

QString LanguageTable::fontFamily() const
{
    return m_nLanguageIndex == kKoreanIndex ? QStringLiteral("Malgun Gothic")
                                            : QStringLiteral("Tahoma");
}

QString LanguageTable::resolvedFontFamily() const
{
    // QFontDatabase::hasFamily() would follow fontconfig's aliases and report
    // "Tahoma" as present when it only maps to a substitute; compare against
    // the installed families instead.
    const QFontDatabase db;
    const QString named = fontFamily();
    if (containsFamily(db.families(), named))
        return named;

    const QFontDatabase::WritingSystem script = writingSystemOf(m_nLanguageIndex);
    const QStringList covering = db.families(script);
    for (const QString &family : preferredFamilies(m_nLanguageIndex)) {
        if (containsFamily(covering, family))
            return family;
    }
    for (const QString &family : covering) {
        if (!db.isPrivateFamily(family))
            return family;
    }
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

QFont LanguageTable::dialogFont(int pointSize) const
{
    const QString first = resolvedFontFamily();
    QStringList families{first};
    // Texts of right-to-left and CJK languages still carry Latin words
    // ("Tesselink", key names) and the reference mark; keep general families
    // behind the script's own one so that no glyph falls through.
    const QFontDatabase db;
    const QStringList installed = db.families();
    for (const QString &family : preferredFamilies(m_nLanguageIndex)
                                     + QStringList{QStringLiteral("Noto Sans"),
                                                   QStringLiteral("DejaVu Sans")}) {
        if (!containsFamily(families, family) && containsFamily(installed, family))
            families.append(family);
    }
    QFont font(first);
    font.setFamilies(families);
    if (pointSize > 0)
        font.setPointSize(pointSize);
    return font;
}
