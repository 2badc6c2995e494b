#pragma once

#include "platform/CompanionLink.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>

struct xcb_connection_t;
struct xcb_client_message_event_t;

namespace tl {

// The window messages exchanged with a companion drawing application. Their
// numbers stay as the companion knows them; on X11 each travels as a client
// message whose type is an atom of ours and whose 32-bit data is
// [number, first, second]: for the running-app message the window id and the
// mode flag, for a contact message the packed screen position and the code.
enum CompanionMessage : quint32 {
    kRunningAppMessage = 2024,  // WM_RUNNING_APP
    kIntelAppMessage = 2025,    // WM_INTEL_APP
    kContactMessageFirst = 0x472,
    kContactMessageIndex0 = 0x47E,
    kContactMessageLast = 0x47E,
};

// The companion link on an X server, on a connection of its own (the injector
// calls it from receive threads; the toolkit's connection stays the GUI
// thread's). Requests that can meet a vanished window are checked ones, except
// the contact messages, whose errors are read back on the next send, so no
// error piles up unread on the connection.
class X11CompanionLink : public CompanionLink
{
public:
    // Atom names of our own for the messages and for the press-and-hold word a
    // companion may set on its windows (CARDINAL, bit 0 = press and hold off).
    static constexpr const char *kRunningAppAtom = "_TESSELINK_RUNNING_APP";
    static constexpr const char *kIntelAppAtom = "_TESSELINK_INTEL_APP";
    static constexpr const char *kContactAtom = "_TESSELINK_CONTACT";
    static constexpr const char *kPenServiceAtom = "_TESSELINK_PEN_SERVICE";
    // Titles longer than this are not read (no companion title comes close).
    static constexpr int kMaxTitleBytes = 1024;

    // Connects to `display` (null: $DISPLAY). isOpen() tells whether it worked.
    explicit X11CompanionLink(const char *display = nullptr);
    ~X11CompanionLink() override;
    X11CompanionLink(const X11CompanionLink &) = delete;
    X11CompanionLink &operator=(const X11CompanionLink &) = delete;

    bool isOpen() const { return m_conn != nullptr; }

    // The companion window, looked up over the window manager's client list
    // (the root's top-level windows when there is none), in this order:
    // class "TfrmCanvas" with any title; class "Qt5QWindowIcon" titled
    // "Dialog6601"; class "Qt5QWindowIcon" titled two blanks and the
    // companion's name. 0 when none.
    WindowHandle findCompanion(const QByteArray &companionName);

    // Tells the companion which window the driver listens on (running-app
    // message, mode flag 0). False when the companion is gone.
    bool announce(WindowHandle companion, WindowHandle driverWindow);

    bool windowExists(WindowHandle window);

    // A client message received by the driver's window, read.
    struct Received
    {
        enum class Kind { NotOurs, RunningApp, IntelApp, Malformed } kind = Kind::NotOurs;
        quintptr first = 0;
        qintptr second = 0;
        QString problem;  // for Malformed
    };
    Received decode(const xcb_client_message_event_t *event) const;
    QString atomName(quint32 atom);

    // ---- CompanionLink -------------------------------------------------------
    bool isVisible(WindowHandle window) override;
    bool isMinimised(WindowHandle window) override;
    bool postMessage(WindowHandle window, quint32 message, quintptr first, qintptr second) override;
    WindowHandle windowAtCursor() override;
    quint32 penServiceProperty(WindowHandle window) override;

private:
    struct Property
    {
        bool ok = false;        // the window exists and has the property
        bool truncated = false; // longer than asked for
        quint32 type = 0;
        QByteArray bytes;
    };
    Property readProperty(quint32 window, quint32 property, quint32 maxBytes);
    quint32 intern(const char *name);
    bool hasWmState(quint32 window);
    bool send(quint32 window, quint32 type, quint32 d0, quint32 d1, quint32 d2);
    void drainErrors();

    xcb_connection_t *m_conn = nullptr;
    quint32 m_root = 0;
    quint32 m_runningApp = 0;
    quint32 m_intelApp = 0;
    quint32 m_contact = 0;
    quint32 m_penService = 0;
    quint32 m_clientList = 0;
    quint32 m_netWmName = 0;
    quint32 m_utf8String = 0;
    quint32 m_netWmState = 0;
    quint32 m_stateHidden = 0;
    quint32 m_wmState = 0;
    // The last window an unchecked send found gone.
    std::atomic<quint32> m_goneWindow{0};
};

} // namespace tl
