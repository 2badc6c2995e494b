#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects the debug log of the code under test instead of printing it (a fit
// writes tens of thousands of lines). Captures nest: an inner one collects
// until it ends, then the outer one collects again.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    const QStringList &lines() const { return m_lines; }
    bool contains(const QString &line) const { return m_lines.contains(line); }
    int count(const QString &line) const { return m_lines.count(line); }
    // Lines that start with `prefix`.
    QStringList startingWith(const QString &prefix) const;
    void clear() { m_lines.clear(); }

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &msg);
    LogCapture *m_outer;
    QtMessageHandler m_previous;
    QStringList m_lines;
};
