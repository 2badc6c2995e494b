// A receive loop that does not come back from a read (a broken bus) outlives two
// stops in a row, with its module pulled and put back in between: the handle it
// reads through must stay open until it ends.
#include "Fixture.h"
#include "tests/support/ForwardingUsb.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <cstring>

using namespace tl;
using namespace tl::codec;
using namespace tl::test;
using sim::ModuleVariant;

namespace {

// A bus whose reads on receive-loop threads can be held, and whose handles count
// being destroyed while a read is in progress through them. A held read that
// finds its handle destroyed touches nothing of it and hands back a packet the
// loop ignores, so the test fails on its check rather than on the fault itself.
class HeldReadBus : public ForwardingUsb
{
public:
    using ForwardingUsb::ForwardingUsb;

    void hold(bool on)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hold = on;
        m_cv.notify_all();
    }
    int held()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_held;
    }
    int destroyedUnderRead() const { return m_destroyedUnderRead.load(); }

protected:
    std::unique_ptr<Handle> wrap(std::unique_ptr<Handle> opened) override
    {
        return std::make_unique<HeldHandle>(std::move(opened), *this);
    }

private:
    // What a read in progress keeps of its handle: the inner handle and whether
    // the driver has destroyed the outer one meanwhile.
    struct State
    {
        std::shared_ptr<Handle> inner;
        std::atomic<int> reading{0};
        std::atomic<bool> destroyed{false};
    };

    class HeldHandle : public ForwardingHandle
    {
    public:
        HeldHandle(std::shared_ptr<Handle> inner, HeldReadBus &bus)
            : ForwardingHandle(inner), m_s(std::make_shared<State>()), m_bus(bus)
        {
            m_s->inner = std::move(inner);
        }
        ~HeldHandle() override
        {
            m_s->destroyed = true;
            if (m_s->reading.load() > 0)
                ++m_bus.m_destroyedUnderRead;
        }
        int interruptRead(uint8_t ep, uint8_t *d, int len, int *tr, int t) override
        {
            // Nothing of `this` is used once the read may have been held.
            std::shared_ptr<State> s = m_s;
            HeldReadBus &bus = m_bus;
            ++s->reading;
            if (QThread::currentThread() != QCoreApplication::instance()->thread())
                bus.waitWhileHeld();
            int rc;
            if (s->destroyed) {
                const PacketBuffer b = makePacket(RES_DEBUG);
                std::memcpy(d, b.data(), static_cast<size_t>(std::min<int>(len, kPacketSize)));
                *tr = std::min<int>(len, kPacketSize);
                rc = 0;
            } else {
                rc = s->inner->interruptRead(ep, d, len, tr, t);
            }
            --s->reading;
            return rc;
        }

    private:
        std::shared_ptr<State> m_s;
        HeldReadBus &m_bus;
    };

    void waitWhileHeld()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_hold)
            return;
        ++m_held;
        m_cv.wait(lock, [this] { return !m_hold; });
        --m_held;
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_hold = false;
    int m_held = 0;
    std::atomic<int> m_destroyedUnderRead{0};
};

} // namespace

TEST_F(DeviceTest, LoopStuckInAReadKeepsItsHandleThroughTwoStops)
{
    auto m = plug(ModuleVariant::calibrated("STUCK"));
    HeldReadBus held(bus);
    {
        CamDevCtrl d(settings.get(), &held);
        ASSERT_EQ(d.UpdateCameraInfo(), 1);
        ASSERT_TRUE(d.openDevices());
        d.StartRecvThread(0, 0);
        held.hold(true);
        ASSERT_TRUE(spinUntil([&] { return held.held() == 1; }, 10000));

        // The module is pulled and put back while the read hangs: it comes back
        // as a new device, which opens beside the old handle.
        bus.unplug(m);
        bus.replug(m);
        // First stop: the loop outlives its bound, its handle is set aside and
        // the module is opened again.
        EXPECT_EQ(d.UpdateCameraInfo(), 1);
        EXPECT_TRUE(d.isReceiving(0));
        // Second stop while the same loop is still held: the handle opened since
        // is closed, the one under the read stays.
        EXPECT_EQ(d.UpdateCameraInfo(), 1);
        EXPECT_TRUE(d.isReceiving(0));
        EXPECT_EQ(held.destroyedUnderRead(), 0);

        held.hold(false);
        EXPECT_TRUE(spinUntil([&] { return !d.isReceiving(0); }, 10000));
        EXPECT_EQ(held.destroyedUnderRead(), 0);
    }
    // Every handle was closed in the end, the set-aside one included.
    EXPECT_EQ(m->openHandles(), 0);
}
