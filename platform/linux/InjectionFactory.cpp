#include "platform/linux/InjectionFactory.h"

#include "platform/DesktopSpace.h"
#include "platform/Screens.h"
#include "platform/linux/BoardTouchBackend.h"
#include "platform/linux/UinputDiagnosis.h"
#include "platform/linux/UinputMouseBackend.h"
#include "platform/linux/UinputTouchBackend.h"
#include "platform/linux/XTestMouseBackend.h"

#include <QDebug>
#include <QGuiApplication>
#include <QProcessEnvironment>
#include <QScreen>

namespace tl {

InjectionSetup defaultInjectionSetup()
{
    InjectionSetup setup;
    QString platform;
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        platform = QGuiApplication::platformName();
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
    setup.monitors = ScreenSource::monitors();
    for (const MonitorInfo &m : setup.monitors)
        setup.desktop = setup.desktop.united(m.nativeGeometry());
    // Offscreen, minimal and other test platforms have no compositor to ask.
    setup.managed = setup.session != InjectionSetup::Session::Other;
    setup.desktopKind = detectDesktop(platform, QProcessEnvironment::systemEnvironment());
    return setup;
}

QString uinputAccessMessage(const QString &uinputPath)
{
    // What this machine lacks: the module, the rule, udev's work or a new login.
    const QString advice = uinputAdvice(uinputPath, gatherUinputFacts(uinputPath));
    if (!advice.isEmpty())
        return advice;
    return QStringLiteral("Touch input is off: the driver cannot open %1 although it may write to it; the "
                          "kernel's uinput does not answer.")
        .arg(uinputPath);
}

namespace {

QString rectText(const QRect &r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.left()).arg(r.top()).arg(r.width()).arg(r.height());
}

QString monitorText(const QList<MonitorInfo> &outputs)
{
    QStringList parts;
    for (const MonitorInfo &m : outputs)
        parts << QStringLiteral("%1 (%2)").arg(m.name.isEmpty() ? QStringLiteral("monitor") : m.name,
                                              rectText(m.nativeGeometry()));
    return parts.join(QStringLiteral(" + "));
}

// The touch devices for the board, pinned where the desktop needs it. Null
// (with the reason) when a device cannot be created; `mappingFailed` when the
// devices exist but could not be pinned.
std::unique_ptr<InjectionBackend> createTouch(const InjectionSetup &setup, InjectionChoice &choice,
                                              QString *error, bool *mappingFailed)
{
    *mappingFailed = false;
    QList<TouchDevicePlan> plans;
    bool pinning = false;
    if (setup.managed && !setup.monitors.isEmpty()) {
        QList<MonitorInfo> board = boardMonitorsOf(setup.board, setup.monitors);
        if (board.isEmpty()) {
            const int p = ScreenSource::primaryIndex(setup.monitors);
            board.append(setup.monitors[p]);
        }
        plans = planTouchDevices(setup.desktopKind, board, setup.unitsPerMm);
        // With one monitor every desktop puts the device on it.
        pinning = setup.monitors.size() > 1;
    } else {
        TouchDevicePlan plan;
        plan.name = "Tesselink Driver touch";
        plan.area = setup.desktop;
        plan.unitsPerMm = setup.unitsPerMm;
        plans.append(plan);
    }

    std::vector<BoardTouchBackend::Device> devices;
    for (const TouchDevicePlan &plan : plans) {
        TouchDeviceGeometry geometry{plan.area, plan.unitsPerMm, plan.name, plan.product};
        auto device = UinputTouchBackend::create(setup.uinputPath, geometry, error);
        if (!device)
            return nullptr;
        devices.push_back({std::move(device), plan.area});
    }

    if (pinning) {
        std::unique_ptr<OutputPinner> pinner =
            setup.pinnerFactory ? setup.pinnerFactory(setup.desktopKind) : createPinner(setup.desktopKind);
        if (!pinner) {
            *error = QStringLiteral("%1 offers no way to map a touch device to a monitor")
                         .arg(desktopName(setup.desktopKind));
            *mappingFailed = true;
            return nullptr;
        }
        for (size_t i = 0; i < devices.size(); ++i) {
            const TouchDevicePlan &plan = plans[int(i)];
            PinRequest request;
            request.devnode = devices[i].backend->devnode();
            request.name = plan.name;
            request.product = plan.product;
            request.area = plan.area;
            request.outputs = plan.outputs;
            const PinResult result = pinner->pin(request);
            if (!result.ok) {
                *error = QStringLiteral("%1 could not map %2 to %3: %4")
                             .arg(pinner->name(), QString::fromUtf8(plan.name), monitorText(plan.outputs),
                                  result.error);
                *mappingFailed = true;
                return nullptr;
            }
            devices[i].transform = result.transform;
            QString where = result.where.isEmpty() ? monitorText(plan.outputs) : result.where;
            if (result.transform != 0)
                where += QStringLiteral(", turned with its output (transform %1)").arg(result.transform);
            const QString line = QStringLiteral("InjectionBackend::create(): %1 (%2) mapped to %3 through %4")
                                     .arg(QString::fromUtf8(plan.name), request.devnode, where, pinner->name());
            qDebug().noquote() << line;
            choice.mappedTo << where;
        }
        choice.pinner = std::move(pinner);
    }
    for (const auto &d : devices)
        choice.touchAreas << d.area;
    const DesktopSpace space = DesktopSpace::fromMonitors(setup.monitors, setup.session == InjectionSetup::Session::X11);
    return std::make_unique<BoardTouchBackend>(std::move(devices), space);
}

} // namespace

InjectionChoice createInjectionBackend(const InjectionSetup &setup)
{
    InjectionChoice choice;
    QString touchError;
    bool mappingFailed = false;
    if (auto touch = createTouch(setup, choice, &touchError, &mappingFailed)) {
        QStringList areas;
        for (const QRect &r : choice.touchAreas)
            areas << rectText(r);
        choice.backend = std::move(touch);
        choice.logLine = QStringLiteral("InjectionBackend::create(): uinput multi-touch device over %1")
                             .arg(areas.join(QStringLiteral(" and ")));
        qDebug().noquote() << choice.logLine;
        return choice;
    }
    if (mappingFailed) {
        // What still lands right everywhere: the absolute pointer spans the
        // whole desktop on every desktop.
        choice.notice = InjectionNotice::MappingFallback;
        choice.noticeDetail = desktopName(setup.desktopKind);
        qDebug().noquote() << "InjectionBackend::create(): touch mapping failed:" << touchError;
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
            qDebug().noquote() << "InjectionBackend::create():" << uinputAccessMessage(setup.uinputPath);
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
    choice.notice = InjectionNotice::NoUinput;
    choice.noticeDetail = setup.uinputPath;
    qDebug().noquote() << choice.logLine;
    return choice;
}

} // namespace tl
