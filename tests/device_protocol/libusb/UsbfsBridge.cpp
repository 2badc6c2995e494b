#include "UsbfsBridge.h"

#include <umockdev.h>

#include <libusb.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstddef>
#include <algorithm>
#include <cstring>
#include <vector>

namespace tl::test {

namespace {

// Device descriptor and configuration 1: HID-class interface 2 with bulk OUT
// 0x03 and interrupt IN 0x83, HID-class interface 3 with interrupt IN 0x84, each
// with its HID descriptor (one report descriptor).
const uint8_t kDescriptors[] = {
    0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, 0xD0, 0x16, 0x8C, 0x0F, 0x00, 0x01, 0x01, 0x02, 0x03, 0x01,
    0x09, 0x02, 0x42, 0x00, 0x02, 0x01, 0x00, 0x80, 0x32,
    0x09, 0x04, 0x02, 0x00, 0x02, 0x03, 0x00, 0x00, 0x00,
    0x09, 0x21, 0x11, 0x01, 0x00, 0x01, 0x22, 0x22, 0x00,
    0x07, 0x05, 0x03, 0x02, 0x00, 0x02, 0x00,
    0x07, 0x05, 0x83, 0x03, 0x00, 0x02, 0x01,
    0x09, 0x04, 0x03, 0x00, 0x01, 0x03, 0x00, 0x00, 0x00,
    0x09, 0x21, 0x11, 0x01, 0x00, 0x01, 0x22, 0x22, 0x00,
    0x07, 0x05, 0x84, 0x03, 0x00, 0x02, 0x01,
};
static_assert(sizeof(kDescriptors) == 18 + 0x42, "wTotalLength must match the configuration");

constexpr char kKernelDriver[] = "usbhid";

gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self)
{
    return static_cast<UsbfsBridge *>(self)->handle(client) ? TRUE : FALSE;
}

int errnoOf(int libusbError)
{
    switch (libusbError) {
    case LIBUSB_ERROR_NO_DEVICE:
        return ENODEV;
    case LIBUSB_ERROR_BUSY:
        return EBUSY;
    case LIBUSB_ERROR_NOT_FOUND:
        return ENOENT;
    case LIBUSB_ERROR_ACCESS:
        return EACCES;
    default:
        return EIO;
    }
}

std::string hex(const uint8_t *data, size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    return s;
}

} // namespace

UsbfsBridge::UsbfsBridge(UMockdevTestbed *testbed, int address, std::unique_ptr<UsbAccess::Handle> device,
                         uint8_t serialIndex, Kernel kernel)
    : m_testbed(testbed), m_device(std::move(device)), m_serialIndex(serialIndex), m_kernel(kernel)
{
    for (Holder &h : m_holder)
        h = kernel.otherProgram ? Holder::OtherProgram : kernel.driverBound ? Holder::KernelDriver : Holder::None;
    char num[8];
    std::snprintf(num, sizeof num, "%03d", address);
    m_devnode = std::string("/dev/bus/usb/001/") + num;
    m_sysPath = "/sys/devices/usb1/1-" + std::to_string(address);
    const std::string d = hex(kDescriptors, sizeof kDescriptors);
    const std::string record = "P: /devices/usb1/1-" + std::to_string(address) + "\n" +
                               "N: bus/usb/001/" + num + "=" + d + "\n" +
                               "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=" + m_devnode + "\n" +
                               "E: BUSNUM=001\nE: DEVNUM=" + num + "\n" +
                               "A: busnum=1\\n\nA: devnum=" + std::to_string(address) + "\\n\n" +
                               "A: speed=480\\n\nA: bConfigurationValue=1\\n\n" +
                               "A: dev=189:" + std::to_string(address) + "\\n\n" +
                               "H: descriptors=" + d + "\n";
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed, record.c_str(), &error)) {
        std::fprintf(stderr, "UsbfsBridge: %s\n", error ? error->message : "add failed");
        g_clear_error(&error);
        return;
    }
    m_handler = umockdev_ioctl_base_new();
    g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(onIoctl), this);
    m_attached = umockdev_testbed_attach_ioctl(testbed, m_devnode.c_str(), m_handler, &error);
    if (!m_attached) {
        std::fprintf(stderr, "UsbfsBridge: %s\n", error ? error->message : "attach failed");
        g_clear_error(&error);
    }
}

