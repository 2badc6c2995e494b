// Whatever a module sends, the host reads and writes only inside its buffers,
// keeps running, and stays able to talk to the module afterwards.
#include "Fixture.h"

#include "device/codec/ByteIO.h"
#include "device/codec/Image.h"

#include <random>

using namespace tl;
using namespace tl::codec;
using namespace tl::test;
using sim::ModuleVariant;

namespace {

const int32_t kCodes[] = {DAT_VERSION, CMD_IIC_RD, DAT_IMG, DAT_IMGEND, RES_ACK, RES_NAK, RES_AC_BLACK_END,
                          RES_AC_WHITE_END, RES_AC_PATTERN_END, DAT_AC_IMAGE, DAT_AC_IMGEND, RES_AC_RESULT,
                          RES_MC_PATTERN_DONE, RES_MC_PATTERN_END, RES_MC_RESULT, RES_DEBUG, DAT_TC_IMAGE,
                          DAT_OPTION, DAT_EEPROM, DAT_TC_DUAL_MODE, DAT_AC_IMAGE_PART, RES_AC_READY_END,
                          DAT_MC_INPUT_POINT, DAT_AC_IMAGE_PART_END, DAT_MASK, 0, -1, 0x7FFFFFFF};

// One hostile packet: a known code or garbage, a length field near every
// boundary, piece and part indices that point anywhere, sometimes a short read.
std::vector<uint8_t> hostilePacket(std::mt19937 &rng)
{
    std::uniform_int_distribution<int> pick(0, 99);
    std::vector<uint8_t> b(512);
    for (auto &v : b)
        v = static_cast<uint8_t>(rng());
    ByteWriter w(b.data(), b.size());
    const int32_t code = pick(rng) < 90 ? kCodes[rng() % (sizeof kCodes / sizeof kCodes[0])] : int32_t(rng());
    static const int32_t lengths[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 16, 24, 44, 199, 200, 201, 400, 401,
                                      496, 503, 504, 505, 512, 1000, -1, -8, INT32_MIN, INT32_MAX};
    const int32_t length = pick(rng) < 80 ? lengths[rng() % (sizeof lengths / sizeof lengths[0])] : int32_t(rng());
    w.i32(code).i32(length);
    const int r = pick(rng);
    if (r < 30) {
        static const int32_t indices[] = {0, 23, 24, 1919, 1920, 7679, 7680, 100000, -1, INT32_MIN, INT32_MAX};
        w.i32(indices[rng() % (sizeof indices / sizeof indices[0])]);
        w.i32(pick(rng) < 50 ? kAcImageBytes : int32_t(rng()));
    } else if (r < 40) {
        b[8] = static_cast<uint8_t>(pick(rng) < 50 ? rng() % 58 : 58 + rng() % 198);
    }
    if (pick(rng) < 10)
        b.resize(rng() % 512);
    return b;
}

} // namespace

