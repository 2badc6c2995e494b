#pragma once

#include "platform/CompanionLink.h"

#include <map>
#include <vector>

namespace tl {

// A companion link for tests: windows are plain numbers whose visibility,
// minimised state and pen property the test sets; posted messages are recorded.
// A window the test "destroys" refuses posts, as a vanished window would.
class RecordingCompanionLink : public CompanionLink
{
public:
    struct Post
    {
        WindowHandle window = 0;
        quint32 message = 0;
        quintptr first = 0;
        qintptr second = 0;
    };

    void addWindow(WindowHandle window, bool visible = true, bool minimised = false, quint32 penProperty = 0);
    void destroyWindow(WindowHandle window);
    void setCursorWindow(WindowHandle window) { m_cursorWindow = window; }

    bool isVisible(WindowHandle window) override;
    bool isMinimised(WindowHandle window) override;
    bool postMessage(WindowHandle window, quint32 message, quintptr first, qintptr second) override;
    WindowHandle windowAtCursor() override { return m_cursorWindow; }
    quint32 penServiceProperty(WindowHandle window) override;

    const std::vector<Post> &posts() const { return m_posts; }
    int propertyReads() const { return m_propertyReads; }
    void clear() { m_posts.clear(); }

private:
    struct Window
    {
        bool visible = true;
        bool minimised = false;
        quint32 penProperty = 0;
    };
    std::map<WindowHandle, Window> m_windows;
    std::vector<Post> m_posts;
    WindowHandle m_cursorWindow = 0;
    int m_propertyReads = 0;
};

} // namespace tl
