#include "platform/fake/RecordingCompanionLink.h"

namespace tl {

void RecordingCompanionLink::addWindow(WindowHandle window, bool visible, bool minimised, quint32 penProperty)
{
    m_windows[window] = Window{visible, minimised, penProperty};
}

void RecordingCompanionLink::destroyWindow(WindowHandle window)
{
    m_windows.erase(window);
    if (m_cursorWindow == window)
        m_cursorWindow = 0;
}

bool RecordingCompanionLink::isVisible(WindowHandle window)
{
    const auto it = m_windows.find(window);
    return it != m_windows.end() && it->second.visible;
}

bool RecordingCompanionLink::isMinimised(WindowHandle window)
{
    const auto it = m_windows.find(window);
    return it != m_windows.end() && it->second.minimised;
}

bool RecordingCompanionLink::postMessage(WindowHandle window, quint32 message, quintptr first, qintptr second)
{
    m_posts.push_back(Post{window, message, first, second});
    return m_windows.count(window) != 0;
}

quint32 RecordingCompanionLink::penServiceProperty(WindowHandle window)
{
    ++m_propertyReads;
    const auto it = m_windows.find(window);
    return it != m_windows.end() ? it->second.penProperty : 0;
}

} // namespace tl
