#pragma once

#include "platform/CompanionLink.h"

namespace tl::input {

// Whether the window under the mouse cursor has asked for no press-and-hold
// right click (bit 0 of its pen service property). The property is read only
// when the window under the cursor changes; the answer is kept until a check
// finds a window again.
class MousePointWindowCheck
{
public:
    explicit MousePointWindowCheck(CompanionLink *link) : m_link(link) {}

    void check();
    bool pressAndHoldDisabled() const { return m_bDisabled; }
    WindowHandle window() const { return m_window; }

private:
    CompanionLink *m_link;
    WindowHandle m_window = 0;
    bool m_bChecked = false;
    bool m_bDisabled = false;
};

} // namespace tl::input
