#pragma once

#include <QFont>
#include <QLocale>
#include <QString>
#include <QStringList>

// The texts of the chosen language, in five lists addressed by 0-based index
// (key number minus one): T tray, C configuration, CW calibration window,
// M message boxes, L language names. Filled once at start-up by
// loadLanguageData and read-only afterwards; the main window owns the one
// instance and shares it by pointer.
class LanguageTable
{
public:
    // Rows of the language list. LanguageID in config.ini is the row + 1;
    // 0 (or anything outside 1..23) lets the system locale decide.
    static constexpr int kLanguageCount = 23;
    static constexpr int kEnglishIndex = 6;
    static constexpr int kArabicIndex = 0;
    static constexpr int kPersianIndex = 7;
    static constexpr int kKoreanIndex = 14;
    static constexpr int kChineseSimplifiedIndex = 2;
    static constexpr int kChineseTraditionalIndex = 3;

    // List sizes (keys 1..n of each group).
    static constexpr int kTrayCount = 11;
    static constexpr int kConfigCount = 38;
    static constexpr int kCalibCount = 5;
    static constexpr int kMessageCount = 21;
    // Group "DESKTOP", keys D1..D2: what the driver tells about the desktop
    // (D1 touch input off: %1 is the uinput node; D2 touches not mapped to the
    // board's monitor: %1 is the desktop).
    static constexpr int kDesktopCount = 2;

    // Where the language files live: the embedded resources registered by
    // tl::initResources().
    static const QString kResourceFolder;

    LanguageTable();

    // Chooses the language from languageId (1..23), else from the default
    // QLocale, else English, and reads its texts and the language names.
    // Returns false when neither the chosen file nor the English file exists.
    bool loadLanguageData(int languageId);
    // Same with the system locale given by the caller, and optionally another
    // folder holding the l_<code> and l_Idx files.
    bool loadLanguageData(int languageId, const QLocale &systemLocale,
                          const QString &folder = kResourceFolder);

    // The row the language choice takes, before any check that its file exists.
    static int chooseLanguageIndex(int languageId, const QLocale &systemLocale);
    // Three-letter code of a row ("ARA" .. "SWE"); empty outside 0..22.
    static QString languageCode(int index);
    // Row of a code, -1 when unknown.
    static int indexOfCode(const QString &code);

    // Texts by 0-based index; an index outside a list gives an empty text.
    QString trayText(int index) const;
    QString configText(int index) const;
    QString calibText(int index) const;
    QString messageText(int index) const;
    QString desktopText(int index) const;
    QString languageName(int index) const;

    // 0-based row of the chosen language (6, English, until loaded).
    int languageIndex() const { return m_nLanguageIndex; }
    QString languageCode() const { return languageCode(m_nLanguageIndex); }
    // Arabic and Persian are written right to left.
    bool isRightToLeft() const;

    // The font family dialogs ask for: "Malgun Gothic" for Korean, "Tahoma"
    // otherwise.
    QString fontFamily() const;
    // The family actually used: the named one when installed, else an
    // installed family that covers the language's script. Needs a
    // QGuiApplication (it asks the font database).
    QString resolvedFontFamily() const;
    // A font with resolvedFontFamily() first and further script-covering
    // families as fallbacks, in the given point size (-1 keeps the default).
    QFont dialogFont(int pointSize = -1) const;

private:
    static QString textAt(const QStringList &list, int index);
    QStringList m_sDesktop;

    QStringList m_sTray;
    QStringList m_sConfig;
    QStringList m_sCalib;
    QStringList m_sMessage;
    QStringList m_sLanguageName;
    int m_nLanguageIndex = kEnglishIndex;
};
