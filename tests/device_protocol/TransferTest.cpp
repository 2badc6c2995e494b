// Auto-calibration images by groups with resend of missing runs, and the mask chain.
#include "Fixture.h"

#include "device/codec/Image.h"

#include <sys/mman.h>
#include <unistd.h>

using namespace tl;
using namespace tl::codec;
using namespace tl::test;
using sim::ModuleVariant;

namespace {

sim::PacketRule drop(int index)
{
    sim::PacketRule r;
    r.code = DAT_AC_IMAGE;
    r.index = index;
    r.fault = sim::PacketFault::Drop;
    return r;
}

// Pages of [p, p + n) that are in memory now.
int residentPages(const uint8_t *p, size_t n)
{
    const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const uintptr_t begin = reinterpret_cast<uintptr_t>(p) & ~(page - 1);
    const uintptr_t end = reinterpret_cast<uintptr_t>(p) + n;
    std::vector<unsigned char> in((end - begin + page - 1) / page);
    if (::mincore(reinterpret_cast<void *>(begin), end - begin, in.data()) != 0)
        return -1;
    int count = 0;
    for (unsigned char c : in)
        count += c & 1;
    return count;
}

} // namespace

class TransferTest : public DeviceTest
{
protected:
    // Fetches one image of `kind` through the receive loop; true when it arrived.
    bool fetch(uint8_t kind, int timeoutMs = 20000)
    {
        dev->StartRecvThread(0, 0);
        dev->sendAcImageRequest(kind, 0, 0);
        const bool ok = spinUntil([&] { return sig.get<size_t>([](SignalLog &s) { return s.acImages.size(); }) > 0; },
                                timeoutMs);
        dev->StopRecvThread();
        return ok;
    }
    std::vector<uint8_t> image()
    {
        return sig.get<std::vector<uint8_t>>([](SignalLog &s) { return s.acImages.at(0); });
    }
};

TEST_F(TransferTest, LosslessImageArrivesWhole)
{
    auto m = plug(ModuleVariant::calibrated("IMG"));
    ASSERT_TRUE(connectAll());
    ASSERT_TRUE(fetch(kImageBlack));
    EXPECT_EQ(sig.get<int>([](SignalLog &s) { return s.acImageSizes[0]; }), kAcImageBytes);
    EXPECT_EQ(image(), m->servedImage(kImageBlack));
    EXPECT_EQ(m->receivedCount(CMD_AC_SENDIMG), 81);      // groups 0..79 and the closing 80
    EXPECT_EQ(m->receivedCount(CMD_AC_SENDIMG_PART), 0);
    EXPECT_TRUE(logContains("ReceiveACProcHID: all done"));
}

// The two frame buffers are zero-filled but hold no memory until an image or a
// frame fills them: an idle driver keeps 7 MB less resident.
TEST_F(TransferTest, FrameBuffersHoldMemoryOnlyOnceFilled)
{
    auto m = plug(ModuleVariant::calibrated("IDLE"));
    ASSERT_TRUE(connectAll());
    for (int n = 0; n < 2; ++n)
        EXPECT_EQ(residentPages(dev->frameBuffer(n), kFrameBufferBytes), 0) << "frame buffer " << n;

    ASSERT_TRUE(fetch(kImageWhite));
    EXPECT_EQ(image(), m->servedImage(kImageWhite));
    EXPECT_GT(residentPages(dev->frameBuffer(0), kFrameBufferBytes), 0);
    EXPECT_EQ(residentPages(dev->frameBuffer(1), kFrameBufferBytes), 0);
    // Module 1's buffer reads as zeros all the same.
    const uint8_t *other = dev->frameBuffer(1);
    EXPECT_EQ(std::count(other, other + kFrameBufferBytes, 0), kFrameBufferBytes);

    // The next image is stored in the buffer cleared at its first group.
    sig.get<int>([](SignalLog &s) { s.acImages.clear(); return 0; });
    ASSERT_TRUE(fetch(kImageBlack));
    EXPECT_EQ(image(), m->servedImage(kImageBlack));
}

