#include "device/LibusbAccess.h"

#include "platform/Clock.h"

#include <QDebug>

#include <libusb.h>

#include <atomic>
#include <map>
#include <set>

namespace tl {

namespace {

// Transfer time-outs arrive in driver time; libusb waits in wall time.
unsigned wallTimeout(int driverMs)
{
    return static_cast<unsigned>(Clock::wallMs(driverMs));
}

class LibusbHandle : public UsbAccess::Handle
{
public:
    explicit LibusbHandle(libusb_device_handle *h) : m_h(h) { readEndpointTypes(); }

    ~LibusbHandle() override
    {
        for (int iface : std::set<int>(m_claimed))
            releaseInterface(iface);
        libusb_close(m_h);
    }

    int stringDescriptorAscii(uint8_t index, std::string &out, int maxLen) override
    {
        out.clear();
        if (index == 0 || maxLen <= 1)
            return LIBUSB_ERROR_INVALID_PARAM;
        std::vector<unsigned char> buf(static_cast<size_t>(maxLen), 0);
        const int n = libusb_get_string_descriptor_ascii(m_h, index, buf.data(), maxLen - 1);
        note(n);
        if (n > 0)
            out.assign(reinterpret_cast<const char *>(buf.data()), static_cast<size_t>(std::min(n, maxLen - 1)));
        return n;
    }

    // The module's interfaces are HID-class: the kernel's HID driver binds them
    // at plug-in, and a claim of a bound interface fails with "busy". The driver
    // is detached first and handed the interface back at release, so that the
    // module's own tracking reaches the desktop again once the driver lets go.
    int claimInterface(int iface) override
    {
        if (m_claimed.count(iface))
            return 0;
        const bool refused = !detachKernelDriver(iface);
        const int rc = libusb_claim_interface(m_h, iface);
        note(rc);
        if (rc == 0) {
            m_claimed.insert(iface);
        } else if (rc == LIBUSB_ERROR_BUSY) {
            qDebug().noquote() << QString::asprintf(
                "LibusbAccess: interface %d is held by %s; the module cannot be used until it is free", iface,
                refused ? "its kernel driver" : "another program");
        }
        if (rc != 0)
            reattachKernelDriver(iface);
        return rc;
    }

    int releaseInterface(int iface) override
    {
        if (!m_claimed.count(iface))
            return LIBUSB_ERROR_NOT_FOUND;
        const int rc = libusb_release_interface(m_h, iface);
        note(rc);
        m_claimed.erase(iface);
        reattachKernelDriver(iface);
        return rc;
    }

    int touchConfigDescriptor() override
    {
        libusb_config_descriptor *cfg = nullptr;
        const int rc = libusb_get_config_descriptor(libusb_get_device(m_h), 0, &cfg);
        if (rc == 0)
            libusb_free_config_descriptor(cfg);
        return rc;
    }

    int bulkWrite(uint8_t endpoint, const uint8_t *data, int len, int *transferred, int timeoutMs) override
    {
        int n = 0;
        const int rc = libusb_bulk_transfer(m_h, endpoint, const_cast<unsigned char *>(data), len, &n,
                                            wallTimeout(timeoutMs));
        note(rc);
        if (transferred)
            *transferred = n;
        return rc;
    }

    int interruptRead(uint8_t endpoint, uint8_t *data, int len, int *transferred, int timeoutMs) override
    {
        int n = 0;
        // Linux usbfs refuses an interrupt URB on a bulk endpoint; the frame
        // endpoint may be either, so the transfer follows the descriptor.
        const auto it = m_types.find(endpoint);
        const bool bulk = it != m_types.end() && it->second == LIBUSB_TRANSFER_TYPE_BULK;
        const unsigned wall = wallTimeout(timeoutMs);
        const int rc = bulk ? libusb_bulk_transfer(m_h, endpoint, data, len, &n, wall)
                            : libusb_interrupt_transfer(m_h, endpoint, data, len, &n, wall);
        note(rc);
        if (transferred)
            *transferred = n;
        return rc;
    }

    int clearHalt(uint8_t endpoint) override
    {
        const int rc = libusb_clear_halt(m_h, endpoint);
        note(rc);
        return rc;
    }

    bool gone() const override { return m_gone.load(); }

private:
    // False when a kernel driver holds the interface and would not let go.
    bool detachKernelDriver(int iface)
    {
        const int active = libusb_kernel_driver_active(m_h, iface);
        note(active);
        if (active == 0 || active == LIBUSB_ERROR_NOT_SUPPORTED)
            return true;
        if (active < 0) {
            qDebug().noquote() << QString::asprintf("LibusbAccess: interface %d: the kernel driver cannot be asked: %d %s",
                                                    iface, active, libusb_error_name(active));
            return true;
        }
        const int rc = libusb_detach_kernel_driver(m_h, iface);
        note(rc);
        if (rc == 0) {
            m_detached.insert(iface);
            qDebug().noquote() << QString::asprintf("LibusbAccess: interface %d: kernel driver detached", iface);
        } else if (rc != LIBUSB_ERROR_NOT_FOUND) {
            qDebug().noquote() << QString::asprintf(
                "LibusbAccess: interface %d: the kernel driver refused to let go of it: %d %s: %s", iface, rc,
                libusb_error_name(rc), libusb_strerror(rc));
            return false;
        }
        return true;
    }

