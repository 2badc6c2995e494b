#pragma once

#include "platform/SystemEvents.h"

namespace tl {

// A system event source whose events a test raises by hand.
class FakeSystemEvents : public SystemEventSource
{
    Q_OBJECT
public:
    using SystemEventSource::SystemEventSource;

    void raiseDeviceArrival(const QString &name) { emit deviceInterfaceArrived(name); }
    void raiseDeviceRemoval(const QString &name) { emit deviceInterfaceRemoved(name); }
    void raiseSuspend() { emit suspending(); }
    void raiseResume() { emit resumed(); }
    void raiseDisplayChange() { emit displayChanged(); }
    void raiseSessionEnd() { emit sessionEnding(); }
};

} // namespace tl
