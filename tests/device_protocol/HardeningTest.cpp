// A module that misbehaves: lock order between a response wait and a frame end,
// bounded waits for receive loops, truncated image pieces, the first frame
// request, the frame handed to the GUI thread, and a version answer too short
// to read.
#include "Fixture.h"
#include "tests/support/ForwardingUsb.h"

#include "device/codec/Image.h"
#include "sim/ImageSource.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <thread>

using namespace tl;
using namespace tl::codec;
using namespace tl::test;
using sim::ModuleVariant;

namespace {

// Runs `op` on its own thread and waits for it. A deadlock cannot be undone:
// after a minute of wall time the test binary stops with the hang reported.
template <class T>
T mustFinish(const char *what, std::function<T()> op)
{
    std::packaged_task<T()> task(std::move(op));
    std::future<T> f = task.get_future();
    std::thread t(std::move(task));
    if (f.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        std::fprintf(stderr, "HANG: %s never returned (deadlock)\n", what);
        std::fflush(stderr);
        std::_Exit(3);
    }
    t.join();
    return f.get();
}

std::vector<uint8_t> packet(int32_t code, int32_t length = 0)
{
    PacketBuffer b = makePacket(code);
    std::memcpy(b.data() + 4, &length, 4);
    return std::vector<uint8_t>(b.begin(), b.end());
}

size_t frameCount(SignalLog &sig)
{
    return sig.get<size_t>([](SignalLog &s) { return s.frames.size(); });
}

// A bus whose handles hold up the first call a receive loop makes, so that the
// loop starts only after StartRecvThread has sent its first frame request.
class LateLoopBus : public ForwardingUsb
{
public:
    using ForwardingUsb::ForwardingUsb;

protected:
    std::unique_ptr<Handle> wrap(std::unique_ptr<Handle> opened) override
    {
        return std::make_unique<LateHandle>(std::move(opened));
    }

private:
    class LateHandle : public ForwardingHandle
    {
    public:
        using ForwardingHandle::ForwardingHandle;
        int touchConfigDescriptor() override
        {
            // The loop's first call on its pool thread; the GUI thread is never held.
            if (QThread::currentThread() != QCoreApplication::instance()->thread() && !m_held.exchange(true))
                Clock::sleepMs(1500);
            return ForwardingHandle::touchConfigDescriptor();
        }

    private:
        std::atomic<bool> m_held{false};
    };
};

} // namespace

class HardeningTest : public DeviceTest
{
protected:
    // Display mode with the module's own frames switched off: the test feeds the
    // frame endpoint itself.
    void startQuietDisplay(const std::shared_ptr<sim::EmulatedModule> &m)
    {
        sim::FaultPlan plan;
        plan.commands.push_back({CMD_SENDFRM_MONO, 0, -1, sim::CommandFault::Ignore, 0});
        m->setFaults(plan);
        dev->StartRecvThread(1, 0);
    }
    void expectGainWrittenOnce(const std::shared_ptr<sim::EmulatedModule> &m)
    {
        EXPECT_EQ(m->registerLog(), (std::vector<RegisterWrite>{{0x350A, 0x12}, {0x350B, 0x34}}));
        EXPECT_TRUE(dev->pendingRegisterWrites(0).empty());
    }
    bool fetch(uint8_t kind)
    {
        dev->StartRecvThread(0, 0);
        dev->sendAcImageRequest(kind, 0, 0);
        const bool ok = spinUntil([&] { return sig.get<size_t>([](SignalLog &s) { return s.acImages.size(); }) > 0; },
                                20000);
        dev->StopRecvThread();
        return ok;
    }
};

// The response wait holds the send mutex first and meets a frame end; the
// display loop is already flushing the queued gain writes of that frame end.
TEST_F(HardeningTest, FrameEndInAResponseWaitWhileTheLoopFlushesNeverDeadlocks)
{
    auto m = plug(ModuleVariant::calibrated("LOCKA"));
    ASSERT_TRUE(connectAll());
    startQuietDisplay(m);
    m->clearReceived();
    dev->addGainRegisters(0x1234, 0);
    // Order 1: the loop holds the register queue between its two writes when the
    // response wait reads a frame end.
    Clock::setCompression(1);
    m->injectPacket(sim::kEpFrames, packet(DAT_IMGEND));
    ASSERT_TRUE(m->waitForReceived(CMD_IIC_WR, 1, 5000));
    m->injectPacket(sim::kEpIn, packet(DAT_IMGEND));
    EXPECT_TRUE(mustFinish<bool>("requestEeprom (loop first)", [&] { return dev->requestEeprom(0); }));
    ASSERT_TRUE(spinUntil([&] { return m->registerLog().size() >= 2; }, 10000));
    expectGainWrittenOnce(m);
    dev->StopRecvThread();
}

