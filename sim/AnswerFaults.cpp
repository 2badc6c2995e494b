#include "sim/AnswerFaults.h"

#include "device/codec/ByteIO.h"
#include "device/codec/Commands.h"
#include "device/codec/Image.h"
#include "device/codec/Packet.h"
#include "sim/ModuleStats.h"

#include <algorithm>

namespace tl::sim {

using namespace tl::codec;

namespace {

// Whether the `hit`-th match (counted from 0) of a fault rule gets its fault:
// the first `skip` matches pass, the next `times` do (-1: every further one).
template <typename Rule>
bool ruleFires(const Rule &rule, int hit)
{
    return hit >= rule.skip && (rule.times < 0 || hit < rule.skip + rule.times);
}

int32_t rawI32(const std::vector<uint8_t> &b, int offset)
{
    ByteReader r(b.data(), b.size());
    r.seek(static_cast<size_t>(offset));
    return r.i32();
}

bool isImagePiece(int32_t code)
{
    return code == DAT_IMG || code == DAT_AC_IMAGE || code == DAT_AC_IMAGE_PART;
}

} // namespace

AnswerFaults::AnswerFaults()
{
    m_lossRng.seed(m_plan.seed);
}

void AnswerFaults::setPlan(FaultPlan plan)
{
    m_plan = std::move(plan);
    m_packetRuleHits.assign(m_plan.packets.size(), 0);
    m_commandRuleHits.assign(m_plan.commands.size(), 0);
    m_extraRuleHits.assign(m_plan.extras.size(), 0);
    m_lossRng.seed(m_plan.seed);
    m_sentSincePlan = 0;
    m_receivedSincePlan = 0;
}

int AnswerFaults::claimError(int iface) const
{
    if (iface < 0 || iface >= static_cast<int>(m_plan.claimError.size()))
        return 0;
    return m_plan.claimError[static_cast<size_t>(iface)];
}

AnswerFaults::WriteFault AnswerFaults::nextWrite(int *error)
{
    if (m_plan.stallWrites > 0) {
        --m_plan.stallWrites;
        return WriteFault::Stall;
    }
    if (m_plan.failWrites > 0) {
        --m_plan.failWrites;
        if (error)
            *error = m_plan.writeError;
        return WriteFault::Fail;
    }
    return WriteFault::None;
}

AnswerFaults::CommandVerdict AnswerFaults::onCommand(int32_t code)
{
    ++m_receivedSincePlan;
    CommandVerdict v;
    for (size_t i = 0; i < m_plan.commands.size(); ++i) {
        const CommandRule &rule = m_plan.commands[i];
        if (rule.code != 0 && rule.code != code)
            continue;
        if (!ruleFires(rule, m_commandRuleHits[i]++))
            continue;
        switch (rule.fault) {
        case CommandFault::Nak:
            v.nak = true;
            break;
        case CommandFault::Ignore:
            v.ignore = true;
            break;
        case CommandFault::Delay:
            v.extraDelayMs += rule.value;
            break;
        case CommandFault::UnplugBefore:
            v.unplugBefore = true;
            return v;
        case CommandFault::UnplugAfter:
            v.unplugAfter = true;
            break;
        case CommandFault::Repeat:
            v.repeat = true;
            break;
        }
    }
    if (m_plan.unplugAfterReceived >= 0 && m_receivedSincePlan >= m_plan.unplugAfterReceived)
        v.unplugAfter = true;
    return v;
}

std::vector<ExtraPacketRule> AnswerFaults::extrasFor(int32_t code)
{
    std::vector<ExtraPacketRule> out;
    for (size_t i = 0; i < m_plan.extras.size(); ++i) {
        const ExtraPacketRule &rule = m_plan.extras[i];
        if (rule.onCommand != 0 && rule.onCommand != code)
            continue;
        if (!ruleFires(rule, m_extraRuleHits[i]++))
            continue;
        out.push_back(rule);
    }
    return out;
}

AnswerFaults::PacketVerdict AnswerFaults::onPacket(std::vector<uint8_t> &bytes, int64_t &dueMs, int kind, int index,
                                                   ModuleStats &stats)
{
    PacketVerdict v;
    const int32_t code = rawI32(bytes, 0);
    const int32_t length = rawI32(bytes, 4);
    if (isImagePiece(code) && m_plan.pieceLoss > 0) {
        // Drawn for every piece, so that rules never shift the random sequence.
        std::uniform_real_distribution<double> u(0.0, 1.0);
        if (u(m_lossRng) < m_plan.pieceLoss) {
            v.drop = true;
            ++stats.piecesLost;
        }
    }
    for (size_t i = 0; i < m_plan.packets.size(); ++i) {
        const PacketRule &rule = m_plan.packets[i];
        if ((rule.code != 0 && rule.code != code) || (rule.imageKind >= 0 && rule.imageKind != kind) ||
            (rule.index >= 0 && rule.index != index))
            continue;
        if (!ruleFires(rule, m_packetRuleHits[i]++))
            continue;
        switch (rule.fault) {
        case PacketFault::Drop:
            v.drop = true;
            ++stats.packetsDropped;
            break;
        case PacketFault::Duplicate:
            v.duplicate = true;
            ++stats.packetsDuplicated;
            break;
        case PacketFault::Corrupt: {
            // Invert the data, keep the frame: a receiver cannot tell from the header.
            int from = kHeaderSize;
            if (isImagePiece(code))
                from += kPieceHeader;
            else if (code == DAT_MASK)
                from += 1;
            const int to = kHeaderSize + std::clamp(length, 0, kMaxPayload);
            for (int b = from; b < to; ++b)
                bytes[static_cast<size_t>(b)] ^= 0xFF;
            ++stats.packetsCorrupted;
            break;
        }
        case PacketFault::Truncate:
            bytes.resize(static_cast<size_t>(std::clamp(rule.value, 0, kPacketSize)));
            ++stats.packetsMalformed;
            break;
        case PacketFault::SetLength:
            if (bytes.size() >= 8)
                ByteWriter(bytes.data(), bytes.size()).seek(4).i32(rule.value);
            ++stats.packetsMalformed;
            break;
        case PacketFault::SetIndex:
            if (code == DAT_MASK) {
                if (bytes.size() > 8)
                    bytes[8] = static_cast<uint8_t>(rule.value);
            } else if (bytes.size() >= 12) {
                ByteWriter(bytes.data(), bytes.size()).seek(8).i32(rule.value);
            }
            ++stats.packetsMalformed;
            break;
        case PacketFault::Delay:
            dueMs += rule.value;
            break;
        case PacketFault::Mutate:
            if (rule.mutate) {
                rule.mutate(bytes);
                if (bytes.size() > static_cast<size_t>(kPacketSize))
                    bytes.resize(kPacketSize);
            }
            ++stats.packetsMalformed;
            break;
        case PacketFault::Unplug:
            v.unplugOnRead = true;
            break;
        }
    }
    return v;
}

bool AnswerFaults::onSent()
{
    ++m_sentSincePlan;
    return m_plan.unplugAfterSent >= 0 && m_sentSincePlan >= m_plan.unplugAfterSent;
}

} // namespace tl::sim
