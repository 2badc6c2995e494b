#pragma once

#include "sim/FaultPlan.h"

#include <cstdint>
#include <random>
#include <vector>

namespace tl::sim {

struct ModuleStats;

// The fault plan at work between the firmware and the host: it decides what
// becomes of each command that arrives and of each packet the firmware sends,
// and keeps the rule counters and the loss generator of the plan. The firmware
// asks it; it knows nothing of the firmware's state. Not thread-safe: the
// module calls it under its own lock.
class AnswerFaults
{
public:
    AnswerFaults();

    // Replaces the plan: rule counters, the counts since the plan and the loss
    // generator start afresh.
    void setPlan(FaultPlan plan);
    const FaultPlan &plan() const { return m_plan; }

    bool silent() const { return m_plan.silent; }
    int answerDelayMs() const { return m_plan.answerDelayMs; }
    int openError() const { return m_plan.openError; }
    int claimError(int iface) const;

    // What becomes of the next bulk write; each stall and failure is used once.
    enum class WriteFault { None, Stall, Fail };
    WriteFault nextWrite(int *error);

    // What becomes of a command from the host; counts it as arrived.
    struct CommandVerdict
    {
        bool nak = false;
        bool ignore = false;
        bool repeat = false;
        bool unplugBefore = false;   // the rules after the one that says so are not looked at
        bool unplugAfter = false;
        int extraDelayMs = 0;
    };
    CommandVerdict onCommand(int32_t code);

    // The packets the plan adds to a command, in the order of its rules.
    std::vector<ExtraPacketRule> extrasFor(int32_t code);

    // Applies the plan to a packet about to be queued: `bytes` and `dueMs` may
    // change; the counts of what was done go to `stats`. `kind` and `index` are
    // the image kind and piece (or part) index, -1 when none.
    struct PacketVerdict
    {
        bool drop = false;
        bool duplicate = false;
        bool unplugOnRead = false;
    };
    PacketVerdict onPacket(std::vector<uint8_t> &bytes, int64_t &dueMs, int kind, int index, ModuleStats &stats);

    // The host has read a packet: true when the plan unplugs the module now.
    bool onSent();

private:
    FaultPlan m_plan;
    std::vector<int> m_packetRuleHits;
    std::vector<int> m_commandRuleHits;
    std::vector<int> m_extraRuleHits;
    std::mt19937_64 m_lossRng;
    int64_t m_sentSincePlan = 0;
    int m_receivedSincePlan = 0;
};

} // namespace tl::sim
