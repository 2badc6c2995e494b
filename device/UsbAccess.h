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

// libusb's error codes and their names and texts, for the backends that are not
// libusb (the emulated bus), so that traces read the same on both. A test holds
// them to libusb's own.
struct UsbError
{
    static constexpr int Success = 0;
    static constexpr int Io = -1;
    static constexpr int InvalidParam = -2;
    static constexpr int Access = -3;
    static constexpr int NoDevice = -4;
    static constexpr int NotFound = -5;
    static constexpr int Busy = -6;
    static constexpr int Timeout = -7;
    static constexpr int Overflow = -8;
    static constexpr int Pipe = -9;
    static constexpr int Interrupted = -10;
    static constexpr int NoMem = -11;
    static constexpr int NotSupported = -12;
    static constexpr int Other = -99;

    static const char *name(int code)
    {
        switch (code) {
        case Success: return "LIBUSB_SUCCESS / LIBUSB_TRANSFER_COMPLETED";
        case Io: return "LIBUSB_ERROR_IO";
        case InvalidParam: return "LIBUSB_ERROR_INVALID_PARAM";
        case Access: return "LIBUSB_ERROR_ACCESS";
        case NoDevice: return "LIBUSB_ERROR_NO_DEVICE";
        case NotFound: return "LIBUSB_ERROR_NOT_FOUND";
        case Busy: return "LIBUSB_ERROR_BUSY";
        case Timeout: return "LIBUSB_ERROR_TIMEOUT";
        case Overflow: return "LIBUSB_ERROR_OVERFLOW";
        case Pipe: return "LIBUSB_ERROR_PIPE";
        case Interrupted: return "LIBUSB_ERROR_INTERRUPTED";
        case NoMem: return "LIBUSB_ERROR_NO_MEM";
        case NotSupported: return "LIBUSB_ERROR_NOT_SUPPORTED";
        case Other: return "LIBUSB_ERROR_OTHER";
        // Positive codes are transfer states.
        case 1: return "LIBUSB_TRANSFER_ERROR";
        case 2: return "LIBUSB_TRANSFER_TIMED_OUT";
        case 3: return "LIBUSB_TRANSFER_CANCELLED";
        case 4: return "LIBUSB_TRANSFER_STALL";
        case 5: return "LIBUSB_TRANSFER_NO_DEVICE";
        case 6: return "LIBUSB_TRANSFER_OVERFLOW";
        default: return "**UNKNOWN**";
        }
    }

    static const char *text(int code)
    {
        switch (code) {
        case Success: return "Success";
        case Io: return "Input/Output Error";
        case InvalidParam: return "Invalid parameter";
        case Access: return "Access denied (insufficient permissions)";
        case NoDevice: return "No such device (it may have been disconnected)";
        case NotFound: return "Entity not found";
        case Busy: return "Resource busy";
        case Timeout: return "Operation timed out";
        case Overflow: return "Overflow";
        case Pipe: return "Pipe error";
        case Interrupted: return "System call interrupted (perhaps due to signal)";
        case NoMem: return "Insufficient memory";
        case NotSupported: return "Operation not supported or unimplemented on this platform";
        default: return "Other error";
        }
    }
};


// The narrow USB surface the protocol code needs. Two implementations: the libusb
// backend of the driver and the emulated bus of the module emulator. Return codes
// follow libusb's conventions (0 success, negative UsbError values) so that
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
        // Clears the halt of an endpoint that answered a transfer with a stall
        // (UsbError::Pipe): a halted endpoint fails every transfer until the host
        // clears it. 0 on success.
        virtual int clearHalt(uint8_t endpoint) = 0;
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