TEST_F(HardeningTest, LoopFrameEndWhileTheResponseWaitHoldsTheModuleNeverDeadlocks)
{
    auto m = plug(ModuleVariant::calibrated("LOCKB"));
    ASSERT_TRUE(connectAll());
    startQuietDisplay(m);
    m->clearReceived();
    dev->addGainRegisters(0x1234, 0);
    // Order 2: the response wait is waiting when the loop reads its frame end,
    // and reads its own frame end while the loop wants to write.
    Clock::setCompression(5);
    m->injectPacket(sim::kEpFrames, packet(DAT_IMGEND), 300);
    m->injectPacket(sim::kEpIn, packet(DAT_IMGEND), 600);
    EXPECT_TRUE(mustFinish<bool>("requestEeprom (wait first)", [&] { return dev->requestEeprom(0); }));
    ASSERT_TRUE(spinUntil([&] { return m->registerLog().size() >= 2; }, 10000));
    expectGainWrittenOnce(m);
    dev->StopRecvThread();
}

// A module that keeps talking after the stop (a packet every 400 ms, each inside
// the drain's read time-out) must not hold the GUI thread until it is done.
TEST_F(HardeningTest, ChattyModuleCannotHoldCloseUpdateOrTheDestructor)
{
    auto m = plug(ModuleVariant::calibrated("CHAT"));
    ASSERT_TRUE(connectAll());
    Clock::setCompression(200);
    startQuietDisplay(m);
    auto chatter = [&] {
        for (int i = 0; i < 1000; ++i)
            m->injectPacket(sim::kEpFrames, packet(RES_DEBUG), 400 * (i + 1));
    };
    chatter();
    EXPECT_TRUE(dev->Close(0));
    EXPECT_FALSE(dev->isReceiving(0));
    EXPECT_EQ(m->openHandles(), 0);
    EXPECT_GT(m->pending(sim::kEpFrames), 900);

    // The same through UpdateCameraInfo and through the destructor.
    bus.unplug(m);
    bus.replug(m);
    ASSERT_TRUE(connectAll());
    startQuietDisplay(m);
    chatter();
    EXPECT_EQ(dev->UpdateCameraInfo(), 1);
    EXPECT_FALSE(dev->isReceiving(0));
    EXPECT_GT(m->pending(sim::kEpFrames), 900);

    ASSERT_TRUE(dev->openDevices());
    startQuietDisplay(m);
    chatter();
    dev.reset();
    EXPECT_EQ(m->openHandles(), 0);
    EXPECT_GT(m->pending(sim::kEpFrames), 900);
}

// A piece cut short on the wire is not in the image: it is asked for again.
TEST_F(HardeningTest, TruncatedPiecesAreAskedForAgain)
{
    auto m = plug(ModuleVariant::calibrated("TRUNC"));
    ASSERT_TRUE(connectAll());
    const int piece = 7 * 24 + 3;
    sim::FaultPlan plan;
    plan.packets.push_back({DAT_AC_IMAGE, -1, piece, 0, 1, sim::PacketFault::Truncate, 300, {}});
    // A second piece is lost, and its resend comes back cut short once.
    plan.packets.push_back({DAT_AC_IMAGE, -1, piece + 30, 0, 1, sim::PacketFault::Drop, 0, {}});
    plan.packets.push_back({DAT_AC_IMAGE_PART, -1, piece + 30, 0, 1, sim::PacketFault::Truncate, 200, {}});
    m->setFaults(plan);
    ASSERT_TRUE(fetch(kImageBlack));
    EXPECT_EQ(sig.get<std::vector<uint8_t>>([](SignalLog &s) { return s.acImages.at(0); }),
              m->servedImage(kImageBlack));
    const auto stats = dev->acStats();
    EXPECT_EQ(stats.missingPieces, 3);    // the cut piece, the lost one, its cut resend
    EXPECT_EQ(stats.resendRequests, 3);
}

