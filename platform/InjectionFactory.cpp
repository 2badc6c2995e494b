#include "platform/InjectionFactory.h"

#include "platform/Screens.h"
#include "platform/linux/UinputMouseBackend.h"
#include "platform/linux/UinputTouchBackend.h"
#include "platform/linux/XTestMouseBackend.h"

#include <QDebug>
#include <QGuiApplication>
#include <QScreen>

namespace tl {

InjectionSetup defaultInjectionSetup()
{
    InjectionSetup setup;
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        const QString platform = QGuiApplication::platformName();
        if (platform == QLatin1String("xcb"))
            setup.session = InjectionSetup::Session::X11;
        else if (platform.startsWith(QLatin1String("wayland")))
            setup.session = InjectionSetup::Session::Wayland;
        if (const QScreen *primary = QGuiApplication::primaryScreen()) {
            const double dpi = primary->physicalDotsPerInch();
            if (dpi > 0)
                setup.unitsPerMm = dpi / 25.4;
        }
    }
    for (const MonitorInfo &m : ScreenSource::monitors())
        setup.desktop = setup.desktop.united(m.geometry);
    return setup;
}

QString uinputAccessMessage(const QString &uinputPath)
{
    return QStringLiteral("Touch input is off: the driver cannot open %1. Install the udev rule "
                          "60-tesselink-uinput.rules (it gives the logged-in user access to uinput), "
                          "then log out and in again.")
        .arg(uinputPath);
}

InjectionChoice createInjectionBackend(const InjectionSetup &setup)
{
    InjectionChoice choice;
    QString touchError;
    TouchDeviceGeometry geometry{setup.desktop, setup.unitsPerMm};
    if (auto touch = UinputTouchBackend::create(setup.uinputPath, geometry, &touchError)) {
        choice.backend = std::move(touch);
        choice.logLine = QStringLiteral("InjectionBackend::create(): uinput multi-touch device over %1,%2 %3x%4")
                             .arg(setup.desktop.left())
                             .arg(setup.desktop.top())
                             .arg(setup.desktop.width())
                             .arg(setup.desktop.height());
        qDebug().noquote() << choice.logLine;
        return choice;
    }
    QString mouseError;
    if (auto mouse = UinputMouseBackend::create(setup.uinputPath, &mouseError)) {
        choice.backend = std::move(mouse);
        choice.logLine = QStringLiteral("InjectionBackend::create(): no touch device (%1), uinput pointer").arg(touchError);
        qDebug().noquote() << choice.logLine;
        return choice;
    }
    if (setup.session == InjectionSetup::Session::X11) {
        QString xError;
        if (auto xtest = XTestMouseBackend::create(&xError)) {
            choice.backend = std::move(xtest);
            choice.logLine =
                QStringLiteral("InjectionBackend::create(): no uinput (%1), XTest pointer").arg(touchError);
            qDebug().noquote() << choice.logLine;
            return choice;
        }
        touchError += QStringLiteral("; XTest: ") + xError;
    }
    choice.backend = std::make_unique<NullInjectionBackend>();
    choice.logLine = QStringLiteral("InjectionBackend::create(): no input injection: %1%2")
                         .arg(touchError,
                              setup.session == InjectionSetup::Session::Wayland
                                  ? QStringLiteral(" (Wayland session: only uinput can inject)")
                                  : QString());
    choice.userMessage = uinputAccessMessage(setup.uinputPath);
    qDebug().noquote() << choice.logLine;
    return choice;
}

} // namespace tl