UsbfsBridge::~UsbfsBridge()
{
    if (m_attached)
        umockdev_testbed_detach_ioctl(m_testbed, m_devnode.c_str(), nullptr);
    umockdev_testbed_remove_device(m_testbed, m_sysPath.c_str());
    if (m_handler)
        g_object_unref(m_handler);
}

UMockdevTestbed *UsbfsBridge::newTestbed()
{
    return umockdev_testbed_new();
}

void UsbfsBridge::freeTestbed(UMockdevTestbed *testbed)
{
    if (testbed)
        g_object_unref(testbed);
}

void UsbfsBridge::uevent(const char *action)
{
    umockdev_testbed_uevent(m_testbed, m_sysPath.c_str(), action);
}

int UsbfsBridge::urbsSubmitted() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_submitted;
}

UsbfsBridge::Holder UsbfsBridge::holder(int iface) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return iface == 2 || iface == 3 ? m_holder[iface - 2] : Holder::None;
}

int UsbfsBridge::disconnects() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_disconnects;
}

int UsbfsBridge::connects() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connects;
}

bool UsbfsBridge::handle(UMockdevIoctlClient *client)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    switch (request) {
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
        claimOrRelease(client, arg, request == USBDEVFS_CLAIMINTERFACE);
        return true;
    case USBDEVFS_GETDRIVER:
        getDriver(client, arg);
        return true;
    case USBDEVFS_IOCTL:
        driverIoctl(client, arg);
        return true;
    case USBDEVFS_SUBMITURB:
        submit(client, arg);
        return true;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
        reap(client, arg);
        return true;
    case USBDEVFS_DISCARDURB:
        discard(client, arg);
        return true;
    case USBDEVFS_CLEAR_HALT:
        clearHalt(client, arg);
        return true;
    default:
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return true;
    }
}

void UsbfsBridge::claimOrRelease(UMockdevIoctlClient *client, UMockdevIoctlData *arg, bool claim)
{
    GError *error = nullptr;
    UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), &error);
    if (!d) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    unsigned int iface;
    std::memcpy(&iface, d->data, sizeof iface);
    umockdev_ioctl_data_unref(d);
    if (m_device->gone()) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    if (iface != 2 && iface != 3) {
        umockdev_ioctl_client_complete(client, -1, claim ? ENOENT : EINVAL);
        return;
    }
    Holder &h = m_holder[iface - 2];
    if (claim && h == Holder::Client) {
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    if (claim && h != Holder::None) {
        // usb_driver_claim_interface: the interface has a driver already.
        umockdev_ioctl_client_complete(client, -1, EBUSY);
        return;
    }
    if (!claim && h != Holder::Client) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    const int rc = claim ? m_device->claimInterface(static_cast<int>(iface))
                         : m_device->releaseInterface(static_cast<int>(iface));
    if (rc == 0)
        h = claim ? Holder::Client : Holder::None;
    umockdev_ioctl_client_complete(client, rc == 0 ? 0 : -1, rc == 0 ? 0 : errnoOf(rc));
}

void UsbfsBridge::getDriver(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    GError *error = nullptr;
    UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), &error);
    if (!d) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    usbdevfs_getdriver gd;
    std::memcpy(&gd, d->data, sizeof gd);
    if (m_device->gone()) {
        umockdev_ioctl_data_unref(d);
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    const Holder h = gd.interface == 2 || gd.interface == 3 ? m_holder[gd.interface - 2] : Holder::None;
    if (h == Holder::None) {
        umockdev_ioctl_data_unref(d);
        umockdev_ioctl_client_complete(client, -1, ENODATA);
        return;
    }
    std::memset(gd.driver, 0, sizeof gd.driver);
    std::strncpy(gd.driver, h == Holder::KernelDriver ? kKernelDriver : "usbfs", sizeof gd.driver - 1);
    umockdev_ioctl_data_update(d, 0, reinterpret_cast<guint8 *>(&gd), static_cast<gint>(sizeof gd));
    umockdev_ioctl_data_unref(d);
    umockdev_ioctl_client_complete(client, 0, 0);
}

