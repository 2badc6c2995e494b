#pragma once

// A bare host for emulator tests: it opens a module on the emulated bus and
// trades raw packets with it, built and read with the device codec. No protocol
// logic of the driver is involved, so what a test sees is the module's side alone.

#include "device/codec/Commands.h"
#include "device/codec/Image.h"
#include "device/codec/Packet.h"
#include "platform/Clock.h"
#include "sim/EmulatedBus.h"

#include <gtest/gtest.h>
#include <libusb.h>

#include <memory>
#include <vector>

namespace tl::sim::test {

struct Rx
{
    int rc = 0;
    int n = 0;
    codec::PacketBuffer buf{};

    int32_t code() const { return raw(0); }
    int32_t length() const { return raw(4); }
    int32_t payloadI32(int offset) const { return raw(8 + offset); }
    const uint8_t *payload() const { return buf.data() + codec::kHeaderSize; }
    codec::PacketView view() const
    {
        codec::PacketView v;
        codec::parsePacket(buf, n, v);
        return v;
    }
    int32_t raw(int offset) const
    {
        if (offset < 0 || offset + 4 > codec::kPacketSize)
            return 0;
        return static_cast<int32_t>(buf[offset] | (buf[offset + 1] << 8) | (buf[offset + 2] << 16) |
                                    (static_cast<uint32_t>(buf[offset + 3]) << 24));
    }
};

class RawHost
{
public:
    explicit RawHost(EmulatedBus &bus) : m_bus(bus) {}

    // Opens the device at list position `busIndex` and claims interfaces 2 and 3.
    bool open(int busIndex = 0)
    {
        m_bus.listDevices();
        int err = 0;
        m_handle = m_bus.open(busIndex, &err);
        if (!m_handle)
            return false;
        return m_handle->claimInterface(2) == 0 && m_handle->claimInterface(3) == 0;
    }
    UsbAccess::Handle &handle() { return *m_handle; }
    void close() { m_handle.reset(); }

    int write(const codec::PacketBuffer &pkt)
    {
        int transferred = 0;
        const int rc = m_handle->bulkWrite(0x03, pkt.data(), codec::kPacketSize, &transferred, 1000);
        return rc == 0 ? transferred : rc;
    }
    int send(int32_t code, const void *payload = nullptr, int len = 0)
    {
        return write(codec::makePacket(code, payload, len));
    }
    int sendI32(int32_t code, int32_t value) { return write(codec::makePacketI32(code, value)); }

    Rx read(uint8_t endpoint = 0x83, int timeoutMs = 1000)
    {
        Rx rx;
        rx.rc = m_handle->interruptRead(endpoint, rx.buf.data(), codec::kPacketSize, &rx.n, timeoutMs);
        return rx;
    }
    // Reads until a packet with `code` arrives; other packets are collected in
    // `skipped`. Fails the read (rc) on the first error or time-out.
    Rx readUntil(int32_t code, uint8_t endpoint = 0x83, int timeoutMs = 1000, std::vector<Rx> *skipped = nullptr)
    {
        for (int i = 0; i < 5000; ++i) {
            Rx rx = read(endpoint, timeoutMs);
            if (rx.rc != 0 || rx.code() == code)
                return rx;
            if (skipped)
                skipped->push_back(rx);
        }
        Rx none;
        none.rc = LIBUSB_ERROR_OTHER;
        return none;
    }
    // Everything that arrives until a read times out.
    std::vector<Rx> drain(uint8_t endpoint = 0x83, int timeoutMs = 100)
    {
        std::vector<Rx> out;
        for (;;) {
            Rx rx = read(endpoint, timeoutMs);
            if (rx.rc != 0)
                return out;
            out.push_back(rx);
        }
    }

private:
    EmulatedBus &m_bus;
    std::unique_ptr<UsbAccess::Handle> m_handle;
};

// Runs every emulator test with time compressed, so that read time-outs and the
// module's capture and store times pass quickly; the values themselves stay.
class SimTest : public ::testing::Test
{
protected:
    void SetUp() override { Clock::setCompression(10.0); }
    void TearDown() override { Clock::setCompression(1.0); }
};

} // namespace tl::sim::test
