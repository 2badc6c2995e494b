// Read failures of a receive loop that are neither a time-out nor an unplug: a
// halted endpoint is cleared and counted, other errors are logged once per
// cause, and a module whose reads keep failing is treated as gone (its loop
// ends and says so, so that what it held down comes up) instead of being
// retried without a word for ever. (This file links after ReceiveTest, whose
// check of the once-per-process first tracking trace must run first.)
#include "Fixture.h"
#include "tests/support/ForwardingUsb.h"

#include <atomic>

using namespace tl;
using namespace tl::codec;
using namespace tl::test;
using sim::ModuleVariant;

namespace {

// A bus whose reads fail with a chosen libusb error while it is set (0: they
// go through to the module).
class FailingReadBus : public ForwardingUsb
{
public:
    using ForwardingUsb::ForwardingUsb;
    std::atomic<int> error{0};

protected:
    std::unique_ptr<Handle> wrap(std::unique_ptr<Handle> opened) override
    {
        return std::make_unique<Failing>(std::move(opened), error);
    }

private:
    class Failing : public ForwardingHandle
    {
    public:
        Failing(std::shared_ptr<Handle> inner, std::atomic<int> &error) : ForwardingHandle(std::move(inner)), m_error(error) {}
        int interruptRead(uint8_t ep, uint8_t *d, int len, int *tr, int t) override
        {
            if (const int e = m_error.load()) {
                *tr = 0;
                return e;
            }
            return ForwardingHandle::interruptRead(ep, d, len, tr, t);
        }

    private:
        std::atomic<int> &m_error;
    };
};

void startTracking(CamDevCtrl &d)
{
    const int32_t two = 2;
    d.SendCommand(&two, CMD_SET_TRANSFER_MODE, 4, 0, false);
    d.SendCommand(nullptr, CMD_START_TRACKING, 0, 0, false);
    d.StartRecvThread(0, 0);
}

} // namespace

TEST_F(DeviceTest, ReadFailuresAreClearedLoggedAndCounted)
{
    auto m = plug(ModuleVariant::calibrated("FAIL"));
    FailingReadBus failing(bus);
    CamDevCtrl d(settings.get(), &failing);
    d.setTrackingSink(&sink);
    ASSERT_EQ(d.UpdateCameraInfo(), 1);
    ASSERT_TRUE(d.openDevices());
    startTracking(d);
    ASSERT_TRUE(spinUntil([&] { return sink.count() > 5; }, 10000));

    // One stall: the halt is cleared and the reports go on.
    sim::FaultPlan stall;
    stall.inHalts = 1;
    m->setFaults(stall);
    size_t before = sink.count();
    ASSERT_TRUE(spinUntil([&] { return sink.count() > before + 20; }, 10000)) << "a cleared halt did not come back";
    EXPECT_EQ(m->stats().haltsCleared, 1);
    EXPECT_EQ(logCount("RecvPacketProc: endpoint 0x83 stalled"), 1);

    // An I/O error for a while: one line when it starts, one when reads work again.
    failing.error = UsbError::Io;
    spinFor(500);
    failing.error = 0;
    before = sink.count();
    ASSERT_TRUE(spinUntil([&] { return sink.count() > before + 20; }, 10000));
    EXPECT_EQ(logCount("RecvPacketProc: read failed: LIBUSB_ERROR_IO"), 1);
    EXPECT_EQ(logCount("RecvPacketProc: reads work again after"), 1);
    EXPECT_TRUE(d.isReceiving(0));
    EXPECT_TRUE(sink.goneModules().empty());

    // An error that does not go away: the module is treated as gone.
    failing.error = UsbError::Io;
    ASSERT_TRUE(spinUntil([&] { return !d.isReceiving(0); }, 10000)) << "the loop retries a failing read for ever";
    EXPECT_EQ(logCount("RecvPacketProc: read failed: LIBUSB_ERROR_IO"), 2);
    EXPECT_EQ(logCount("the module is treated as gone, nDevNum = 0"), 1);
    EXPECT_EQ(sink.goneModules(), std::vector<int>{0});
    failing.error = 0;

    // A halt that comes back at every read after it was cleared: three in a row
    // and the module is treated as gone.
    sink.gone.clear();
    d.StopRecvThread();
    m->setFaults({});
    startTracking(d);
    ASSERT_TRUE(spinUntil([&] { return sink.count() > before + 40; }, 10000));
    stall.inHalts = 100;
    m->setFaults(stall);
    ASSERT_TRUE(spinUntil([&] { return !d.isReceiving(0); }, 10000)) << "a halt that does not clear is read for ever";
    EXPECT_EQ(m->stats().haltsCleared, 1 + 3);
    EXPECT_EQ(logCount("stalled 3 times in a row, the module is treated as gone, nDevNum = 0"), 1);
    EXPECT_EQ(sink.goneModules(), std::vector<int>{0});
    d.StopRecvThread();
    m->setFaults({});
    EXPECT_TRUE(d.Close(0));
}
