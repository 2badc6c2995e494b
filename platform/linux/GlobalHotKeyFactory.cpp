#include "platform/GlobalHotKey.h"

#include "platform/linux/PortalGlobalHotKey.h"
#include "platform/linux/X11GlobalHotKey.h"

#include <QDebug>
#include <QGuiApplication>
#include <QX11Info>

namespace tl {

std::unique_ptr<GlobalHotKey> createGlobalHotKey(const QKeySequence &sequence, QObject *parent)
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb") && QX11Info::isPlatformX11())
        return std::make_unique<X11GlobalHotKey>(QX11Info::connection(), QX11Info::appRootWindow(), sequence,
                                                 parent);
    if (platform.startsWith(QLatin1String("wayland"))) {
        if (auto portal = PortalGlobalHotKey::create(sequence, QDBusConnection::sessionBus(), parent))
            return portal;
        qDebug() << "createGlobalHotKey(): no global shortcuts portal on this desktop; hot key"
                 << sequence.toString(QKeySequence::PortableText) << "off";
        return nullptr;
    }
    qDebug() << "createGlobalHotKey(): no global hot key on platform" << platform;
    return nullptr;
}

} // namespace tl
