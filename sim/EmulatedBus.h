#pragma once

#include "device/UsbAccess.h"
#include "sim/EmulatedModule.h"
#include "sim/ModuleVariant.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tl::sim {

// A device came or went. Listeners are called on whatever thread caused it (a
// test's thread, or a host thread whose transfer ran into an unplug fault), with
// no lock of the bus or the module held; they may call the bus but must not
// destroy it.
struct HotplugEvent
{
    bool arrived = false;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string serial;
    uint64_t deviceId = 0;   // unique per plug-in, like a bus address
};
using HotplugListener = std::function<void(const HotplugEvent &)>;

// The emulated USB bus: tl::UsbAccess over emulated modules, for tests and the
// demo. Devices are listed in plug order; a module plugged in again comes back
// as a new device (handles to its old instance stay dead) with its EEPROM and
// mask kept and everything else reset.
//
// Transfers: `timeoutMs` is driver time, waited as tl::Clock::wallMs(timeoutMs);
// 0 waits without limit (as libusb); a negative time-out on interruptRead polls
// (UsbError::Timeout at once when nothing is due), for callers such as an
// ioctl handler that must not block. Return codes are libusb's.
class EmulatedBus : public UsbAccess
{
public:
    EmulatedBus();
    ~EmulatedBus() override;
    EmulatedBus(const EmulatedBus &) = delete;
    EmulatedBus &operator=(const EmulatedBus &) = delete;

    // Plugs in a new device of this variant at the end of the list, or before the
    // device at `position`.
    std::shared_ptr<EmulatedModule> plug(const ModuleVariant &variant, int position = -1);
    // Plugs in one device per variant, in order.
    std::vector<std::shared_ptr<EmulatedModule>> plugAll(const std::vector<ModuleVariant> &variants);
    // Plugs a module in again after an unplug. No effect while it is plugged.
    void replug(const std::shared_ptr<EmulatedModule> &module, int position = -1);
    void unplug(const std::shared_ptr<EmulatedModule> &module);

    // Plugged devices in list order (modules and foreign devices alike).
    std::vector<std::shared_ptr<EmulatedModule>> devices() const;
    std::shared_ptr<EmulatedModule> bySerial(const std::string &serial) const;

    int addHotplugListener(HotplugListener listener);
    void removeHotplugListener(int id);

    // false: behave like a machine where the USB library cannot start (no usbfs):
    // ok() is false, the list is empty and nothing opens.
    void setBackendAvailable(bool available);

    // tl::UsbAccess
    bool ok() const override;
    std::vector<DeviceInfo> listDevices() override;
    std::unique_ptr<Handle> open(int busIndex, int *error = nullptr) override;
    const char *errorName(int code) const override;
    const char *errorText(int code) const override;

private:
    struct Entry
    {
        std::shared_ptr<EmulatedModule> module;
        uint64_t deviceId = 0;
    };
    struct Listed
    {
        std::shared_ptr<EmulatedModule> module;
        uint64_t generation = 0;
    };

    // What a module's unplug hook holds on to: the bus, or null once the bus is
    // gone. A hook that fires while the bus is being destroyed finds it null.
    struct Link
    {
        std::recursive_mutex mutex;   // a listener may unplug another module
        EmulatedBus *bus = nullptr;
    };

    void insert(const std::shared_ptr<EmulatedModule> &module, int position);
    void onDetached(EmulatedModule *module);
    void notify(const HotplugEvent &event);

    std::shared_ptr<Link> m_link;
    mutable std::mutex m_mutex;
    bool m_available = true;
    std::vector<Entry> m_entries;
    std::vector<Listed> m_lastList;
    uint64_t m_nextDeviceId = 1;
    std::map<int, HotplugListener> m_listeners;
    int m_nextListenerId = 1;
};

} // namespace tl::sim