TEST_F(DeviceTest, HostilePacketsInEveryStateAreSurvived)
{
    ModuleVariant v = ModuleVariant::calibrated("FUZZ", 15);
    v.mask.assign(kMaskSize, 0x3C);
    auto m = plug(v);
    ASSERT_TRUE(connectAll());
    std::mt19937 rng(20240611);

    // Tracking and an image transfer running in the receive loop.
    dev->StartRecvThread(0, 0);
    dev->sendAcImageRequest(kImageBlack, 0, 0);
    for (int i = 0; i < 3000; ++i)
        m->injectPacket(sim::kEpIn, hostilePacket(rng));
    ASSERT_TRUE(spinUntil([&] { return m->pending(sim::kEpIn) == 0; }, 60000));
    dev->StopRecvThread();

    // The frame stream, on its own endpoint.
    dev->StartRecvThread(1, 0);
    for (int i = 0; i < 2000; ++i)
        m->injectPacket(sim::kEpFrames, hostilePacket(rng));
    ASSERT_TRUE(spinUntil([&] { return m->pending(sim::kEpFrames) == 0; }, 60000));
    dev->StopRecvThread();

    // Response waits, with the hostile packets queued in front of the answers.
    for (int round = 0; round < 40; ++round) {
        for (int i = 0; i < 20; ++i)
            m->injectPacket(sim::kEpIn, hostilePacket(rng));
        switch (round % 4) {
        case 0: dev->requestEeprom(0); break;
        case 1: dev->request_get_mask(0); break;
        case 2: dev->SendCommand(nullptr, CMD_SENDVERSION, 0, 0, true); break;
        default: dev->SendCommand(nullptr, CMD_SEND_OPTION, 0, 0, true); break;
        }
    }

    // The module's own answers mangled on the way: bytes flipped at random.
    sim::FaultPlan plan;
    sim::PacketRule flip;
    flip.code = 0;
    flip.times = -1;
    flip.fault = sim::PacketFault::Mutate;
    auto flipRng = std::make_shared<std::mt19937>(7);
    flip.mutate = [flipRng](std::vector<uint8_t> &bytes) {
        std::mt19937 &r = *flipRng;
        const int n = static_cast<int>(r() % 4);
        for (int i = 0; i < n && !bytes.empty(); ++i)
            bytes[r() % bytes.size()] ^= static_cast<uint8_t>(1u << (r() % 8));
    };
    plan.packets.push_back(flip);
    m->setFaults(plan);
    dev->requestEeprom(0);
    dev->request_get_mask(0);
    dev->StartRecvThread(0, 0);
    dev->sendAcImageRequest(kImagePattern, 0, 0);
    spinFor(5000);
    dev->StopRecvThread();

    // Nothing signalled ever claimed more than the buffer it pointed into.
    {
        std::lock_guard<std::mutex> lock(sig.mutex);
        for (int s : sig.frameSizes)
            EXPECT_TRUE(s >= 0 && s <= kFrameBufferBytes) << s;
        for (int s : sig.acImageSizes)
            EXPECT_TRUE(s > 0 && s <= kFrameBufferBytes) << s;
        for (int s : sig.maskLengths)
            EXPECT_TRUE(s >= 0 && s <= kMaskSize) << s;
        for (auto &mc : sig.mcNextStep)
            EXPECT_TRUE(mc.first >= 0 && mc.first <= 200) << mc.first;
    }
    {
        std::lock_guard<std::mutex> lock(sink.mutex);
        for (auto &p : sink.packets)
            EXPECT_EQ(p.first.size() % 6, 0u);
    }
    EXPECT_TRUE(logContains("refused"));

    // And the module can still be spoken to.
    m->setFaults({});
    while (m->pending(sim::kEpIn) > 0)
        dev->ResponseCommand(CMD_SEND_OPTION, 0);
    {
        std::lock_guard<std::mutex> lock(sig.mutex);
        sig.versions.clear();
    }
    EXPECT_TRUE(dev->SendCommand(nullptr, CMD_SENDVERSION, 0, 0, true));
    EXPECT_EQ(sig.get<QStringList>([](SignalLog &s) { return s.versions; }), QStringList{"40.15/0"});
}

TEST_F(DeviceTest, ShortEepromKeepsTheFlagAndTheLoopGoesOn)
{
    auto m = plug(ModuleVariant::calibrated("SHORT"));
    ASSERT_TRUE(connectAll());
    ASSERT_TRUE(dev->isCalibrated(0));
    sim::FaultPlan plan;
    plan.packets.push_back({DAT_EEPROM, -1, -1, 0, 1, sim::PacketFault::SetLength, 100, {}});
    m->setFaults(plan);
    EXPECT_TRUE(dev->requestEeprom(0));   // the answer came; its content was refused
    EXPECT_TRUE(logContains("DAT_EEPROM refused, length 100"));
    EXPECT_TRUE(dev->isCalibrated(0));
}

