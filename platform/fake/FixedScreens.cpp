#include "platform/fake/FixedScreens.h"

namespace tl {

namespace {
FixedScreens &layout()
{
    static FixedScreens screens;
    return screens;
}
} // namespace

QList<MonitorInfo> FixedScreens::monitors() const
{
    QMutexLocker lock(&m_lock);
    return m_monitors;
}

void FixedScreens::setMonitors(const QList<MonitorInfo> &monitors)
{
    QMutexLocker lock(&m_lock);
    m_monitors = monitors;
}

void FixedScreens::install(const QList<MonitorInfo> &monitors)
{
    layout().setMonitors(monitors);
    ScreenSource::install(&layout());
}

void FixedScreens::uninstall()
{
    ScreenSource::install(nullptr);
}

} // namespace tl