// StartRecvThread asks for the first frame right after starting the loop; a loop
// that starts late must not forget that request, or a lost first frame is never
// asked for again.
TEST_F(HardeningTest, LateLoopStartKeepsTheFirstFrameRequestTimed)
{
    auto m = plug(ModuleVariant::calibrated("LATE"));
    LateLoopBus late(bus);
    dev = std::make_unique<CamDevCtrl>(settings.get(), &late);
    QObject::connect(dev.get(), &CamDevCtrl::sigSetFWVersion, dev.get(),
                     [this](QString v, int n) { settings->setDeviceFwVersion(n, v); }, Qt::DirectConnection);
    QObject::connect(dev.get(), &CamDevCtrl::sigNewFrame, dev.get(), [this](unsigned char *buf, int size, int) {
        std::lock_guard<std::mutex> lock(sig.mutex);
        sig.frames.emplace_back(buf, buf + std::min(size, kFrameBytes));
    }, Qt::DirectConnection);
    ASSERT_EQ(dev->UpdateCameraInfo(), 1);
    ASSERT_TRUE(dev->openDevices());
    sim::FaultPlan plan;
    plan.commands.push_back({CMD_SENDFRM_MONO, 0, 1, sim::CommandFault::Ignore, 0});   // the first is lost
    m->setFaults(plan);
    dev->StartRecvThread(1, 0);
    EXPECT_TRUE(spinUntil([&] { return frameCount(sig) >= 1; }, 20000));
    EXPECT_GE(m->receivedCount(CMD_SENDFRM_MONO), 2);
    dev->StopRecvThread();
    dev.reset();   // before the bus wrapper goes
}

// The frame the GUI thread was told about stays as it was until the GUI thread
// asks for the next one, even when the module sends another frame meanwhile.
TEST_F(HardeningTest, ShownFrameIsNotOverwrittenBeforeTheNextRequest)
{
    auto m = plug(ModuleVariant::calibrated("SHOWN"));
    ASSERT_TRUE(connectAll());
    QObject gui;
    std::vector<std::vector<uint8_t>> shown;
    QObject::connect(dev.get(), &CamDevCtrl::sigNewFrame, &gui, [&](unsigned char *buf, int size, int) {
        shown.emplace_back(buf, buf + size);
    }, Qt::QueuedConnection);
    // Reversed, as the driver asks a short-throw module: its frames come upright.
    dev->StartRecvThread(1, 1);
    // Wait without handling events: the GUI thread is busy elsewhere.
    sleepUntil([&] { return frameCount(sig) >= 1; }, 20000, 1);
    ASSERT_EQ(frameCount(sig), 1u);
    // An unrequested frame of other bytes.
    std::vector<uint8_t> other(kFrameBytes, 0xA5);
    for (int i = 0; i < piecesForImage(kFrameBytes); ++i) {
        const PacketBuffer b = buildImagePiece(DAT_IMG, i, other.data(), kFrameBytes);
        m->injectPacket(sim::kEpFrames, std::vector<uint8_t>(b.begin(), b.end()));
    }
    m->injectPacket(sim::kEpFrames, packet(DAT_IMGEND));
    sleepUntil([&] { return m->pending(sim::kEpFrames) == 0; }, 20000, 1);
    // The loop has read the whole second frame; give its frame end a moment.
    sleepUntil([&] { return frameCount(sig) >= 2 || logContains("frame not taken yet"); }, 1000, 5);
    QCoreApplication::processEvents();
    ASSERT_GE(shown.size(), 1u);
    EXPECT_EQ(shown[0], sim::TestPatternSource::frameFor(0));
    // The next request brings a fresh frame, as always.
    const size_t before = frameCount(sig);
    dev->requestFrame(0);
    EXPECT_TRUE(spinUntil([&] { return frameCount(sig) > before; }, 10000));
    dev->StopRecvThread();
}

// A version answer too short to read is no answer: the module is not opened
// with an unknown firmware text.
TEST_F(HardeningTest, ShortVersionAnswerIsNoAnswer)
{
    auto m = plug(ModuleVariant::calibrated("SHORTV"));
    sim::FaultPlan plan;
    plan.packets.push_back({DAT_VERSION, -1, -1, 0, -1, sim::PacketFault::SetLength, 1, {}});
    m->setFaults(plan);
    CamDevCtrl &d = device();
    ASSERT_EQ(d.UpdateCameraInfo(), 1);
    EXPECT_FALSE(d.openDevices());
    EXPECT_EQ(m->receivedCount(CMD_SENDVERSION), 3);
    EXPECT_TRUE(sig.get<QStringList>([](SignalLog &s) { return s.versions; }).isEmpty());

    // One short answer, then a good one: opened with the module's real version.
    auto n = plug(ModuleVariant::calibrated("SHORT1"));
    bus.unplug(m);
    plan.packets[0].times = 1;
    n->setFaults(plan);
    ASSERT_EQ(d.UpdateCameraInfo(), 1);
    EXPECT_TRUE(d.openDevices());
    EXPECT_EQ(n->receivedCount(CMD_SENDVERSION), 2);
    EXPECT_EQ(sig.get<QStringList>([](SignalLog &s) { return s.versions; }).size(), 1);
}
