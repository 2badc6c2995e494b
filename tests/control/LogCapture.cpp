#include "LogCapture.h"

#include <mutex>

namespace {
// Guards the active capture and its lines: receive threads log while a test's
// capture may be ending. A standard mutex, so that thread checkers see it.
std::mutex g_lock;
} // namespace

LogCapture *LogCapture::s_active = nullptr;

LogCapture::LogCapture()
{
    std::lock_guard<std::mutex> lock(g_lock);
    s_active = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    std::lock_guard<std::mutex> lock(g_lock);
    qInstallMessageHandler(m_previous);
    s_active = nullptr;
}

void LogCapture::handler(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    std::lock_guard<std::mutex> lock(g_lock);
    if (s_active)
        s_active->m_lines.append(msg);
}

QStringList LogCapture::lines() const
{
    std::lock_guard<std::mutex> lock(g_lock);
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