    void reattachKernelDriver(int iface)
    {
        if (!m_detached.erase(iface))
            return;
        const int rc = libusb_attach_kernel_driver(m_h, iface);
        note(rc);
        if (rc == 0)
            qDebug().noquote() << QString::asprintf("LibusbAccess: interface %d: kernel driver attached again", iface);
        else if (rc == LIBUSB_ERROR_NO_DEVICE)
            qDebug().noquote() << QString::asprintf(
                "LibusbAccess: interface %d: the module is gone, no kernel driver to hand it back to", iface);
        else
            qDebug().noquote() << QString::asprintf(
                "LibusbAccess: interface %d: the kernel driver could not take it back: %d %s: %s", iface, rc,
                libusb_error_name(rc), libusb_strerror(rc));
    }

    void note(int rc)
    {
        if (rc == LIBUSB_ERROR_NO_DEVICE)
            m_gone = true;
    }

    void readEndpointTypes()
    {
        libusb_config_descriptor *cfg = nullptr;
        if (libusb_get_active_config_descriptor(libusb_get_device(m_h), &cfg) != 0 || !cfg)
            return;
        for (int i = 0; i < cfg->bNumInterfaces; ++i) {
            const libusb_interface &itf = cfg->interface[i];
            for (int a = 0; a < itf.num_altsetting; ++a) {
                const libusb_interface_descriptor &alt = itf.altsetting[a];
                for (int e = 0; e < alt.bNumEndpoints; ++e)
                    m_types[alt.endpoint[e].bEndpointAddress] = alt.endpoint[e].bmAttributes & 0x03;
            }
        }
        libusb_free_config_descriptor(cfg);
    }

    libusb_device_handle *m_h;
    std::set<int> m_claimed;
    std::set<int> m_detached;   // interfaces whose kernel driver this handle detached
    std::map<uint8_t, int> m_types;
    std::atomic<bool> m_gone{false};
};

} // namespace

LibusbAccess::LibusbAccess()
{
    const int rc = libusb_init(&m_ctx);
    if (rc != 0) {
        m_ctx = nullptr;
        qDebug() << "LibusbAccess: libusb_init failed:" << rc << libusb_error_name(rc)
                 << "- no USB modules can be found";
    }
}

LibusbAccess::~LibusbAccess()
{
    releaseList();
    if (m_ctx)
        libusb_exit(m_ctx);
}

void LibusbAccess::releaseList()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (libusb_device *d : m_lastList)
        libusb_unref_device(d);
    m_lastList.clear();
}

std::vector<UsbAccess::DeviceInfo> LibusbAccess::listDevices()
{
    std::vector<DeviceInfo> out;
    if (!m_ctx)
        return out;
    releaseList();
    libusb_device **list = nullptr;
    const ssize_t n = libusb_get_device_list(m_ctx, &list);
    if (n < 0) {
        qDebug() << "LibusbAccess: libusb_get_device_list failed:" << n << libusb_error_name(static_cast<int>(n));
        return out;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device *dev = list[i];
        DeviceInfo info;
        info.busIndex = static_cast<int>(i);
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(dev, &desc) == 0) {
            info.vendorId = desc.idVendor;
            info.productId = desc.idProduct;
            info.serialIndex = desc.iSerialNumber;
        } else {
            info.descriptorOk = false;
        }
        m_lastList.push_back(libusb_ref_device(dev));
        out.push_back(info);
    }
    libusb_free_device_list(list, 1);
    return out;
}

std::unique_ptr<UsbAccess::Handle> LibusbAccess::open(int busIndex, int *error)
{
    libusb_device *dev = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (busIndex >= 0 && busIndex < static_cast<int>(m_lastList.size()))
            dev = m_lastList[static_cast<size_t>(busIndex)];
    }
    if (!m_ctx || !dev) {
        if (error)
            *error = LIBUSB_ERROR_NO_DEVICE;
        return nullptr;
    }
    libusb_device_handle *h = nullptr;
    const int rc = libusb_open(dev, &h);
    if (error)
        *error = rc;
    if (rc != 0 || !h)
        return nullptr;
    return std::make_unique<LibusbHandle>(h);
}

const char *LibusbAccess::errorName(int code) const
{
    return libusb_error_name(code);
}

const char *LibusbAccess::errorText(int code) const
{
    return libusb_strerror(code);
}

} // namespace tl
