// The emulated bus as the driver's USB layer sees it: listing, opening, claiming,
// endpoints, plug and unplug.

#include "RawHost.h"

#include <atomic>
#include <thread>

namespace tl::sim::test {
namespace {

using namespace tl::codec;

class BusTest : public SimTest
{
};

TEST_F(BusTest, ListsModulesAndForeignDevicesInPlugOrder)
{
    EmulatedBus bus;
    bus.plug(ModuleVariant::blank("SER-A"));
    bus.plug(ModuleVariant::foreign(0x046D, 0xC52B, "KBD"));
    ModuleVariant unreadable = ModuleVariant::blank("SER-X");
    unreadable.descriptorReadable = false;
    bus.plug(unreadable);
    bus.plug(ModuleVariant::blank("SER-B"), 0);

    const auto list = bus.listDevices();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].vendorId, 0x16D0);
    EXPECT_EQ(list[0].productId, 0x0F8C);
    EXPECT_EQ(list[1].vendorId, 0x16D0);
    EXPECT_EQ(list[2].vendorId, 0x046D);
    EXPECT_EQ(list[2].productId, 0xC52B);
    EXPECT_FALSE(list[3].descriptorOk);
    for (size_t i = 0; i < list.size(); ++i)
        EXPECT_EQ(list[i].busIndex, static_cast<int>(i));

    // The serial string of the device inserted at the front.
    int err = 0;
    auto h = bus.open(0, &err);
    ASSERT_TRUE(h);
    std::string serial;
    EXPECT_EQ(h->stringDescriptorAscii(list[0].serialIndex, serial, 256), 5);
    EXPECT_EQ(serial, "SER-B");
    // At most maxLen - 1 characters fit the caller's buffer.
    EXPECT_EQ(h->stringDescriptorAscii(list[0].serialIndex, serial, 4), 3);
    EXPECT_EQ(serial, "SER");
    EXPECT_EQ(h->stringDescriptorAscii(7, serial, 256), LIBUSB_ERROR_PIPE);
}

TEST_F(BusTest, BackendThatCannotStartHasNoDevices)
{
    EmulatedBus bus;
    bus.plug(ModuleVariant::blank("A"));
    bus.setBackendAvailable(false);
    EXPECT_FALSE(bus.ok());
    EXPECT_TRUE(bus.listDevices().empty());
    int err = 0;
    EXPECT_FALSE(bus.open(0, &err));
    EXPECT_STREQ(bus.errorName(LIBUSB_ERROR_NO_DEVICE), "LIBUSB_ERROR_NO_DEVICE");
}

