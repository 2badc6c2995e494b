// The fault plan on its own, without a module around it: what it makes of
// commands, of outgoing packets and of writes, and that a new plan starts its
// counters afresh.

#include "device/codec/Commands.h"
#include "device/codec/Packet.h"
#include "sim/AnswerFaults.h"
#include "sim/ModuleStats.h"

#include <gtest/gtest.h>

namespace tl::sim::test {
namespace {

using namespace tl::codec;

std::vector<uint8_t> packetBytes(int32_t code, const std::vector<uint8_t> &payload = {})
{
    const PacketBuffer p = makePacket(code, payload.empty() ? nullptr : payload.data(), static_cast<int>(payload.size()));
    return {p.begin(), p.end()};
}

TEST(AnswerFaultsTest, CommandRulesSkipCountAndStopAtAnUnplugBefore)
{
    FaultPlan plan;
    plan.commands.push_back({CMD_GET_EEPROM, 1, 1, CommandFault::Nak, 0});
    plan.commands.push_back({0, 0, -1, CommandFault::Delay, 40});
    plan.commands.push_back({CMD_SENDVERSION, 0, 1, CommandFault::UnplugBefore, 0});
    plan.commands.push_back({0, 0, -1, CommandFault::Delay, 5});
    AnswerFaults faults;
    faults.setPlan(plan);

    const auto first = faults.onCommand(CMD_GET_EEPROM);
    EXPECT_FALSE(first.nak);                 // skipped once
    EXPECT_EQ(first.extraDelayMs, 45);
    const auto second = faults.onCommand(CMD_GET_EEPROM);
    EXPECT_TRUE(second.nak);
    const auto third = faults.onCommand(CMD_GET_EEPROM);
    EXPECT_FALSE(third.nak);                 // only once

    const auto gone = faults.onCommand(CMD_SENDVERSION);
    EXPECT_TRUE(gone.unplugBefore);
    EXPECT_EQ(gone.extraDelayMs, 40);        // the rule after it was not looked at
    const auto again = faults.onCommand(CMD_SENDVERSION);
    EXPECT_FALSE(again.unplugBefore);

    // A fresh plan counts from the start again.
    faults.setPlan(plan);
    EXPECT_FALSE(faults.onCommand(CMD_GET_EEPROM).nak);
    EXPECT_TRUE(faults.onCommand(CMD_GET_EEPROM).nak);
}

TEST(AnswerFaultsTest, UnplugCountsRunFromThePlan)
{
    FaultPlan plan;
    plan.unplugAfterReceived = 2;
    plan.unplugAfterSent = 3;
    AnswerFaults faults;
    faults.setPlan(plan);
    EXPECT_FALSE(faults.onCommand(CMD_SENDVERSION).unplugAfter);
    EXPECT_TRUE(faults.onCommand(CMD_SENDVERSION).unplugAfter);
    EXPECT_FALSE(faults.onSent());
    EXPECT_FALSE(faults.onSent());
    EXPECT_TRUE(faults.onSent());
    faults.setPlan(plan);
    EXPECT_FALSE(faults.onSent());
    EXPECT_FALSE(faults.onCommand(CMD_SENDVERSION).unplugAfter);
}

TEST(AnswerFaultsTest, PacketRulesChangeOnlyWhatTheyName)
{
    FaultPlan plan;
    PacketRule corrupt;
    corrupt.code = DAT_EEPROM;
    corrupt.fault = PacketFault::Corrupt;
    plan.packets.push_back(corrupt);
    PacketRule late;
    late.code = DAT_VERSION;
    late.fault = PacketFault::Delay;
    late.value = 70;
    late.times = -1;
    plan.packets.push_back(late);
    PacketRule twice;
    twice.code = DAT_VERSION;
    twice.skip = 1;
    twice.fault = PacketFault::Duplicate;
    plan.packets.push_back(twice);
    PacketRule cut;
    cut.code = DAT_OPTION;
    cut.fault = PacketFault::Truncate;
    cut.value = 9;
    plan.packets.push_back(cut);
    AnswerFaults faults;
    faults.setPlan(plan);
    ModuleStats stats;

    std::vector<uint8_t> eeprom = packetBytes(DAT_EEPROM, {1, 2, 3});
    const std::vector<uint8_t> sentEeprom = eeprom;
    int64_t due = 100;
    auto v = faults.onPacket(eeprom, due, -1, -1, stats);
    EXPECT_FALSE(v.drop || v.duplicate || v.unplugOnRead);
    EXPECT_EQ(due, 100);
    ASSERT_EQ(eeprom.size(), sentEeprom.size());
    EXPECT_TRUE(std::equal(eeprom.begin(), eeprom.begin() + kHeaderSize, sentEeprom.begin()));   // header intact
    EXPECT_EQ(eeprom[kHeaderSize], static_cast<uint8_t>(~1));
    EXPECT_EQ(eeprom[kHeaderSize + 3], 0);   // beyond the length: untouched
    EXPECT_EQ(stats.packetsCorrupted, 1);
    std::vector<uint8_t> secondEeprom = packetBytes(DAT_EEPROM, {1, 2, 3});
    faults.onPacket(secondEeprom, due, -1, -1, stats);
    EXPECT_EQ(secondEeprom, sentEeprom);     // one corruption only

    std::vector<uint8_t> version = packetBytes(DAT_VERSION);
    due = 0;
    v = faults.onPacket(version, due, -1, -1, stats);
    EXPECT_EQ(due, 70);
    EXPECT_FALSE(v.duplicate);
    due = 0;
    v = faults.onPacket(version, due, -1, -1, stats);
    EXPECT_EQ(due, 70);
    EXPECT_TRUE(v.duplicate);
    EXPECT_EQ(stats.packetsDuplicated, 1);

    std::vector<uint8_t> option = packetBytes(DAT_OPTION, {7});
    faults.onPacket(option, due, -1, -1, stats);
    EXPECT_EQ(option.size(), 9u);
    EXPECT_EQ(stats.packetsMalformed, 1);
}

TEST(AnswerFaultsTest, PieceLossIsRepeatableAndTouchesOnlyImagePieces)
{
    FaultPlan plan;
    plan.pieceLoss = 0.5;
    plan.seed = 7;
    auto run = [&] {
        AnswerFaults faults;
        faults.setPlan(plan);
        ModuleStats stats;
        std::vector<bool> lost;
        for (int i = 0; i < 64; ++i) {
            std::vector<uint8_t> piece = packetBytes(DAT_AC_IMAGE);
            int64_t due = 0;
            lost.push_back(faults.onPacket(piece, due, 101, i, stats).drop);
            std::vector<uint8_t> other = packetBytes(DAT_EEPROM);
            EXPECT_FALSE(faults.onPacket(other, due, -1, -1, stats).drop);
        }
        EXPECT_EQ(stats.piecesLost, std::count(lost.begin(), lost.end(), true));
        return lost;
    };
    const std::vector<bool> a = run();
    EXPECT_EQ(a, run());
    const auto lostCount = std::count(a.begin(), a.end(), true);
    EXPECT_GT(lostCount, 0);
    EXPECT_LT(lostCount, 64);
}

TEST(AnswerFaultsTest, WriteFaultsAreUsedUpOneEachAndShowInThePlan)
{
    FaultPlan plan;
    plan.stallWrites = 1;
    plan.failWrites = 2;
    plan.writeError = -7;
    plan.claimError[1] = -6;
    AnswerFaults faults;
    faults.setPlan(plan);
    int error = 0;
    EXPECT_EQ(faults.nextWrite(&error), AnswerFaults::WriteFault::Stall);
    EXPECT_EQ(faults.nextWrite(&error), AnswerFaults::WriteFault::Fail);
    EXPECT_EQ(error, -7);
    EXPECT_EQ(faults.plan().failWrites, 1);
    EXPECT_EQ(faults.nextWrite(&error), AnswerFaults::WriteFault::Fail);
    EXPECT_EQ(faults.nextWrite(&error), AnswerFaults::WriteFault::None);
    EXPECT_EQ(faults.claimError(1), -6);
    EXPECT_EQ(faults.claimError(0), 0);
    EXPECT_EQ(faults.claimError(9), 0);   // no such interface: no fault
}

} // namespace
} // namespace tl::sim::test
