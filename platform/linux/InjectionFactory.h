#pragma once

#include "platform/InjectionChooser.h"
#include "platform/linux/TouchMapping.h"

#include <QString>

namespace tl {

// The session, desktop and resolution of the running system.
InjectionSetup defaultInjectionSetup();

// The one place that chooses the backend: touch devices when they can be
// created and mapped to the board's monitors (the touch path); else a uinput
// pointer, else XTest under X11 (the mouse path); else none.
InjectionChoice createInjectionBackend(const InjectionSetup &setup);

// The English text for the log when no injection is possible.
QString uinputAccessMessage(const QString &uinputPath);

// The injection of a Linux desktop: the two functions above.
class LinuxInjectionChooser : public InjectionChooser
{
public:
    InjectionSetup currentSetup() const override { return defaultInjectionSetup(); }
    InjectionChoice choose(const InjectionSetup &setup) const override { return createInjectionBackend(setup); }
};

} // namespace tl