TEST_F(BusTest, ClaimsAreExclusiveAndFailuresInjectablePerInterface)
{
    EmulatedBus bus;
    auto m = bus.plug(ModuleVariant::blank("A"));
    bus.listDevices();
    auto first = bus.open(0);
    auto second = bus.open(0);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(m->openHandles(), 2);
    EXPECT_EQ(first->claimInterface(2), 0);
    EXPECT_EQ(second->claimInterface(2), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(second->releaseInterface(2), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(first->claimInterface(9), LIBUSB_ERROR_NOT_FOUND);

    FaultPlan plan;
    plan.claimError[3] = LIBUSB_ERROR_ACCESS;
    m->setFaults(plan);
    EXPECT_EQ(first->claimInterface(3), LIBUSB_ERROR_ACCESS);
    EXPECT_FALSE(m->interfaceClaimed(3));

    // Closing a handle gives back what it claimed.
    first.reset();
    EXPECT_FALSE(m->interfaceClaimed(2));
    EXPECT_EQ(m->openHandles(), 1);
    EXPECT_EQ(second->claimInterface(2), 0);

    plan.openError = LIBUSB_ERROR_ACCESS;
    m->setFaults(plan);
    int err = 0;
    EXPECT_FALSE(bus.open(0, &err));
    EXPECT_EQ(err, LIBUSB_ERROR_ACCESS);
}

TEST_F(BusTest, EndpointsAndBufferSizesBehaveLikeLibusb)
{
    EmulatedBus bus;
    bus.plug(ModuleVariant::blank("A"));
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    int transferred = -1;
    const PacketBuffer pkt = makePacket(CMD_SENDVERSION);
    EXPECT_EQ(host.handle().bulkWrite(0x83, pkt.data(), 512, &transferred, 1000), LIBUSB_ERROR_IO);
    EXPECT_EQ(host.handle().interruptRead(0x81, nullptr, 0, &transferred, 10), LIBUSB_ERROR_IO);

    // A buffer smaller than the packet: libusb reports an overflow.
    ASSERT_EQ(host.send(CMD_SENDVERSION), 512);
    uint8_t small[16] = {};
    EXPECT_EQ(host.handle().interruptRead(0x83, small, sizeof small, &transferred, 1000), LIBUSB_ERROR_OVERFLOW);
    EXPECT_EQ(transferred, 16);
    EXPECT_EQ(small[0], 0x04);  // DAT_VERSION, low byte

    // A negative time-out polls: a time-out at once with nothing due, the packet
    // once it is.
    uint8_t buf[512];
    EXPECT_EQ(host.handle().interruptRead(0x83, buf, 512, &transferred, -1), LIBUSB_ERROR_TIMEOUT);
    ASSERT_EQ(host.send(CMD_SENDVERSION), 512);
    Clock::sleepMs(50);
    EXPECT_EQ(host.handle().interruptRead(0x83, buf, 512, &transferred, -1), 0);
    EXPECT_EQ(buf[0], 0x04);  // DAT_VERSION

    // Nothing queued: the read runs into its time-out, measured on the driver clock.
    const qint64 t0 = Clock::nowMs();
    const Rx rx = host.read(0x83, 300);
    EXPECT_EQ(rx.rc, LIBUSB_ERROR_TIMEOUT);
    EXPECT_GE(Clock::nowMs() - t0, 290);
}

TEST_F(BusTest, UnplugFailsEverythingAndWakesABlockedReader)
{
    EmulatedBus bus;
    std::vector<HotplugEvent> events;
    std::mutex evMutex;
    bus.addHotplugListener([&](const HotplugEvent &e) {
        std::lock_guard<std::mutex> lk(evMutex);
        events.push_back(e);
    });
    auto m = bus.plug(ModuleVariant::calibrated("SER-1"));
    RawHost host(bus);
    ASSERT_TRUE(host.open());

    std::atomic<int> readResult{1};
    std::thread reader([&] {
        int n = 0;
        uint8_t buf[512];
        // A long time-out: only the unplug can end this read early.
        readResult = host.handle().interruptRead(0x84, buf, 512, &n, 60000);
    });
    Clock::sleepMs(100);
    bus.unplug(m);
    reader.join();
    EXPECT_EQ(readResult.load(), LIBUSB_ERROR_NO_DEVICE);

    EXPECT_TRUE(host.handle().gone());
    EXPECT_EQ(host.send(CMD_SENDVERSION), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(host.read().rc, LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(host.handle().claimInterface(2), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(host.handle().releaseInterface(2), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(host.handle().touchConfigDescriptor(), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_TRUE(bus.listDevices().empty());

    // Plugged in again it is a new device: the old handle stays dead, a new one works.
    bus.replug(m);
    EXPECT_TRUE(host.handle().gone());
    EXPECT_EQ(host.send(CMD_SENDVERSION), LIBUSB_ERROR_NO_DEVICE);
    RawHost again(bus);
    ASSERT_TRUE(again.open());
    ASSERT_EQ(again.send(CMD_SENDVERSION), 512);
    EXPECT_EQ(again.read().code(), DAT_VERSION);

    std::lock_guard<std::mutex> lk(evMutex);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_TRUE(events[0].arrived);
    EXPECT_FALSE(events[1].arrived);
    EXPECT_TRUE(events[2].arrived);
    EXPECT_EQ(events[1].serial, "SER-1");
    EXPECT_EQ(events[1].vendorId, 0x16D0);
    EXPECT_EQ(events[0].deviceId, events[1].deviceId);
    EXPECT_NE(events[1].deviceId, events[2].deviceId);
}

TEST_F(BusTest, ListIsASnapshotSoAStaleIndexDoesNotOpenAnotherDevice)
{
    EmulatedBus bus;
    auto a = bus.plug(ModuleVariant::blank("A"));
    bus.plug(ModuleVariant::blank("B"));
    bus.listDevices();
    bus.unplug(a);
    int err = 0;
    EXPECT_FALSE(bus.open(0, &err));
    EXPECT_EQ(err, LIBUSB_ERROR_NO_DEVICE);
    auto h = bus.open(1, &err);
    ASSERT_TRUE(h);
    std::string serial;
    h->stringDescriptorAscii(3, serial, 256);
    EXPECT_EQ(serial, "B");
}

TEST_F(BusTest, ForeignDeviceAcceptsWritesAndNeverAnswers)
{
    EmulatedBus bus;
    bus.plug(ModuleVariant::foreign(0x1234, 0x5678));
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    EXPECT_EQ(host.send(CMD_SENDVERSION), 512);
    EXPECT_EQ(host.read(0x83, 200).rc, LIBUSB_ERROR_TIMEOUT);
    std::string serial;
    EXPECT_EQ(host.handle().stringDescriptorAscii(3, serial, 256), LIBUSB_ERROR_PIPE);
}

} // namespace
} // namespace tl::sim::test
