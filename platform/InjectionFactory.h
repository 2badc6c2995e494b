#pragma once

#include "platform/InjectionBackend.h"
#include "platform/Screens.h"
#include "platform/linux/TouchMapping.h"

#include <QList>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>

namespace tl {

// What the choice of an injection backend depends on.
struct InjectionSetup
{
    enum class Session { X11, Wayland, Other };

    QString uinputPath = QStringLiteral("/dev/uinput");
    Session session = Session::Other;
    // Bounding box of all monitors (desktop pixels) and pixels per millimetre,
    // for the touch device's axes when the board's monitors are not known.
    QRect desktop;
    double unitsPerMm = 96.0 / 25.4;

    // The monitors and the board's display rectangles (Qt desktop
    // coordinates). Without monitors the touch device spans `desktop`.
    QList<MonitorInfo> monitors;
    QList<QRect> board;
    // Who maps touch devices to monitors. `Unmanaged` (no compositor: offscreen
    // and test platforms) keeps one device over the whole desktop.
    bool managed = false;
    DesktopKind desktopKind = DesktopKind::X11;
    // Makes the pinner for the desktop; tests give fakes.
    std::function<std::unique_ptr<OutputPinner>(DesktopKind)> pinnerFactory = createPinner;
};

struct InjectionChoice
{
    std::unique_ptr<InjectionBackend> backend;  // never null (a null backend at worst)
    // Keeps touch devices pinned while they live (X11 re-sets the matrix on
    // device changes); null where nothing was pinned.
    std::unique_ptr<OutputPinner> pinner;
    QString logLine;      // what was chosen and why, already written to the log
    QString userMessage;  // non-empty when the user should be told how to enable injection
    InjectionNotice notice = InjectionNotice::None;
    QString noticeDetail; // the uinput path, or the desktop that refused the mapping
    // Window-system rectangles of the touch devices, and the monitors each went to.
    QList<QRect> touchAreas;
    QStringList mappedTo;
};

// The session, desktop and resolution of the running system.
InjectionSetup defaultInjectionSetup();
// Tests: a function that adjusts every setup defaultInjectionSetup() returns
// (a desktop kind, fake pinners); an empty function removes it.
void setInjectionSetupHook(std::function<void(InjectionSetup &)> hook);

// The one place that chooses the backend: touch devices when they can be
// created and mapped to the board's monitors (the touch path); else a uinput
// pointer, else XTest under X11 (the mouse path); else none.
InjectionChoice createInjectionBackend(const InjectionSetup &setup);

// The English text for the log when no injection is possible.
QString uinputAccessMessage(const QString &uinputPath);

} // namespace tl
