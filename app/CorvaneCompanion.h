#pragma once

#include "platform/CompanionLink.h"

#include <QObject>

#include <memory>

class Corvane;

namespace tl {
class GlobalHotKey;
class KeyboardHookLibrary;
class X11CompanionLink;
class X11CompanionReceiver;
}

// The main window's dealings with the companion drawing application, the
// keyboard hook library and the global hot key. Under X11 the companion is
// found over the window manager's client list and talks to the main window's
// X window; elsewhere there is no global window lookup and the link is off.
class CorvaneCompanion : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kReSensingKey = "Ctrl+Alt+Shift+F12";

    explicit CorvaneCompanion(Corvane *window);
    ~CorvaneCompanion() override;

    // For the injector: null when the link is off.
    tl::CompanionLink *link() const;
    tl::GlobalHotKey *hotKey() const { return m_hotKey.get(); }
    bool hookRunning() const;

    // Start-up step before the modules: find a running companion, announce the
    // main window to it and make it the injection target.
    void lookupAndAnnounce();
    // Start-up step after the modules: the keyboard hook, then the hot key.
    void startHookAndHotKey();
    // Close handling: KillHook, then the hot key goes.
    void shutDown();
    // The tray's companion entry: launch the brand's companion, then wait for
    // its window.
    void startScrivo();

private:
    tl::WindowHandle ownWindow() const;
    void makeTarget(tl::WindowHandle companion);

    Corvane *m_window;
    std::unique_ptr<tl::X11CompanionLink> m_link;
    std::unique_ptr<tl::X11CompanionReceiver> m_receiver;
    std::unique_ptr<tl::KeyboardHookLibrary> m_hook;
    std::unique_ptr<tl::GlobalHotKey> m_hotKey;
};
