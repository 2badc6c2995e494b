#pragma once

#include "device/UsbAccess.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tl::test {

// A handle that hands every call to another one. A test derives from it and
// overrides only the calls it watches, holds up or changes. The inner handle is
// shared so that a derived handle may keep it alive past its own end (a read
// still in progress through a handle the driver destroyed).
class ForwardingHandle : public UsbAccess::Handle
{
public:
    explicit ForwardingHandle(std::shared_ptr<UsbAccess::Handle> inner) : m_inner(std::move(inner)) {}

    int stringDescriptorAscii(uint8_t index, std::string &out, int maxLen) override
    {
        return m_inner->stringDescriptorAscii(index, out, maxLen);
    }
    int claimInterface(int iface) override { return m_inner->claimInterface(iface); }
    int releaseInterface(int iface) override { return m_inner->releaseInterface(iface); }
    int touchConfigDescriptor() override { return m_inner->touchConfigDescriptor(); }
    int bulkWrite(uint8_t endpoint, const uint8_t *data, int len, int *transferred, int timeoutMs) override
    {
        return m_inner->bulkWrite(endpoint, data, len, transferred, timeoutMs);
    }
    int interruptRead(uint8_t endpoint, uint8_t *data, int len, int *transferred, int timeoutMs) override
    {
        return m_inner->interruptRead(endpoint, data, len, transferred, timeoutMs);
    }
    int clearHalt(uint8_t endpoint) override { return m_inner->clearHalt(endpoint); }
    bool gone() const override { return m_inner->gone(); }

protected:
    const std::shared_ptr<UsbAccess::Handle> &inner() const { return m_inner; }

private:
    std::shared_ptr<UsbAccess::Handle> m_inner;
};

// A bus that hands every call to another one (the emulated bus, as a rule). The
// handles it opens are those of the inner bus, passed through wrap(): a derived
// bus returns its own ForwardingHandle there.
class ForwardingUsb : public UsbAccess
{
public:
    explicit ForwardingUsb(UsbAccess &inner) : m_inner(inner) {}

    bool ok() const override { return m_inner.ok(); }
    std::vector<DeviceInfo> listDevices() override { return m_inner.listDevices(); }
    std::unique_ptr<Handle> open(int busIndex, int *error = nullptr) override
    {
        std::unique_ptr<Handle> h = m_inner.open(busIndex, error);
        return h ? wrap(std::move(h)) : nullptr;
    }
    const char *errorName(int code) const override { return m_inner.errorName(code); }
    const char *errorText(int code) const override { return m_inner.errorText(code); }

protected:
    virtual std::unique_ptr<Handle> wrap(std::unique_ptr<Handle> opened) { return opened; }

private:
    UsbAccess &m_inner;
};

} // namespace tl::test
