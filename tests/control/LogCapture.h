#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects every debug line while it lives, so that a test can check what the
// driver logged and in which order.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();

    QStringList lines() const;
    // Index of the first line at or after `from` that contains `text`, or -1.
    int find(const QString &text, int from = 0) const;
    bool contains(const QString &text) const { return find(text) >= 0; }

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &msg);
    static LogCapture *s_active;
    QtMessageHandler m_previous = nullptr;
    QStringList m_lines;
};
