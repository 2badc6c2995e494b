#include "tests/support/LogCapture.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace tl::test {

namespace {
// Guards the active capture and every capture's lines. A standard mutex, so
// that thread checkers see it.
std::mutex g_lock;
LogCapture *g_active = nullptr;
const bool g_print = qEnvironmentVariableIntValue("TL_TEST_LOG") != 0;
} // namespace

LogCapture::LogCapture()
{
    std::lock_guard<std::mutex> lock(g_lock);
    m_outer = g_active;
    g_active = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    std::lock_guard<std::mutex> lock(g_lock);
    qInstallMessageHandler(m_previous);
    g_active = m_outer;
}

void LogCapture::handler(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    {
        std::lock_guard<std::mutex> lock(g_lock);
        if (g_active)
            g_active->m_lines.append(msg);
    }
    if (g_print)
        std::fprintf(stderr, "%s\n", qPrintable(msg));
}

QStringList LogCapture::lines() const
{
    std::lock_guard<std::mutex> lock(g_lock);
    return m_lines;
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> lock(g_lock);
    m_lines.clear();
}

int LogCapture::find(const QString &text, int from) const
{
    const QStringList all = lines();
    for (int i = std::max(0, from); i < all.size(); ++i)
        if (all[i].contains(text))
            return i;
    return -1;
}

int LogCapture::count(const QString &text) const
{
    int n = 0;
    for (const QString &l : lines())
        n += l.contains(text);
    return n;
}

int LogCapture::countLine(const QString &line) const
{
    return lines().count(line);
}

QStringList LogCapture::startingWith(const QString &prefix) const
{
    QStringList out;
    for (const QString &l : lines())
        if (l.startsWith(prefix))
            out << l;
    return out;
}

} // namespace tl::test
