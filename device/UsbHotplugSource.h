#pragma once

#include "platform/SystemEvents.h"

#include <QString>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

struct libusb_context;
struct libusb_device;

namespace tl {

class LibusbAccess;

// Device arrival and removal of camera modules from libusb hotplug, raised as
// the interface names the main window tests ("VID_16D0", "PID_0F8C", "MI_02" or
// "MI_03"): one signal per module interface, like the interface broadcasts of
// other systems. Only the device-interface signals of SystemEventSource are
// raised here; power, display and session events come from the platform source.
//
// libusb hotplug callbacks run on this object's event thread; the signals are
// queued to receivers in other threads. Without hotplug support (or without a
// working libusb) the source stays silent and says so once in the log.
class UsbHotplugSource : public SystemEventSource
{
    Q_OBJECT
public:
    explicit UsbHotplugSource(LibusbAccess *usb, QObject *parent = nullptr);
    ~UsbHotplugSource() override;

    bool active() const { return m_registered; }

    // The name of one interface of a module, e.g.
    // "USB\VID_16D0&PID_0F8C&MI_02\3-1.4".
    static QString interfaceName(uint16_t vendorId, uint16_t productId, int iface, const QString &location);

    // Called by the hotplug callback (and by tests): a device with these IDs at
    // `location` came (arrived = true) or went. Repeats are dropped: libusb
    // reports an already present device again when enumeration and a real
    // arrival overlap.
    void deviceEvent(bool arrived, uint16_t vendorId, uint16_t productId, const QString &location);

    // Called by the hotplug callback during enumeration: a module already present.
    void recordPresent(const QString &location);
    bool enumerating() const { return m_enumerating.load(); }

private:

    libusb_context *m_ctx = nullptr;
    bool m_registered = false;
    int m_handle = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_enumerating{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::set<QString> m_present;
};

} // namespace tl
