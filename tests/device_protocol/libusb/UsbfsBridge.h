#pragma once

#include "device/UsbAccess.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace tl::test {

// One USB device of a umockdev testbed whose usbfs ioctls are answered from a
// device of another UsbAccess (the emulated bus): interface claims go to its
// handle, bulk OUT URBs become its writes, interrupt IN URBs are filled from its
// reads when libusb reaps them (a stall as the kernel reports it, -EPIPE),
// CLEAR_HALT reaches its handle, control URBs answer the string descriptors.
//
// The device is what the real module is to Linux: interfaces 2 and 3 are
// HID-class, and the kernel's HID driver ("usbhid") holds them from plug-in.
// The bridge answers the usbfs driver ioctls as the kernel does: GETDRIVER
// names the driver (ENODATA when none), IOCTL(DISCONNECT) unbinds it (ENODATA
// when none), IOCTL(CONNECT) binds it again (returns 1; EBUSY when the
// interface is held, 0 when no driver takes it), and a claim of a held
// interface fails with EBUSY.
struct UsbfsKernel
{
    bool driverBound = true;     // usbhid holds interfaces 2 and 3 at plug-in
    bool refuseDetach = false;   // DISCONNECT fails (EACCES), the driver stays
    int refusingInterface = -1;  // with refuseDetach: only this interface refuses (-1: both)
    bool refuseAttach = false;   // CONNECT finds no driver that takes the interface
    bool otherProgram = false;   // another program's usbfs claim holds 2 and 3
};

class UsbfsBridge
{
public:
    // Who holds an interface.
    enum class Holder { None, KernelDriver, Client, OtherProgram };
    using Kernel = UsbfsKernel;

    // Adds the device (bus 1, address `address`) with the module's descriptors to
    // the testbed and attaches the ioctl handler to its node.
    UsbfsBridge(UMockdevTestbed *testbed, int address, std::unique_ptr<UsbAccess::Handle> device,
                uint8_t serialIndex, UsbfsKernel kernel = UsbfsKernel());
    ~UsbfsBridge();
    UsbfsBridge(const UsbfsBridge &) = delete;
    UsbfsBridge &operator=(const UsbfsBridge &) = delete;

    // The testbed (umockdev's headers do not mix with Qt's keywords, so tests
    // reach it through here).
    static UMockdevTestbed *newTestbed();
    static void freeTestbed(UMockdevTestbed *testbed);

    // Sends a uevent ("add", "remove") for the device, as the kernel would.
    void uevent(const char *action);

    bool attached() const { return m_attached; }
    std::string devnode() const { return m_devnode; }
    int urbsSubmitted() const;
    Holder holder(int iface) const;
    int disconnects() const;   // kernel driver unbound through usbfs
    int connects() const;      // kernel driver bound again through usbfs
    int haltsCleared() const;  // USBDEVFS_CLEAR_HALT requests

    // The ioctl handler (called on umockdev's handler thread).
    bool handle(UMockdevIoctlClient *client);

private:
    struct Urb
    {
        UMockdevIoctlData *urb = nullptr;     // the client's struct usbdevfs_urb
        UMockdevIoctlData *buffer = nullptr;  // its data buffer
        uint8_t type = 0;
        uint8_t endpoint = 0;
        int length = 0;
        bool done = false;
        int status = 0;
        int actual = 0;
    };

    void submit(UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    void reap(UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    void discard(UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    void clearHalt(UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    void control(Urb &u);
    void poll(Urb &u);
    void claimOrRelease(UMockdevIoctlClient *client, UMockdevIoctlData *arg, bool claim);
    void getDriver(UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    void driverIoctl(UMockdevIoctlClient *client, UMockdevIoctlData *arg);

    UMockdevTestbed *m_testbed;
    UMockdevIoctlBase *m_handler = nullptr;
    std::unique_ptr<UsbAccess::Handle> m_device;
    uint8_t m_serialIndex;
    std::string m_devnode;
    std::string m_sysPath;
    bool m_attached = false;
    mutable std::mutex m_mutex;
    std::deque<Urb> m_urbs;   // submitted, in order; reaped when done
    int m_submitted = 0;
    Kernel m_kernel;
    Holder m_holder[2] = {Holder::None, Holder::None};   // interfaces 2 and 3
    int m_disconnects = 0;
    int m_connects = 0;
    int m_haltsCleared = 0;
};

} // namespace tl::test
