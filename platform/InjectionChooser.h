#pragma once

#include "platform/InjectionBackend.h"
#include "platform/OutputPinner.h"
#include "platform/Screens.h"

#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>
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
    // Makes the pinner for the desktop; empty: the desktop's own.
    std::function<std::unique_ptr<OutputPinner>(DesktopKind)> pinnerFactory;
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

// Where the input injection object gets its backend from when the system's
// injection is wanted: the entry point hands in the one of the platform it
// runs on. The injection object asks again after every display change.
class InjectionChooser
{
public:
    virtual ~InjectionChooser() = default;

    // The session, desktop and resolution of the running system.
    virtual InjectionSetup currentSetup() const = 0;
    // The backend for `setup` (the board's rectangles filled in by the caller).
    virtual InjectionChoice choose(const InjectionSetup &setup) const = 0;
};

} // namespace tl
