// Faults behave exactly as configured: refused, ignored, slow, silent, lost,
// doubled, corrupted and malformed packets, failing writes and unplugs in the
// middle of an exchange.

#include "RawHost.h"

#include <atomic>
#include <thread>

namespace tl::sim::test {
namespace {

using namespace tl::codec;

class FaultTest : public SimTest
{
protected:
    std::shared_ptr<EmulatedModule> plugOne(EmulatedBus &bus, const FaultPlan &plan,
                                            ModuleVariant v = ModuleVariant::calibrated("A"))
    {
        auto m = bus.plug(v);
        m->setFaults(plan);
        return m;
    }
};

TEST_F(FaultTest, NakRefusesOnlyTheChosenCommandAndOnlyAsOftenAsAsked)
{
    EmulatedBus bus;
    FaultPlan plan;
    plan.commands.push_back({CMD_GET_EEPROM, 1, 2, CommandFault::Nak, 0});
    plugOne(bus, plan);
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    std::vector<int32_t> answers;
    for (int i = 0; i < 4; ++i) {
        host.send(CMD_GET_EEPROM);
        const Rx rx = host.read();
        answers.push_back(rx.code());
        if (rx.code() == RES_NAK) {
            EXPECT_EQ(rx.payloadI32(0), CMD_GET_EEPROM);
        }
    }
    EXPECT_EQ(answers, (std::vector<int32_t>{DAT_EEPROM, RES_NAK, RES_NAK, DAT_EEPROM}));
    host.send(CMD_SENDVERSION);
    EXPECT_EQ(host.read().code(), DAT_VERSION);
}

TEST_F(FaultTest, IgnoredCommandIsLoggedButNotCarriedOut)
{
    EmulatedBus bus;
    FaultPlan plan;
    plan.commands.push_back({CMD_SENDVERSION, 0, -1, CommandFault::Ignore, 0});
    auto m = plugOne(bus, plan);
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    for (int attempt = 0; attempt < 3; ++attempt) {
        host.send(CMD_SENDVERSION);
        EXPECT_EQ(host.read(0x83, 1000).rc, LIBUSB_ERROR_TIMEOUT);
    }
    EXPECT_EQ(m->receivedCount(CMD_SENDVERSION), 3);
    EXPECT_EQ(m->stats().ignored, 3);
    host.send(CMD_SEND_OPTION);
    EXPECT_EQ(host.read().code(), DAT_OPTION);
}

TEST_F(FaultTest, SilentModuleAnswersNothingUntilItSpeaksAgain)
{
    EmulatedBus bus;
    FaultPlan plan;
    plan.silent = true;
    auto m = plugOne(bus, plan);
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    EXPECT_EQ(host.send(CMD_SENDVERSION), 512);
    host.sendI32(CMD_SET_TRANSFER_MODE, 2);
    host.send(CMD_START_TRACKING);
    EXPECT_EQ(host.read(0x83, 500).rc, LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(host.read(0x84, 100).rc, LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(m->receivedCount(CMD_START_TRACKING), 1);
    EXPECT_FALSE(m->tracking() && m->transferMode() == 2);

    m->setFaults(FaultPlan{});
    host.send(CMD_SENDVERSION);
    EXPECT_EQ(host.read().code(), DAT_VERSION);
}

TEST_F(FaultTest, SlowAnswersArriveAfterTheDelay)
{
    EmulatedBus bus;
    FaultPlan plan;
    plan.answerDelayMs = 1500;
    plan.commands.push_back({CMD_SEND_OPTION, 0, -1, CommandFault::Delay, 3000});
    plugOne(bus, plan);
    RawHost host(bus);
    ASSERT_TRUE(host.open());

    qint64 t0 = Clock::nowMs();
    host.send(CMD_SENDVERSION);
    // A 1000 ms wait is too short for a module 1.5 s late.
    EXPECT_EQ(host.read(0x83, 1000).rc, LIBUSB_ERROR_TIMEOUT);
    const Rx ver = host.read(0x83, 1000);
    EXPECT_EQ(ver.code(), DAT_VERSION);
    EXPECT_GE(Clock::nowMs() - t0, 1500);

    t0 = Clock::nowMs();
    host.send(CMD_SEND_OPTION);
    EXPECT_EQ(host.readUntil(DAT_OPTION, 0x83, 5000).rc, 0);
    EXPECT_GE(Clock::nowMs() - t0, 4500);
}

TEST_F(FaultTest, DuplicatedAndCorruptedPiecesLookLikeTheRealThing)
{
    EmulatedBus bus;
    FaultPlan plan;
    PacketRule dup;
    dup.code = DAT_AC_IMAGE;
    dup.index = 2;
    dup.fault = PacketFault::Duplicate;
    PacketRule bad;
    bad.code = DAT_AC_IMAGE;
    bad.index = 4;
    bad.fault = PacketFault::Corrupt;
    plan.packets = {dup, bad};
    auto m = plugOne(bus, plan);
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    const auto req = encodeAcSendImg(kImageBlack, 0);
    host.send(CMD_AC_SENDIMG, req.data(), 2);
    std::vector<Rx> pieces;
    ASSERT_EQ(host.readUntil(DAT_AC_IMGEND, 0x83, 1000, &pieces).rc, 0);
    ASSERT_EQ(pieces.size(), 25u);
    EXPECT_EQ(pieces[2].payloadI32(0), 2);
    EXPECT_EQ(pieces[3].payloadI32(0), 2);
    EXPECT_EQ(pieces[2].buf, pieces[3].buf);

    const std::vector<uint8_t> img = m->servedImage(kImageBlack);
    ImagePiece p;
    ASSERT_EQ(parseImagePiece(pieces[5].view(), p), PieceError::None);
    EXPECT_EQ(p.index, 4);
    EXPECT_EQ(p.totalSize, kAcImageBytes);
    ASSERT_EQ(p.dataLen, 496);
    for (int i = 0; i < p.dataLen; ++i)
        ASSERT_EQ(p.data[i], static_cast<uint8_t>(~img[static_cast<size_t>(pieceOffset(4) + i)])) << i;
    EXPECT_EQ(m->stats().packetsDuplicated, 1);
    EXPECT_EQ(m->stats().packetsCorrupted, 1);
}

TEST_F(FaultTest, MalformedPacketsCarryExactlyTheBadField)
{
    EmulatedBus bus;
    FaultPlan plan;
    PacketRule longLen;
    longLen.code = DAT_VERSION;
    longLen.fault = PacketFault::SetLength;
    longLen.value = 600;
    PacketRule negLen = longLen;
    negLen.skip = 1;
    negLen.value = -1;
    PacketRule farPiece;
    farPiece.code = DAT_AC_IMAGE;
    farPiece.index = 0;
    farPiece.fault = PacketFault::SetIndex;
    farPiece.value = 0x7FFFFFFF;
    PacketRule farPart;
    farPart.code = DAT_MASK;
    farPart.fault = PacketFault::SetIndex;
    farPart.value = 99;
    PacketRule shortEeprom;
    shortEeprom.code = DAT_EEPROM;
    shortEeprom.fault = PacketFault::SetLength;
    shortEeprom.value = 100;
    PacketRule oddTracking;
    oddTracking.code = DAT_TC_DUAL_MODE;
    oddTracking.fault = PacketFault::SetLength;
    oddTracking.value = 7;
    PacketRule cut;
    cut.code = DAT_OPTION;
    cut.fault = PacketFault::Truncate;
    cut.value = 6;
    plan.packets = {longLen, negLen, farPiece, farPart, shortEeprom, oddTracking, cut};
    auto m = plugOne(bus, plan);
    m->setPenScript(scriptFromCycles({{{10, 20, 30}}}));
    RawHost host(bus);
    ASSERT_TRUE(host.open());

    host.send(CMD_SENDVERSION);
    EXPECT_EQ(host.read().length(), 600);
    host.send(CMD_SENDVERSION);
    EXPECT_EQ(host.read().length(), -1);
    host.send(CMD_SENDVERSION);
    EXPECT_EQ(host.read().length(), 2);

    const auto req = encodeAcSendImg(kImageBlack, 0);
    host.send(CMD_AC_SENDIMG, req.data(), 2);
    Rx first = host.read();
    EXPECT_EQ(first.code(), DAT_AC_IMAGE);
    EXPECT_EQ(first.payloadI32(0), 0x7FFFFFFF);
    EXPECT_EQ(host.readUntil(DAT_AC_IMGEND).rc, 0);

    const uint8_t part = 3;
    host.send(CMD_GET_MASK, &part, 1);
    Rx mask = host.read();
    EXPECT_EQ(mask.code(), DAT_MASK);
    EXPECT_EQ(mask.payload()[0], 99);

    host.send(CMD_GET_EEPROM);
    EXPECT_EQ(host.read().length(), 100);

    host.send(CMD_SEND_OPTION);
    Rx opt = host.read();
    EXPECT_EQ(opt.rc, 0);
    EXPECT_EQ(opt.n, 6);

    host.sendI32(CMD_SET_TRANSFER_MODE, 2);
    host.send(CMD_START_TRACKING);
    ASSERT_EQ(host.read().code(), RES_ACK);
    Rx report = host.read();
    EXPECT_EQ(report.code(), DAT_TC_DUAL_MODE);
    EXPECT_EQ(report.length(), 7);
    EXPECT_EQ(m->stats().packetsMalformed, 7);
}

TEST_F(FaultTest, MutateAndInjectGiveArbitraryBytes)
{
    EmulatedBus bus;
    FaultPlan plan;
    PacketRule mutate;
    mutate.code = DAT_VERSION;
    mutate.fault = PacketFault::Mutate;
    mutate.mutate = [](std::vector<uint8_t> &b) { b.resize(3); };
    plan.packets = {mutate};
    auto m = plugOne(bus, plan);
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    host.send(CMD_SENDVERSION);
    EXPECT_EQ(host.read().n, 3);

    m->injectPacket(0x84, {0xDE, 0xAD});
    std::vector<uint8_t> big(600, 0x55);
    m->injectPacket(0x83, big);
    const Rx a = host.read(0x84);
    EXPECT_EQ(a.n, 2);
    EXPECT_EQ(a.buf[0], 0xDE);
    const Rx b = host.read(0x83);
    EXPECT_EQ(b.n, 512);  // nothing longer than a packet leaves the module
}

TEST_F(FaultTest, UnplugAfterNPacketsCutsAnImageTransfer)
{
    EmulatedBus bus;
    FaultPlan plan;
    plan.unplugAfterSent = 10;
    auto m = plugOne(bus, plan);
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    const auto req = encodeAcSendImg(kImageBlack, 0);
    host.send(CMD_AC_SENDIMG, req.data(), 2);
    int read = 0;
    Rx rx;
    while ((rx = host.read()).rc == 0)
        ++read;
    EXPECT_EQ(read, 10);
    EXPECT_EQ(rx.rc, LIBUSB_ERROR_NO_DEVICE);
    EXPECT_FALSE(m->plugged());
    EXPECT_TRUE(bus.listDevices().empty());
}

TEST_F(FaultTest, UnplugRuleOnAChosenPiece)
{
    EmulatedBus bus;
    FaultPlan plan;
    PacketRule pull;
    pull.code = DAT_IMG;
    pull.index = 100;
    pull.fault = PacketFault::Unplug;
    plan.packets = {pull};
    auto m = plugOne(bus, plan);
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    host.send(CMD_SENDFRM_MONO);
    int read = 0;
    Rx rx;
    while ((rx = host.read(0x84)).rc == 0)
        ++read;
    EXPECT_EQ(read, 100);
    EXPECT_EQ(rx.rc, LIBUSB_ERROR_NO_DEVICE);
    EXPECT_FALSE(m->plugged());
}

TEST_F(FaultTest, UnplugOnAChosenCommandBeforeOrAfterIt)
{
    EmulatedBus bus;
    FaultPlan before;
    before.commands.push_back({CMD_GET_EEPROM, 0, 1, CommandFault::UnplugBefore, 0});
    auto a = plugOne(bus, before);
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    host.send(CMD_SENDVERSION);
    EXPECT_EQ(host.read().code(), DAT_VERSION);
    EXPECT_EQ(host.send(CMD_GET_EEPROM), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_FALSE(a->plugged());

    FaultPlan after;
    after.commands.push_back({CMD_START_TRACKING, 0, 1, CommandFault::UnplugAfter, 0});
    auto b = bus.plug(ModuleVariant::calibrated("B"));
    b->setFaults(after);
    RawHost host2(bus);
    ASSERT_TRUE(host2.open());
    EXPECT_EQ(host2.send(CMD_START_TRACKING), 512);
    EXPECT_TRUE(b->tracking());
    EXPECT_EQ(host2.read().rc, LIBUSB_ERROR_NO_DEVICE);
}

TEST_F(FaultTest, UnplugAfterReceivingNPackets)
{
    EmulatedBus bus;
    FaultPlan plan;
    plan.unplugAfterReceived = 30;
    auto m = plugOne(bus, plan);
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    const std::vector<uint8_t> mask(kMaskSize, 1);
    const auto fragments = buildFragments(CMD_SET_MASK, mask.data(), kMaskSize);
    int written = 0;
    for (const PacketBuffer &f : fragments) {
        if (host.write(f) != 512)
            break;
        ++written;
    }
    EXPECT_EQ(written, 30);
    EXPECT_FALSE(m->plugged());
    EXPECT_EQ(m->stats().maskUploads, 0);
}

TEST_F(FaultTest, FailingAndStalledWrites)
{
    EmulatedBus bus;
    FaultPlan plan;
    plan.failWrites = 1;
    plan.stallWrites = 1;
    auto m = plugOne(bus, plan);
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    // The stall comes first: the write runs into its time-out.
    const qint64 t0 = Clock::nowMs();
    EXPECT_EQ(host.send(CMD_SENDVERSION), LIBUSB_ERROR_TIMEOUT);
    EXPECT_GE(Clock::nowMs() - t0, 990);
    EXPECT_EQ(host.send(CMD_SENDVERSION), LIBUSB_ERROR_IO);
    EXPECT_EQ(host.send(CMD_SENDVERSION), 512);
    EXPECT_EQ(host.read().code(), DAT_VERSION);
    EXPECT_EQ(m->receivedCount(CMD_SENDVERSION), 1);
}

TEST_F(FaultTest, UnplugDuringAStalledWriteEndsIt)
{
    EmulatedBus bus;
    FaultPlan plan;
    plan.stallWrites = 1;
    auto m = plugOne(bus, plan);
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    std::atomic<int> rc{1};
    std::thread writer([&] {
        int n = 0;
        const PacketBuffer p = makePacket(CMD_SENDVERSION);
        rc = host.handle().bulkWrite(0x03, p.data(), 512, &n, 600000);
    });
    Clock::sleepMs(100);
    bus.unplug(m);
    writer.join();
    EXPECT_EQ(rc.load(), LIBUSB_ERROR_NO_DEVICE);
}

TEST_F(FaultTest, ReaderAndWriterThreadsShareAModule)
{
    // The host reads reports on one thread while another sends commands; every
    // answer arrives exactly once.
    EmulatedBus bus;
    auto m = bus.plug(ModuleVariant::calibrated("A"));
    m->setPenScript(scriptFromCycles({{{1, 2, 3}}}, true));
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    host.sendI32(CMD_SET_TRANSFER_MODE, 2);
    host.send(CMD_START_TRACKING);
    std::atomic<bool> stop{false};
    std::atomic<int> versions{0};
    std::atomic<int> reports{0};
    std::thread reader([&] {
        while (!stop) {
            const Rx rx = host.read(0x83, 200);
            if (rx.rc != 0)
                continue;
            if (rx.code() == DAT_VERSION)
                ++versions;
            if (rx.code() == DAT_TC_DUAL_MODE)
                ++reports;
        }
    });
    for (int i = 0; i < 50; ++i) {
        host.send(CMD_SENDVERSION);
        Clock::sleepMs(5);
    }
    Clock::sleepMs(200);
    stop = true;
    reader.join();
    EXPECT_EQ(versions.load(), 50);
    EXPECT_GT(reports.load(), 0);
}

} // namespace
} // namespace tl::sim::test
