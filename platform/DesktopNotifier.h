#pragma once

#include <QString>

namespace tl {

// Desktop notifications over the session bus (org.freedesktop.Notifications), for
// desktops without a tray host. Returns false when no notification service answers.
bool sendDesktopNotification(const QString &title, const QString &body, bool critical, int timeoutMs);

} // namespace tl
