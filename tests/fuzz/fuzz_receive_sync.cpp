// The receive path without its threads: the same controller, device layer and
// emulated modules as fuzz_receive, kept for the whole run, with the receive
// loops stopped. This target reads what the modules send and hands every
// transfer to the device layer's own receive step (CamDevCtrl::receiveTransfer,
// what a loop does with each read) on the fuzzer's thread, so the receivers
// (images, masks, calibration steps, tracking through the input layer) run
// directly, and nothing waits for a thread to be scheduled. Unplugs and stops
// while reading need the loops: fuzz_receive keeps those.
//
// Input: the layout of fuzz_receive (its seeds serve here too): byte 0 = state
// (0 tracking, 1 frames, 2 image transfer, 3 mask download, 4 manual
// calibration), then operations (see run()). Operation 4 (an unplug there)
// reads what is due here; operation 5 has the module track for a few report
// periods, its reports read as they come.
#include "ReceiveWorld.h"

#include "control/SystemStates.h"
#include "tests/support/DriverSpin.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

using namespace tl;
using namespace tl::codec;

namespace {

// Transfers one input may hand to the receive path: a frame (481) fits, and a
// few groups of an image transfer with their resends; a whole image is reached
// by asking for its last groups. What comes after is read away unhandled: the
// paths are the same, only the time grows.
constexpr int kTransferBudget = 640;
// Whole alignment frames one input may ask for, in the frames state only (the
// alignment view is where the host asks for them). A frame is 481 transfers
// and a 640 x 360 conversion in the controller; more of them add time, not paths.
constexpr int kFrameBudget = 1;

// Lets `ms` of driver time pass on this thread without giving up the core: with
// time this compressed it is a few clock reads, where a sleep would wait for
// the scheduler (milliseconds on a busy machine).
void passDriverTime(int ms)
{
    const qint64 end = Clock::nowMs() + ms;
    while (Clock::nowMs() < end) {
    }
}

struct World : fuzz::ReceiveWorld
{
    // The harness's own handle on each module, and the device layer's index of
    // that module.
    std::unique_ptr<UsbAccess::Handle> readers[2];
    int slotOf[2] = {-1, -1};
    int budget = 0;
    int framesLeft = 0;
    long restarted = 0;

    bool connect()
    {
        control->systemStateChange(esysCONNECTION_START, -1);
        test::spinUntil([&] { return dev()->numDevices() == 2 && dev()->isReceiving(0) && dev()->isReceiving(1); },
                        20000, 5);
        stopLoops();
        // Tracking reports come only while an input asks for them (operation 5):
        // with time this compressed, a module that tracks has a report due at
        // every read.
        for (int n = 0; n < dev()->numDevices(); ++n)
            dev()->SendCommand(nullptr, CMD_STOP_TRACKING, 0, n, false);
        for (const auto &info : bus.listDevices()) {
            std::unique_ptr<UsbAccess::Handle> h = bus.open(info.busIndex);
            std::string serial;
            if (!h || h->stringDescriptorAscii(info.serialIndex, serial, CamDevCtrl::kSerialBytes) < 0)
                continue;
            for (int m = 0; m < 2; ++m) {
                if (serial != modules[m]->serial())
                    continue;
                for (int n = 0; n < CamDevCtrl::kMaxDevices; ++n)
                    if (const char *s = dev()->serialNumber(n); s && serial == s)
                        slotOf[m] = n;
                readers[m] = std::move(h);
                break;
            }
        }
        return readers[0] && readers[1] && slotOf[0] >= 0 && slotOf[1] >= 0 && slotOf[0] != slotOf[1];
    }

    // The loops stay stopped: this thread is the only reader. The module keeps
    // its mode (tracking on), only the host's loops end.
    void stopLoops()
    {
        if (!dev()->isReceiving(0) && !dev()->isReceiving(1))
            return;
        dev()->DeleteThread();
        while (dev()->isReceiving(0) || dev()->isReceiving(1))
            Clock::sleepMs(10);
    }

