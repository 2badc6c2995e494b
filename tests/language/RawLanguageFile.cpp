#include "RawLanguageFile.h"

#include "settings/LanguageTable.h"

#include <QFile>
#include <QRegularExpression>

RawLanguageFile RawLanguageFile::read(const QString &path)
{
    RawLanguageFile f;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return f;
    f.bytes = file.readAll();

    QByteArray body = f.bytes;
    if (f.hasBom())
        body = body.mid(3);
    const QString text = QString::fromUtf8(body);
    static const QRegularExpression groupLine(QStringLiteral("^\\[([^\\]]+)\\][ \\t]*$"));
    static const QRegularExpression entryLine(QStringLiteral("^([A-Za-z0-9]+)\\t=\\t(.*)$"));
    QString group;
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    for (int i = 0; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        if (line.trimmed().isEmpty())
            continue;
        QRegularExpressionMatch m = groupLine.match(line);
        if (m.hasMatch()) {
            group = m.captured(1);
            f.groups.append(group);
            continue;
        }
        m = entryLine.match(line);
        if (m.hasMatch() && !group.isEmpty()) {
            f.entries.append({group, m.captured(1), m.captured(2), i + 1});
            continue;
        }
        f.malformedLines.append(QStringLiteral("%1: %2").arg(i + 1).arg(line));
    }
    return f;
}

bool RawLanguageFile::hasBom() const
{
    return bytes.startsWith("\xEF\xBB\xBF");
}

int RawLanguageFile::bareLineFeeds() const
{
    int n = 0;
    for (int i = 0; i < bytes.size(); ++i) {
        if (bytes.at(i) == '\n' && (i == 0 || bytes.at(i - 1) != '\r'))
            ++n;
    }
    return n;
}

const RawEntry *RawLanguageFile::find(const QString &group, const QString &key) const
{
    for (const RawEntry &e : entries) {
        if (e.group == group && e.key == key)
            return &e;
    }
    return nullptr;
}

QStringList allLanguageCodes()
{
    QStringList codes;
    for (int i = 0; i < LanguageTable::kLanguageCount; ++i)
        codes.append(LanguageTable::languageCode(i));
    return codes;
}

QString languagePath(const QString &code)
{
    return LanguageTable::kResourceFolder + QStringLiteral("/l_") + code;
}

std::vector<QString> languageCodeVector()
{
    const QStringList codes = allLanguageCodes();
    return std::vector<QString>(codes.cbegin(), codes.cend());
}
