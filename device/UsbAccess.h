#pragma once

// NOTE (device helper): every `timeoutMs` below is DRIVER time, the protocol's own
// value (1000, 500). The backend converts it with tl::Clock::wallMs() at the
// blocking call itself (libusb, a condition wait); callers never convert, so
// compressed time shortens a time-out exactly once.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tl {

// The narrow USB surface the protocol code needs. Two implementations: the libusb
// backend of the driver and the emulated bus of the module emulator. Return codes
// follow libusb's conventions (0 success, negative LIBUSB_ERROR_* values) so that
// traces read the same on both.
class UsbAccess
{
public:
    struct DeviceInfo
    {
        int busIndex = 0;          // position in the bus's device list
        bool descriptorOk = true;  // false: the device descriptor could not be read
        uint16_t vendorId = 0;
        uint16_t productId = 0;
        uint8_t serialIndex = 0;   // iSerialNumber of the device descriptor
    };

    // An opened device. Destroying it closes it (claimed interfaces are released first).
    class Handle
    {
    public:
        virtual ~Handle() = default;
        // Reads the ASCII string descriptor `index` into `out` (at most maxLen - 1 bytes
        // plus terminator in the caller's buffer). Returns the length or a negative error.
        virtual int stringDescriptorAscii(uint8_t index, std::string &out, int maxLen) = 0;
        virtual int claimInterface(int iface) = 0;
        virtual int releaseInterface(int iface) = 0;
        // Fetches and frees configuration descriptor 0; 0 on success.
        virtual int touchConfigDescriptor() = 0;
        // Bulk OUT transfer. `transferred` receives the bytes written. `timeoutMs`
        // is driver time (the backend converts it).
        virtual int bulkWrite(uint8_t endpoint, const uint8_t *data, int len, int *transferred, int timeoutMs) = 0;
        // Interrupt IN transfer. `transferred` receives the bytes read. `timeoutMs`
        // is driver time (the backend converts it).
        virtual int interruptRead(uint8_t endpoint, uint8_t *data, int len, int *transferred, int timeoutMs) = 0;
        // True once the device behind the handle has gone (unplugged).
        virtual bool gone() const = 0;
    };

    virtual ~UsbAccess() = default;
    // False when the backend could not start (no usbfs): the bus then has no devices.
    virtual bool ok() const = 0;
    virtual std::vector<DeviceInfo> listDevices() = 0;
    // Opens the device at `busIndex` of the last list. Null on failure, with the
    // error code in *error when given.
    virtual std::unique_ptr<Handle> open(int busIndex, int *error = nullptr) = 0;
    virtual const char *errorName(int code) const = 0;
    virtual const char *errorText(int code) const = 0;
};

} // namespace tl
