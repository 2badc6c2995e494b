#include "input/MousePointWindowCheck.h"

namespace tl::input {

void MousePointWindowCheck::check()
{
    const WindowHandle window = m_link ? m_link->windowAtCursor() : 0;
    if (!window) {
        // Nothing under the cursor asks for anything.
        m_window = 0;
        m_bDisabled = false;
        m_bChecked = true;
        return;
    }
    if (m_bChecked && window == m_window)
        return;
    const quint32 property = m_link->penServiceProperty(window);
    m_bDisabled = property != 0 && (property & 1u) != 0;
    m_window = window;
    m_bChecked = true;
}

} // namespace tl::input
