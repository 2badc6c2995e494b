#pragma once

#include "device/UsbAccess.h"

#include <mutex>
#include <vector>

struct libusb_context;
struct libusb_device;

namespace tl {

// The driver's USB access: libusb-1.0 on its own context. When libusb cannot
// start (a machine without usbfs), ok() is false and the bus simply has no
// devices; one line says so in the log.
class LibusbAccess : public UsbAccess
{
public:
    LibusbAccess();
    ~LibusbAccess() override;
    LibusbAccess(const LibusbAccess &) = delete;
    LibusbAccess &operator=(const LibusbAccess &) = delete;

    bool ok() const override { return m_ctx != nullptr; }
    std::vector<DeviceInfo> listDevices() override;
    std::unique_ptr<Handle> open(int busIndex, int *error = nullptr) override;
    const char *errorName(int code) const override;
    const char *errorText(int code) const override;

    // For the hotplug source, which shares the context.
    libusb_context *context() const { return m_ctx; }

private:
    void releaseList();

    libusb_context *m_ctx = nullptr;
    std::mutex m_mutex;
    std::vector<libusb_device *> m_lastList;   // referenced until the next list
};

} // namespace tl
