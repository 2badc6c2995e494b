#include "sim/EmulatedBus.h"

#include <algorithm>

namespace tl::sim {

// An open device of the emulated bus. It stays bound to the plug-in it was opened
// on: after an unplug every call fails with UsbError::NoDevice, even when the
// same module has been plugged in again.
class EmulatedHandle : public UsbAccess::Handle
{
public:
    EmulatedHandle(std::shared_ptr<EmulatedModule> module, uint64_t generation, uint64_t id)
        : m_module(std::move(module)), m_generation(generation), m_id(id)
    {
    }
    ~EmulatedHandle() override { m_module->closeHandle(m_id); }

    int stringDescriptorAscii(uint8_t index, std::string &out, int maxLen) override
    {
        return m_module->stringDescriptor(m_generation, index, out, maxLen);
    }
    int claimInterface(int iface) override { return m_module->claim(m_generation, m_id, iface); }
    int releaseInterface(int iface) override { return m_module->release(m_generation, m_id, iface); }
    int touchConfigDescriptor() override { return m_module->touchConfig(m_generation); }
    int bulkWrite(uint8_t endpoint, const uint8_t *data, int len, int *transferred, int timeoutMs) override
    {
        return m_module->write(m_generation, endpoint, data, len, transferred, timeoutMs);
    }
    int interruptRead(uint8_t endpoint, uint8_t *data, int len, int *transferred, int timeoutMs) override
    {
        return m_module->read(m_generation, endpoint, data, len, transferred, timeoutMs);
    }
    int clearHalt(uint8_t endpoint) override { return m_module->clearHalt(m_generation, endpoint); }
    bool gone() const override { return m_module->gone(m_generation); }

private:
    std::shared_ptr<EmulatedModule> m_module;
    uint64_t m_generation;
    uint64_t m_id;
};

EmulatedBus::EmulatedBus() : m_link(std::make_shared<Link>())
{
    m_link->bus = this;
}

EmulatedBus::~EmulatedBus()
{
    {
        // Waits for a hook that is running right now.
        std::lock_guard<std::recursive_mutex> lk(m_link->mutex);
        m_link->bus = nullptr;
    }
    std::vector<Entry> entries;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        entries.swap(m_entries);
        m_listeners.clear();
    }
    // Open handles may outlive the bus; they then see an unplugged device.
    for (const Entry &e : entries)
        e.module->detachFromBus();
}

std::shared_ptr<EmulatedModule> EmulatedBus::plug(const ModuleVariant &variant, int position)
{
    auto module = std::make_shared<EmulatedModule>(variant);
    insert(module, position);
    return module;
}

std::vector<std::shared_ptr<EmulatedModule>> EmulatedBus::plugAll(const std::vector<ModuleVariant> &variants)
{
    std::vector<std::shared_ptr<EmulatedModule>> out;
    for (const ModuleVariant &v : variants)
        out.push_back(plug(v));
    return out;
}

void EmulatedBus::replug(const std::shared_ptr<EmulatedModule> &module, int position)
{
    if (!module || module->plugged())
        return;
    insert(module, position);
}

void EmulatedBus::unplug(const std::shared_ptr<EmulatedModule> &module)
{
    if (module)
        module->unplug();
}

void EmulatedBus::insert(const std::shared_ptr<EmulatedModule> &module, int position)
{
    HotplugEvent event;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        Entry e{module, m_nextDeviceId++};
        std::weak_ptr<Link> link = m_link;
        module->attach([link](EmulatedModule *m) {
            if (const auto l = link.lock()) {
                std::lock_guard<std::recursive_mutex> guard(l->mutex);
                if (l->bus)
                    l->bus->onDetached(m);
            }
        });
        if (position < 0 || position >= static_cast<int>(m_entries.size()))
            m_entries.push_back(e);
        else
            m_entries.insert(m_entries.begin() + position, e);
        event.arrived = true;
        event.vendorId = module->variant().vendorId;
        event.productId = module->variant().productId;
        event.serial = module->variant().serial;
        event.deviceId = e.deviceId;
    }
    notify(event);
}

void EmulatedBus::onDetached(EmulatedModule *module)
{
    HotplugEvent event;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                     [module](const Entry &e) { return e.module.get() == module; });
        if (it == m_entries.end())
            return;
        event.arrived = false;
        event.vendorId = module->variant().vendorId;
        event.productId = module->variant().productId;
        event.serial = module->variant().serial;
        event.deviceId = it->deviceId;
        m_entries.erase(it);
    }
    notify(event);
}

void EmulatedBus::notify(const HotplugEvent &event)
{
    std::vector<HotplugListener> listeners;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        for (const auto &l : m_listeners)
            listeners.push_back(l.second);
    }
    for (const HotplugListener &l : listeners)
        l(event);
}

std::vector<std::shared_ptr<EmulatedModule>> EmulatedBus::devices() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    std::vector<std::shared_ptr<EmulatedModule>> out;
    for (const Entry &e : m_entries)
        out.push_back(e.module);
    return out;
}

std::shared_ptr<EmulatedModule> EmulatedBus::bySerial(const std::string &serial) const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    for (const Entry &e : m_entries)
        if (e.module->serial() == serial)
            return e.module;
    return nullptr;
}

int EmulatedBus::addHotplugListener(HotplugListener listener)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    const int id = m_nextListenerId++;
    m_listeners[id] = std::move(listener);
    return id;
}

void EmulatedBus::removeHotplugListener(int id)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_listeners.erase(id);
}

void EmulatedBus::setBackendAvailable(bool available)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_available = available;
}

bool EmulatedBus::ok() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_available;
}

std::vector<UsbAccess::DeviceInfo> EmulatedBus::listDevices()
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_lastList.clear();
    std::vector<DeviceInfo> out;
    if (!m_available)
        return out;
    for (const Entry &e : m_entries) {
        const ModuleVariant &v = e.module->variant();
        DeviceInfo info;
        info.busIndex = static_cast<int>(m_lastList.size());
        info.descriptorOk = v.descriptorReadable;
        if (v.descriptorReadable) {
            info.vendorId = v.vendorId;
            info.productId = v.productId;
            info.serialIndex = v.serialIndex;
        }
        m_lastList.push_back({e.module, e.module->generation()});
        out.push_back(info);
    }
    return out;
}

std::unique_ptr<UsbAccess::Handle> EmulatedBus::open(int busIndex, int *error)
{
    Listed listed;
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        if (!m_available || busIndex < 0 || busIndex >= static_cast<int>(m_lastList.size())) {
            if (error)
                *error = UsbError::NoDevice;
            return nullptr;
        }
        listed = m_lastList[static_cast<size_t>(busIndex)];
    }
    uint64_t id = 0;
    const int rc = listed.module->openHandle(listed.generation, &id);
    if (error)
        *error = rc;
    if (rc != 0)
        return nullptr;
    return std::make_unique<EmulatedHandle>(listed.module, listed.generation, id);
}

const char *EmulatedBus::errorName(int code) const
{
    return UsbError::name(code);
}

const char *EmulatedBus::errorText(int code) const
{
    return UsbError::text(code);
}

} // namespace tl::sim
