#include "input/MousePointWindowCheck.h"

namespace tl::input {

void MousePointWindowCheck::check()
{
    const WindowHandle window = m_link ? m_link->windowAtCursor() : 0;
    // No window found (the look failed, or the cursor is between windows)
    // tells nothing new: the last answer stands until a window is found. The
    // pen is held still where that answer was read.
    if (!window)
        return;
    if (m_bChecked && window == m_window)
        return;
    const quint32 property = m_link->penServiceProperty(window);
    m_bDisabled = property != 0 && (property & 1u) != 0;
    m_window = window;
    m_bChecked = true;
}

} // namespace tl::input