void UsbfsBridge::driverIoctl(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    GError *error = nullptr;
    UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), &error);
    if (!d) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    usbdevfs_ioctl cmd;
    std::memcpy(&cmd, d->data, sizeof cmd);
    umockdev_ioctl_data_unref(d);
    if (m_device->gone()) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    if (cmd.ifno != 2 && cmd.ifno != 3) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    Holder &h = m_holder[cmd.ifno - 2];
    switch (static_cast<unsigned long>(cmd.ioctl_code)) {
    case USBDEVFS_DISCONNECT:
        if (h == Holder::None) {
            umockdev_ioctl_client_complete(client, -1, ENODATA);
        } else if (h == Holder::KernelDriver && m_kernel.refuseDetach
                   && (m_kernel.refusingInterface < 0 || m_kernel.refusingInterface == static_cast<int>(cmd.ifno))) {
            umockdev_ioctl_client_complete(client, -1, EACCES);
        } else {
            // The kernel unbinds whatever holds it, a usbfs claim included.
            if (h == Holder::Client)
                m_device->releaseInterface(cmd.ifno);
            h = Holder::None;
            ++m_disconnects;
            umockdev_ioctl_client_complete(client, 0, 0);
        }
        return;
    case USBDEVFS_CONNECT:
        if (h != Holder::None) {
            umockdev_ioctl_client_complete(client, -1, EBUSY);
        } else if (m_kernel.refuseAttach) {
            umockdev_ioctl_client_complete(client, 0, 0);   // no driver took it
        } else {
            h = Holder::KernelDriver;
            ++m_connects;
            umockdev_ioctl_client_complete(client, 1, 0);
        }
        return;
    default:
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return;
    }
}

void UsbfsBridge::submit(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    if (m_device->gone()) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    GError *error = nullptr;
    Urb u;
    u.urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &error);
    if (!u.urb) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    const auto *urb = reinterpret_cast<const usbdevfs_urb *>(u.urb->data);
    u.type = urb->type;
    u.endpoint = urb->endpoint;
    u.length = urb->buffer_length;
    if (u.length > 0) {
        u.buffer = umockdev_ioctl_data_resolve(u.urb, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(u.length),
                                               &error);
        if (!u.buffer) {
            g_clear_error(&error);
            umockdev_ioctl_data_unref(u.urb);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
    }
    if (u.type == USBDEVFS_URB_TYPE_CONTROL) {
        control(u);
    } else if (!(u.endpoint & 0x80)) {
        int transferred = 0;
        const int rc = m_device->bulkWrite(u.endpoint, u.buffer ? u.buffer->data : nullptr, u.length, &transferred,
                                           1000);
        if (rc == LIBUSB_ERROR_NO_DEVICE) {
            if (u.buffer)
                umockdev_ioctl_data_unref(u.buffer);
            umockdev_ioctl_data_unref(u.urb);
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return;
        }
        u.done = true;
        u.status = rc == 0 ? 0 : -EPIPE;
        u.actual = transferred;
    } else {
        poll(u);
    }
    m_urbs.push_back(u);
    ++m_submitted;
    umockdev_ioctl_client_complete(client, 0, 0);
}