TEST_F(TransferTest, MissingPiecesAreAskedForByRuns)
{
    auto m = plug(ModuleVariant::calibrated("RUNS"));
    ASSERT_TRUE(connectAll());
    const int g = 7;
    sim::FaultPlan plan;
    for (int d : {3, 4, 5, 17})
        plan.packets.push_back(drop(g * 24 + d));
    m->setFaults(plan);
    ASSERT_TRUE(fetch(kImageWhite));
    EXPECT_TRUE(logContains("missed seq: num = 4, num_run = 2"));
    const auto parts = m->received(CMD_AC_SENDIMG_PART);
    ASSERT_EQ(parts.size(), 2u);
    auto req0 = decodeAcSendImgPart(parts[0].bytes.data() + 8, parts[0].length);
    auto req1 = decodeAcSendImgPart(parts[1].bytes.data() + 8, parts[1].length);
    ASSERT_TRUE(req0 && req1);
    EXPECT_EQ(req0->kind, kImageWhite);
    EXPECT_EQ(req0->first, g * 24 + 3);
    EXPECT_EQ(req0->last, g * 24 + 5);
    EXPECT_EQ(req1->first, g * 24 + 17);
    EXPECT_EQ(req1->last, g * 24 + 17);
    EXPECT_EQ(image(), m->servedImage(kImageWhite));
    const auto stats = dev->acStats();
    EXPECT_EQ(stats.resendRequests, 2);
    EXPECT_EQ(stats.resendRounds, 1);
    EXPECT_EQ(stats.missingPieces, 4);
}

TEST_F(TransferTest, LostResendsAreAskedForAgain)
{
    auto m = plug(ModuleVariant::calibrated("AGAIN"));
    ASSERT_TRUE(connectAll());
    sim::FaultPlan plan;
    plan.packets.push_back(drop(50));
    sim::PacketRule resend;
    resend.code = DAT_AC_IMAGE_PART;
    resend.index = 50;
    resend.times = 2;   // the first two resends of piece 50 are lost too
    plan.packets.push_back(resend);
    m->setFaults(plan);
    ASSERT_TRUE(fetch(kImagePattern));
    EXPECT_EQ(m->receivedCount(CMD_AC_SENDIMG_PART), 3);
    EXPECT_EQ(dev->acStats().resendRounds, 3);
    EXPECT_EQ(image(), m->servedImage(kImagePattern));
}

TEST_F(TransferTest, FivePercentLossStillGivesTheSameImage)
{
    auto m = plug(ModuleVariant::calibrated("LOSSY"));
    ASSERT_TRUE(connectAll());
    sim::FaultPlan plan;
    plan.pieceLoss = 0.05;
    plan.seed = 11;
    m->setFaults(plan);
    ASSERT_TRUE(fetch(kImagePattern, 60000));
    EXPECT_GT(m->stats().piecesLost, 50);
    EXPECT_GT(dev->acStats().resendRequests, 0);
    EXPECT_EQ(image(), m->servedImage(kImagePattern));
}

TEST_F(TransferTest, BadPieceIndexIsRefusedAndResent)
{
    auto m = plug(ModuleVariant::calibrated("BADIDX"));
    ASSERT_TRUE(connectAll());
    sim::FaultPlan plan;
    for (int v : {7680 * 4, -5, INT32_MAX}) {
        sim::PacketRule r;
        r.code = DAT_AC_IMAGE;
        r.index = 30 + (v < 0 ? 1 : v == INT32_MAX ? 2 : 0);
        r.fault = sim::PacketFault::SetIndex;
        r.value = v;
        plan.packets.push_back(r);
    }
    sim::PacketRule longLen;
    longLen.code = DAT_AC_IMAGE;
    longLen.index = 40;
    longLen.fault = sim::PacketFault::SetLength;
    longLen.value = 600;
    plan.packets.push_back(longLen);
    m->setFaults(plan);
    ASSERT_TRUE(fetch(kImageBlack));
    EXPECT_EQ(image(), m->servedImage(kImageBlack));
    EXPECT_GE(dev->acStats().refused, 1);
    EXPECT_TRUE(logContains("refused"));
}

