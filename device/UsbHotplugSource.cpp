#include "device/UsbHotplugSource.h"

#include "device/CamDevCtrl.h"
#include "device/LibusbAccess.h"

#include <QDebug>

#include <libusb.h>

namespace tl {

namespace {
int hotplugCallback(libusb_context *, libusb_device *dev, libusb_hotplug_event event, void *user)
{
    auto *self = static_cast<UsbHotplugSource *>(user);
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(dev, &desc) != 0)
        return 0;
    uint8_t ports[8];
    const int n = libusb_get_port_numbers(dev, ports, sizeof ports);
    QString location = QString::number(libusb_get_bus_number(dev)) + QLatin1Char('-');
    for (int i = 0; i < n; ++i)
        location += (i ? QStringLiteral(".") : QString()) + QString::number(ports[i]);
    if (n <= 0)
        location += QString::number(libusb_get_device_address(dev));
    if (self->enumerating()) {
        self->recordPresent(location);
        return 0;
    }
    self->deviceEvent(event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED, desc.idVendor, desc.idProduct, location);
    return 0;
}
} // namespace

UsbHotplugSource::UsbHotplugSource(LibusbAccess *usb, QObject *parent) : SystemEventSource(parent)
{
    m_ctx = usb ? usb->context() : nullptr;
    if (!m_ctx) {
        qDebug() << "UsbHotplugSource: no USB context, device arrival and removal are not reported";
        return;
    }
    if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        qDebug() << "UsbHotplugSource: libusb has no hotplug support here, device arrival and removal are not reported";
        m_ctx = nullptr;
        return;
    }
    // Enumeration reports the modules already present through the same callback,
    // before the register call returns: they are recorded without a signal, since
    // the start-up connection counts them anyway.
    m_enumerating = true;
    const int rc = libusb_hotplug_register_callback(
        m_ctx,
        static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
        LIBUSB_HOTPLUG_ENUMERATE, CamDevCtrl::kVendorId, CamDevCtrl::kProductId, LIBUSB_HOTPLUG_MATCH_ANY,
        &hotplugCallback, this, &m_handle);
    m_enumerating = false;
    if (rc != LIBUSB_SUCCESS) {
        qDebug() << "UsbHotplugSource: libusb_hotplug_register_callback failed:" << rc << libusb_error_name(rc);
        m_ctx = nullptr;
        return;
    }
    m_registered = true;
    m_thread = std::thread([this] {
        while (!m_stop.load()) {
            timeval tv{0, 250000};
            libusb_handle_events_timeout_completed(m_ctx, &tv, nullptr);
        }
    });
}

UsbHotplugSource::~UsbHotplugSource()
{
    if (m_registered) {
        m_stop = true;
        // Deregistering wakes the event thread up, so it sees the stop flag.
        libusb_hotplug_deregister_callback(m_ctx, m_handle);
        if (m_thread.joinable())
            m_thread.join();
    }
}

QString UsbHotplugSource::interfaceName(uint16_t vendorId, uint16_t productId, int iface, const QString &location)
{
    return QString::asprintf("USB\\VID_%04X&PID_%04X&MI_%02d\\", vendorId, productId, iface) + location;
}

void UsbHotplugSource::recordPresent(const QString &location)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_present.insert(location);
}

void UsbHotplugSource::deviceEvent(bool arrived, uint16_t vendorId, uint16_t productId, const QString &location)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const bool known = m_present.count(location) != 0;
        if (arrived == known)
            return;
        if (arrived)
            m_present.insert(location);
        else
            m_present.erase(location);
    }
    qDebug() << "UsbHotplugSource:" << (arrived ? "arrival" : "removal") << location;
    for (int iface : tl::codec::kModuleInterfaces) {
        const QString name = interfaceName(vendorId, productId, iface, location);
        if (arrived)
            emit deviceInterfaceArrived(name);
        else
            emit deviceInterfaceRemoved(name);
    }
}

} // namespace tl