void UsbfsBridge::poll(Urb &u)
{
    if (u.done)
        return;
    std::vector<uint8_t> tmp(static_cast<size_t>(u.length));
    int transferred = 0;
    // A short look: libusb asks again at its next reap, and cancels the URB
    // itself when its own time-out runs out.
    const int rc = m_device->interruptRead(u.endpoint, tmp.data(), u.length, &transferred, 2);
    if (rc == 0 || rc == LIBUSB_ERROR_OVERFLOW) {
        if (transferred > 0)
            umockdev_ioctl_data_update(u.buffer, 0, tmp.data(), transferred);
        u.actual = transferred;
        u.status = rc == 0 ? 0 : -EOVERFLOW;
        u.done = true;
    } else if (rc == LIBUSB_ERROR_NO_DEVICE) {
        u.status = -ENODEV;
        u.done = true;
    } else if (rc == LIBUSB_ERROR_PIPE) {
        u.status = -EPIPE;   // the endpoint answered with a stall
        u.done = true;
    }
}

void UsbfsBridge::clearHalt(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    GError *error = nullptr;
    UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), &error);
    if (!d) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    unsigned int endpoint = 0;
    std::memcpy(&endpoint, d->data, sizeof endpoint);
    umockdev_ioctl_data_unref(d);
    const int rc = m_device->clearHalt(static_cast<uint8_t>(endpoint));
    ++m_haltsCleared;
    umockdev_ioctl_client_complete(client, rc == 0 ? 0 : -1, rc == 0 ? 0 : errnoOf(rc));
}

int UsbfsBridge::haltsCleared() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_haltsCleared;
}

void UsbfsBridge::control(Urb &u)
{
    u.done = true;
    u.status = -EPIPE;   // a request the module does not know is stalled
    if (!u.buffer || u.length < 8)
        return;
    const uint8_t *setup = u.buffer->data;
    const uint8_t bRequest = setup[1];
    const uint16_t wValue = static_cast<uint16_t>(setup[2] | (setup[3] << 8));
    const uint16_t wLength = static_cast<uint16_t>(setup[6] | (setup[7] << 8));
    if (bRequest != 0x06 || (wValue >> 8) != 0x03)
        return;
    std::vector<uint8_t> answer;
    const uint8_t index = static_cast<uint8_t>(wValue & 0xFF);
    if (index == 0) {
        answer = {4, 3, 0x09, 0x04};   // US English only
    } else {
        std::string s;
        if (m_device->stringDescriptorAscii(index, s, 126) < 0)
            return;
        answer.push_back(static_cast<uint8_t>(2 + 2 * s.size()));
        answer.push_back(3);
        for (char c : s) {
            answer.push_back(static_cast<uint8_t>(c));
            answer.push_back(0);
        }
    }
    const int n = std::min<int>({static_cast<int>(answer.size()), wLength, u.length - 8});
    umockdev_ioctl_data_update(u.buffer, 8, answer.data(), n);
    u.actual = n;
    u.status = 0;
}

void UsbfsBridge::reap(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    auto it = m_urbs.begin();
    for (; it != m_urbs.end(); ++it) {
        poll(*it);
        if (it->done)
            break;
    }
    if (it == m_urbs.end()) {
        umockdev_ioctl_client_complete(client, -1, m_device->gone() ? ENODEV : EAGAIN);
        return;
    }
    GError *error = nullptr;
    UMockdevIoctlData *slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void *), &error);
    if (!slot) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    auto *urb = reinterpret_cast<usbdevfs_urb *>(it->urb->data);
    urb->status = it->status;
    urb->actual_length = it->actual;
    umockdev_ioctl_data_set_ptr(slot, 0, it->urb);
    umockdev_ioctl_client_complete(client, 0, 0);
    umockdev_ioctl_data_unref(slot);
    m_urbs.erase(it);
}

void UsbfsBridge::discard(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    uint64_t address = 0;
    std::memcpy(&address, arg->data, std::min<size_t>(sizeof address, static_cast<size_t>(arg->data_len)));
    for (Urb &u : m_urbs) {
        if (u.urb->client_addr == address && !u.done) {
            u.done = true;
            u.status = -ENOENT;
            u.actual = 0;
            umockdev_ioctl_client_complete(client, 0, 0);
            return;
        }
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
}

} // namespace tl::test
