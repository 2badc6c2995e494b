#include "LogCapture.h"

LogCapture *LogCapture::s_active = nullptr;

LogCapture::LogCapture()
{
    s_active = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    s_active = nullptr;
}

void LogCapture::handler(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    if (!s_active)
        return;
    QMutexLocker lock(&s_active->m_lock);
    s_active->m_lines.append(msg);
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&m_lock);
    return m_lines;
}

int LogCapture::find(const QString &text, int from) const
{
    const QStringList all = lines();
    for (int i = std::max(0, from); i < all.size(); ++i)
        if (all[i].contains(text))
            return i;
    return -1;
}
