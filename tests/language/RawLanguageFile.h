#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <ostream>
#include <vector>

// A language file as bytes and lines, read without QSettings, so that the
// tests can check what the INI reader would hide (byte-order mark, line ends,
// quoting) and compare the reader's result against the raw text.
struct RawEntry
{
    QString group;
    QString key;
    QString rawText; // as written, quotes included
    int line = 0;
};

struct RawLanguageFile
{
    QByteArray bytes;
    QVector<RawEntry> entries;
    QStringList groups;
    QStringList malformedLines;

    static RawLanguageFile read(const QString &path);
    bool hasBom() const;
    // Number of LF bytes not preceded by CR.
    int bareLineFeeds() const;
    const RawEntry *find(const QString &group, const QString &key) const;
};

// The 23 language codes in row order.
QStringList allLanguageCodes();
QString languagePath(const QString &code);
std::vector<QString> languageCodeVector();

// Lets GoogleTest print QString parameters and values readably.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