    void askFrame(int slot)
    {
        if (framesLeft-- > 0)
            dev()->requestFrame(slot);
    }

    bool anyPending() const
    {
        for (const auto &m : modules)
            if (m->pending(sim::kEpIn) > 0 || m->pending(sim::kEpFrames) > 0)
                return true;
        return false;
    }

    // One read of each endpoint of each module that has a packet due, handed to
    // the receive step as a loop would. True when something was read.
    bool readRound(bool answersOnly = false)
    {
        bool any = false;
        PacketBuffer buf;
        for (int m = 0; m < 2; ++m) {
            for (uint8_t ep : {sim::kEpIn, sim::kEpFrames}) {
                if (answersOnly && ep != sim::kEpIn)
                    continue;
                if (budget <= 0)
                    return any;
                buf.fill(0);
                int n = 0;
                if (readers[m]->interruptRead(ep, buf.data(), kPacketSize, &n, -1) != 0)
                    continue;
                --budget;
                any = true;
                dev()->receiveTransfer(buf, n, slotOf[m]);
            }
        }
        return any;
    }

    // Reads until no module has anything queued (packets not yet due are waited
    // for in driver time) or the input's budget is spent.
    void pump()
    {
        while (budget > 0) {
            if (readRound())
                continue;
            if (!anyPending())
                break;
            passDriverTime(1);
        }
    }

    // Every input starts from empty endpoints and genuine answers: what is left
    // (a frame cut by the budget, late answers) is read away unhandled.
    void reset()
    {
        for (auto &m : modules) {
            m->setFaults({});
            // The module's log of what it was sent would grow for the whole run.
            m->clearReceived();
        }
        PacketBuffer buf;
        for (int round = 0; round < 4 * 481 && anyPending(); ++round) {
            bool any = false;
            for (auto &r : readers)
                for (uint8_t ep : {sim::kEpIn, sim::kEpFrames}) {
                    int n = 0;
                    any |= r->interruptRead(ep, buf.data(), kPacketSize, &n, -1) == 0;
                }
            if (!any)
                passDriverTime(1);
        }
        // Posted work of the receivers (deferred deletes, queued signals).
        QCoreApplication::processEvents();
        // Nothing the controller did may have started a loop beside this reader.
        if (dev()->isReceiving(0) || dev()->isReceiving(1)) {
            ++restarted;
            stopLoops();
        }
    }
};

World *g_world = nullptr;

void run(World &w, const uint8_t *data, size_t size)
{
    fuzz::Reader in(data, size);
    CamDevCtrl *d = w.dev();
    w.budget = kTransferBudget;
    const int state = in.u8() % 5;
    w.framesLeft = state == 1 ? kFrameBudget : 0;
    if (state == 1)
        w.askFrame(w.slotOf[in.u8() & 1]);
    else
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
            fuzz::commonOperation(op, target, in, *m, d, w.slotOf[target & 1], [&w](int slot) { w.askFrame(slot); });
            break;
        case 4:     // what is due now, read
            w.readRound();
            break;
        case 5: {   // the module tracks for a few report periods; its reports are read as they come
            const int slot = w.slotOf[target & 1];
            d->SendCommand(nullptr, CMD_START_TRACKING, 0, slot, false);
            for (int i = 0, n = in.u8() % 16; i < n; ++i) {
                passDriverTime(m->variant().timing.reportPeriodMs);
                w.readRound(true);
            }
            d->SendCommand(nullptr, CMD_STOP_TRACKING, 0, slot, false);
            break;
        }
        case 6:
            w.pump();
            break;
        }
    }
    w.pump();
    w.reset();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    auto *w = new World;
    // Nothing here waits for a thread: time may run so fast that every answer
    // is due by the time it is read (a read that waits still takes 1 ms).
    w->build(argc, argv, w->bus, 1e6);
    if (!w->connect()) {
        std::fprintf(stderr, "fuzz_receive_sync: the two modules did not connect\n");
        std::abort();
    }
    g_world = w;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    run(*g_world, data, size);
    return 0;
}