TEST_F(TransferTest, UnplugDuringTheImageTransfer)
{
    auto m = plug(ModuleVariant::calibrated("UPULL"));
    ASSERT_TRUE(connectAll());
    sim::FaultPlan plan;
    plan.packets.push_back({DAT_AC_IMAGE, -1, 300, 0, 1, sim::PacketFault::Unplug, 0, {}});
    m->setFaults(plan);
    dev->StartRecvThread(0, 0);
    dev->sendAcImageRequest(kImageBlack, 0, 0);
    ASSERT_TRUE(spinUntil([&] { return !dev->isReceiving(0); }, 3000));
    EXPECT_EQ(sig.get<size_t>([](SignalLog &s) { return s.acImages.size(); }), 0u);
    dev->StopRecvThread();
    EXPECT_TRUE(dev->Close(0));
}

TEST_F(TransferTest, MaskChainEndsOnABadPartOrWhenItDoesNotAdvance)
{
    ModuleVariant v = ModuleVariant::calibrated("MASKF", 13);
    v.mask.assign(kMaskSize, 0x55);
    auto m = plug(v);
    ASSERT_TRUE(connectAll());

    dev->request_get_mask(0);
    EXPECT_EQ(m->receivedCount(CMD_GET_MASK), 58);
    EXPECT_EQ(dev->maskReceivedLength(), 28801);
    EXPECT_EQ(sig.get<std::vector<int>>([](SignalLog &s) { return s.maskLengths; }), std::vector<int>{28801});

    // Part 5 answers with index 60: the download ends there, without a signal.
    m->clearReceived();
    sim::FaultPlan bad;
    bad.packets.push_back({DAT_MASK, -1, 5, 0, 1, sim::PacketFault::SetIndex, 60, {}});
    m->setFaults(bad);
    dev->request_get_mask(0);
    EXPECT_EQ(m->receivedCount(CMD_GET_MASK), 6);
    EXPECT_EQ(sig.get<size_t>([](SignalLog &s) { return s.masks.size(); }), 1u);
    EXPECT_EQ(dev->maskReceivedLength(), 5 * 503);

    // Part 5 answers as part 2: asking on would go round in circles.
    m->clearReceived();
    sim::FaultPlan back;
    back.packets.push_back({DAT_MASK, -1, 5, 0, -1, sim::PacketFault::SetIndex, 2, {}});
    m->setFaults(back);
    dev->request_get_mask(0);
    EXPECT_EQ(m->receivedCount(CMD_GET_MASK), 6);
    EXPECT_TRUE(logContains("chain does not advance"));

    // A silent module ends the chain at the first part.
    m->clearReceived();
    sim::FaultPlan mute;
    mute.silent = true;
    m->setFaults(mute);
    dev->request_get_mask(0);
    EXPECT_EQ(m->receivedCount(CMD_GET_MASK), 1);
    dev->request_get_mask(58);
    dev->request_get_mask(-1);
    EXPECT_EQ(m->receivedCount(CMD_GET_MASK), 1);
}

TEST_F(TransferTest, DuplicatedMaskPartsNeverOverstateTheLength)
{
    ModuleVariant v = ModuleVariant::calibrated("MASKD", 13);
    v.mask.assign(kMaskSize, 0x11);
    auto m = plug(v);
    ASSERT_TRUE(connectAll());
    dev->request_get_mask(0);
    ASSERT_EQ(dev->maskReceivedLength(), kMaskSize);
    // Stray parts that arrive during another wait are handled, but each part
    // counts once: the signalled length never passes the record's size.
    for (int part : {57, 0, 57}) {
        auto pkt = buildMaskPart(part, v.mask.data(), kMaskSize);
        m->injectPacket(sim::kEpIn, std::vector<uint8_t>(pkt.begin(), pkt.end()));
    }
    EXPECT_TRUE(dev->requestEeprom(0));
    const auto lengths = sig.get<std::vector<int>>([](SignalLog &s) { return s.maskLengths; });
    ASSERT_EQ(lengths.size(), 3u);
    for (int len : lengths)
        EXPECT_EQ(len, kMaskSize);
}
