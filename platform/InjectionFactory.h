#pragma once

#include "platform/InjectionBackend.h"

#include <QRect>
#include <QString>
#include <memory>

namespace tl {

// What the choice of an injection backend depends on.
struct InjectionSetup
{
    enum class Session { X11, Wayland, Other };

    QString uinputPath = QStringLiteral("/dev/uinput");
    Session session = Session::Other;
    // Bounding box of all monitors (desktop pixels) and pixels per millimetre,
    // for the touch device's axes.
    QRect desktop;
    double unitsPerMm = 96.0 / 25.4;
};

struct InjectionChoice
{
    std::unique_ptr<InjectionBackend> backend;  // never null (a null backend at worst)
    QString logLine;      // what was chosen and why, already written to the log
    QString userMessage;  // non-empty when the user should be told how to enable injection
};

// The session, desktop and resolution of the running system.
InjectionSetup defaultInjectionSetup();

// The one place that chooses the backend: a uinput touch device when it can be
// created (the touch path), else a uinput pointer, else XTest under X11 (the
// mouse path), else none.
InjectionChoice createInjectionBackend(const InjectionSetup &setup);

// The text for the user when no injection is possible.
QString uinputAccessMessage(const QString &uinputPath);

} // namespace tl
