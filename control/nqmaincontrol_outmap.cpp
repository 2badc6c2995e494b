#include "control/nqmaincontrol.h"

#include "input/InputInjection.h"
#include "settings/LanguageTable.h"

QString nqmaincontrol::takeInjectionMessage()
{
    if (!m_injection)
        return QString();
    QString detail;
    const tl::InjectionNotice notice = m_injection->takeNotice(&detail);
    if (notice == tl::InjectionNotice::None)
        return QString();
    // D1: touch input is off (the uinput node); D2: touches not mapped (the desktop).
    const int key = notice == tl::InjectionNotice::NoUinput ? 0 : 1;
    const QString text = m_language ? m_language->desktopText(key) : QString();
    return text.isEmpty() ? QString() : text.arg(detail);
}
