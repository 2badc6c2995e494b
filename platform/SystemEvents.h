#pragma once

#include <QObject>
#include <QString>

namespace tl {

// Turns the operating system into the main window's events. The Linux source
// listens to logind, QScreen, signals and the session manager; device interfaces
// come from the USB hotplug source. Tests use the fake source and raise each event.
class SystemEventSource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~SystemEventSource() override = default;

signals:
    // An interface of a USB device appeared or went away. The name carries the
    // vendor, product and interface parts, e.g. "USB\\VID_16D0&PID_0F8C&MI_02\\...".
    void deviceInterfaceArrived(const QString &interfaceName);
    void deviceInterfaceRemoved(const QString &interfaceName);
    void suspending();
    void resumed();
    void displayChanged();
    void sessionEnding();
};

} // namespace tl
