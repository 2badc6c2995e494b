// The whole receive path: the real protocol class under the real controller, on
// two emulated modules, with time compressed. An input is a state and a
// sequence of operations: raw packets on either endpoint of either module,
// packets of a known code with any length field, genuine exchanges the host
// starts (frames, image groups, the mask chain, EEPROM, version), fault plans
// on the genuine answers, unplugs, and pauses. The controller's slots take the
// frames and masks; tracking goes through the input layer to a counting backend.
//
// Input: byte 0 = state (0 tracking, 1 frames, 2 image transfer, 3 mask
// download, 4 manual calibration), then operations (see run()).
#include "ReceiveWorld.h"

#include "control/SystemStates.h"
#include "device/codec/Image.h"
#include "tests/support/DriverSpin.h"
#include "tests/support/ForwardingUsb.h"

#include <QCoreApplication>

#include <atomic>
#include <cstring>
#include <memory>

using namespace tl;
using namespace tl::codec;

namespace {

// The emulated bus as the host sees it, with a count of the host's threads that
// are inside a read. Every receive loop inside a read while no module has
// anything queued is a quiet host: waitQuiet() ends there instead of sleeping
// through a fixed number of rounds.
class WatchedBus : public test::ForwardingUsb
{
public:
    using ForwardingUsb::ForwardingUsb;

    int readers() const { return m_readers.load(); }

protected:
    std::unique_ptr<Handle> wrap(std::unique_ptr<Handle> opened) override
    {
        return std::make_unique<WatchedHandle>(std::move(opened), m_readers);
    }

private:
    class WatchedHandle : public test::ForwardingHandle
    {
    public:
        WatchedHandle(std::shared_ptr<Handle> inner, std::atomic<int> &readers)
            : ForwardingHandle(std::move(inner)), m_readers(readers)
        {
        }
        int interruptRead(uint8_t endpoint, uint8_t *data, int len, int *transferred, int timeoutMs) override
        {
            m_readers.fetch_add(1);
            const int rc = ForwardingHandle::interruptRead(endpoint, data, len, transferred, timeoutMs);
            m_readers.fetch_sub(1);
            return rc;
        }

    private:
        std::atomic<int> &m_readers;
    };

    std::atomic<int> m_readers{0};
};

struct World : fuzz::ReceiveWorld
{
    WatchedBus watched{bus};

    void connect()
    {
        control->systemStateChange(esysCONNECTION_START, -1);
        waitQuiet(200);
    }

    // True when every running receive loop waits in a read and no module has a
    // packet queued for the host (due or not).
    bool quiet()
    {
        int loops = 0;
        for (int i = 0; i < CamDevCtrl::kMaxDevices; ++i)
            loops += dev()->isReceiving(i) ? 1 : 0;
        if (watched.readers() < loops)
            return false;
        for (auto &m : modules)
            if (m->plugged() && (m->pending(sim::kEpIn) > 0 || m->pending(sim::kEpFrames) > 0))
                return false;
        return true;
    }

    // Runs the GUI thread's event loop until the host is quiet twice in a row (or
    // `rounds` * 5 ms of driver time have passed: a frame stream is never quiet).
    // Packets queued for later are waited for in driver time.
    void waitQuiet(int rounds = 400)
    {
        int quietSeen = 0;
        test::spinUntil(
            [&] {
                quietSeen = quiet() ? quietSeen + 1 : 0;
                return quietSeen >= 2;
            },
            rounds * 5LL, 1);
        QCoreApplication::processEvents();
    }

    // Frames the host did not read by the end of an input (asked for while the
    // loops read answers, or left after the frame stream stopped) are thrown
    // away: every input starts from an empty frame endpoint, and what a packet
    // does belongs to the input that sent it.
    void discardUnreadFrames()
    {
        for (const auto &info : bus.listDevices()) {
            std::unique_ptr<UsbAccess::Handle> h = bus.open(info.busIndex);
            if (!h)
                continue;
            PacketBuffer buf;
            int n = 0;
            for (int i = 0; i < 8 * 481; ++i) {
                const int rc = h->interruptRead(sim::kEpFrames, buf.data(), kPacketSize, &n, -1);
                if (rc != 0 && rc != UsbError::Overflow)
                    break;
            }
        }
    }

    void ensureMode(bool display)
    {
        CamDevCtrl *d = dev();
        if (d->isReceiving(0) && d->displayMode() == display)
            return;
        d->StopRecvThread();
        d->StartRecvThread(display ? 1 : 0, 0);
    }

    // After an unplug: the controller learns of the removal (as from the hot-plug
    // monitor), then every module comes back and is connected again.
    void restore()
    {
        bool pulled = false;
        for (auto &m : modules)
            pulled |= !m->plugged();
        if (pulled) {
            control->systemStateChange(esysDEVICE_FOUND_OR_REMOVE, -1);
            waitQuiet(20);
            for (auto &m : modules)
                if (!m->plugged())
                    bus.replug(m);
        }
        if (pulled || control->device()->numDevices() != 2) {
            control->systemStateChange(esysDEVICE_FOUND_OR_REMOVE, -1);
            waitQuiet(200);
        }
    }
};

World *g_world = nullptr;

void run(World &w, const uint8_t *data, size_t size)
{
    fuzz::Reader in(data, size);
    CamDevCtrl *d = w.dev();
    const int state = in.u8() % 5;
    w.ensureMode(state == 1);
    fuzz::startState(state, in, d);

    int ops = 0;
    while (in.more() && ++ops < 64) {
        const uint8_t op = in.u8() % 7;
        const uint8_t target = in.u8();
        auto &m = w.modules[target & 1];
        switch (op) {
        case 0:     // raw bytes for the host
        case 1:     // a known code for the host
        case 2:     // a genuine exchange started by the host
        case 3:     // faults on the genuine answers
            fuzz::commonOperation(op, target, in, *m, d, target & 1, [d](int slot) { d->requestFrame(slot); });
            break;
        case 4:     // the module goes away here
            w.bus.unplug(m);
            break;
        case 5:     // time passes (driver time; the loops read on)
            for (int i = 0, n = in.u8() % 16; i < n; ++i) {
                QCoreApplication::processEvents();
                Clock::sleepMs(50);
            }
            break;
        case 6:
            w.waitQuiet(50);
            break;
        }
    }
    w.waitQuiet();
    for (auto &m : w.modules) {
        if (m->plugged())
            m->setFaults({});
        // The module's log of what it was sent would grow for the whole run.
        m->clearReceived();
    }
    w.restore();
    // The frame stream asks for the next frame after every shown one: it does not
    // run on between inputs.
    if (w.dev()->displayMode()) {
        w.ensureMode(false);
        // What was sent for the answer loops while the frames were read.
        w.waitQuiet();
    }
    w.discardUnreadFrames();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    auto *w = new World;
    // A receive loop's read of 1000 ms is 1 ms of wall time, the least a read
    // waits; every bound on it (a loop's stop, a drain) stays longer than that.
    w->build(argc, argv, w->watched, 1000.0);
    w->connect();
    g_world = w;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    run(*g_world, data, size);
    return 0;
}
