#pragma once

#include "platform/GlobalHotKey.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QVariantMap>

#include <memory>

namespace tl {

// A hot key through the desktop portal's GlobalShortcuts interface (Wayland
// sessions, where no client may grab keys): a session is created, the
// shortcut is bound with the sequence as the preferred trigger (the desktop
// may ask the user, or choose another trigger), and the portal's Activated
// signal for our shortcut id becomes `activated`.
class PortalGlobalHotKey : public GlobalHotKey
{
    Q_OBJECT
public:
    static constexpr const char *kShortcutId = "resensing";

    // Null when the bus offers no GlobalShortcuts portal.
    static std::unique_ptr<PortalGlobalHotKey> create(const QKeySequence &sequence, const QDBusConnection &bus,
                                                      QObject *parent = nullptr);
    ~PortalGlobalHotKey() override;

    bool isRegistered() const override { return m_bBound; }
    QKeySequence shortcut() const override { return m_sequence; }
    QString sessionHandle() const { return m_session; }

    // "CTRL+ALT+SHIFT+F12": the trigger notation of the shortcuts portal.
    static QString portalTrigger(const QKeySequence &sequence);

signals:
    // The portal answered the bind request (bound or refused).
    void bindFinished(bool bound);

private slots:
    void onSessionResponse(uint response, const QVariantMap &results);
    void onBindResponse(uint response, const QVariantMap &results);
    void onActivated(const QDBusObjectPath &session, const QString &id, qulonglong timestamp,
                     const QVariantMap &options);

private:
    PortalGlobalHotKey(const QKeySequence &sequence, const QDBusConnection &bus, QObject *parent);
    bool createSession();
    void bind();
    QString requestPath(const QString &token) const;

    QDBusConnection m_bus;
    QKeySequence m_sequence;
    QString m_session;
    bool m_bBound = false;
};

} // namespace tl
