#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace tl::test {

// Collects every debug line while it lives, so that a test can check what the
// code under test logged and in which order. Captures nest: an inner one
// collects until it ends, then the outer one collects again. Receive threads
// may log while a capture ends: the lines are guarded.
//
// "contains" and "count" look for text inside a line; "hasLine" and
// "countLine" compare whole lines. Set TL_TEST_LOG=1 to also print the log.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    void clear();

    // Index of the first line at or after `from` that contains `text`, or -1.
    int find(const QString &text, int from = 0) const;
    bool contains(const QString &text) const { return find(text) >= 0; }
    int count(const QString &text) const;

    bool hasLine(const QString &line) const { return countLine(line) > 0; }
    int countLine(const QString &line) const;
    // Lines that start with `prefix`.
    QStringList startingWith(const QString &prefix) const;

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &msg);
    LogCapture *m_outer = nullptr;
    QtMessageHandler m_previous = nullptr;
    QStringList m_lines;
};

} // namespace tl::test
