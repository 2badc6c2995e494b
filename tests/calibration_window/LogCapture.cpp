#include "LogCapture.h"

namespace {
LogCapture *g_active = nullptr;
}

LogCapture::LogCapture()
    : m_outer(g_active)
{
    g_active = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    g_active = m_outer;
}

QStringList LogCapture::startingWith(const QString &prefix) const
{
    QStringList out;
    for (const QString &l : m_lines)
        if (l.startsWith(prefix))
            out << l;
    return out;
}

void LogCapture::handler(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    if (g_active)
        g_active->m_lines << msg;
}
