// Answers that come twice or that nobody asked for: a command carried out
// twice, and packets a module sends of its own accord when a command arrives.

#include "RawHost.h"

namespace tl::sim::test {
namespace {

using namespace tl::codec;

class AnswerFaultTest : public SimTest
{
};

TEST_F(AnswerFaultTest, RepeatedCommandAnswersTwiceOnlyWhenMatched)
{
    EmulatedBus bus;
    FaultPlan plan;
    plan.commands.push_back({CMD_SENDVERSION, 1, 1, CommandFault::Repeat, 0});
    auto m = bus.plug(ModuleVariant::calibrated("A"));
    m->setFaults(plan);
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    std::vector<int32_t> codes;
    for (int i = 0; i < 3; ++i) {
        host.send(CMD_SENDVERSION);
        host.send(CMD_SEND_OPTION);
    }
    for (Rx rx = host.read(0x83, 500); rx.rc == 0; rx = host.read(0x83, 500))
        codes.push_back(rx.code());
    // Only the second version request is carried out twice.
    EXPECT_EQ(codes, (std::vector<int32_t>{DAT_VERSION, DAT_OPTION, DAT_VERSION, DAT_VERSION, DAT_OPTION,
                                           DAT_VERSION, DAT_OPTION}));
    EXPECT_EQ(m->stats().commandsRepeated, 1);
}

TEST_F(AnswerFaultTest, ImageGroupServedTwiceComesWholeTwice)
{
    EmulatedBus bus;
    FaultPlan plan;
    plan.commands.push_back({CMD_AC_SENDIMG, 0, -1, CommandFault::Repeat, 0});
    auto m = bus.plug(ModuleVariant::calibrated("A"));
    m->setFaults(plan);
    RawHost host(bus);
    ASSERT_TRUE(host.open());
    const uint8_t request[2] = {101, 0};
    host.send(CMD_AC_SENDIMG, request, 2);
    int pieces = 0, ends = 0;
    for (Rx rx = host.read(0x83, 500); rx.rc == 0; rx = host.read(0x83, 500)) {
        pieces += rx.code() == DAT_AC_IMAGE;
        ends += rx.code() == DAT_AC_IMGEND;
    }
    EXPECT_EQ(pieces, 2 * kGroupPieces);
    EXPECT_EQ(ends, 2);
    EXPECT_EQ(m->stats().groupsServed, 2);
}

TEST_F(AnswerFaultTest, ExtraPacketsFollowTheirCommandEvenWhenItIsIgnored)
{
    EmulatedBus bus;
    FaultPlan plan;
    // The upload is dropped, yet acknowledged.
    plan.commands.push_back({CMD_SET_CALIB_PARAMETER, 0, 1, CommandFault::Ignore, 0});
    ExtraPacketRule ack;
    ack.onCommand = CMD_SET_CALIB_PARAMETER;
    ack.code = RES_AC_READY_END;
    plan.extras.push_back(ack);
    // The second version request also brings a capture end with a payload.
    ExtraPacketRule end;
    end.onCommand = CMD_SENDVERSION;
    end.skip = 1;
    end.code = RES_AC_PATTERN_END;
    end.payload = {1, 2, 3};
    plan.extras.push_back(end);
    auto m = bus.plug(ModuleVariant::blank("A"));
    m->setFaults(plan);
    RawHost host(bus);
    ASSERT_TRUE(host.open());

    std::vector<uint8_t> block(370, 0);
    host.send(CMD_SET_CALIB_PARAMETER, block.data(), static_cast<int>(block.size()));
    EXPECT_EQ(host.read().code(), RES_AC_READY_END);
    EXPECT_FALSE(m->lastCalibration().has_value());
    EXPECT_EQ(m->stats().calibrationUploads, 0);

    host.send(CMD_SENDVERSION);
    EXPECT_EQ(host.read().code(), DAT_VERSION);
    EXPECT_EQ(host.read(0x83, 300).rc, LIBUSB_ERROR_TIMEOUT);
    host.send(CMD_SENDVERSION);
    EXPECT_EQ(host.read().code(), DAT_VERSION);
    const Rx extra = host.read();
    EXPECT_EQ(extra.code(), RES_AC_PATTERN_END);
    EXPECT_EQ(extra.length(), 3);
    EXPECT_EQ(extra.payload()[2], 3);
    // Each rule fires as often as it was told: once.
    host.send(CMD_SENDVERSION);
    EXPECT_EQ(host.read().code(), DAT_VERSION);
    EXPECT_EQ(host.read(0x83, 300).rc, LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(m->stats().extraPackets, 2);
}

} // namespace
} // namespace tl::sim::test
