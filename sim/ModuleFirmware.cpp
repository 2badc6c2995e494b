#include "sim/EmulatedModule.h"

#include "device/codec/ByteIO.h"
#include "device/codec/Commands.h"
#include "device/codec/Image.h"
#include "platform/Clock.h"
#include "calibration/CalibModel.h"
#include "sim/ModuleMemory.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// The module's firmware: what it does with each packet from the host (the
// command switch and the module's state), and how its own packets leave
// (through the fault plan) for the host to read.

namespace tl::sim {

using namespace tl::codec;

namespace {

// A module buffers answers the host has not read yet; past this many per endpoint
// it drops new ones (a real module's firmware queue is far smaller).
constexpr size_t kQueueLimit = 16384;
// Packets kept for inspection; the counts per code are kept for all of them.
constexpr size_t kReceivedLogLimit = 20000;

int32_t rawI32(const PacketBuffer &b, int offset)
{
    ByteReader r(b.data(), b.size());
    r.seek(static_cast<size_t>(offset));
    return r.i32();
}

} // namespace

// ---- the host's packets ----------------------------------------------------------

void EmulatedModule::handlePacket(const PacketBuffer &buf, int bytes, bool *unplugBefore, bool *unplugAfter)
{
    const int32_t code = rawI32(buf, 0);
    ++m_stats.packetsReceived;
    ReceivedPacket rp;
    rp.timeMs = Clock::nowMs();
    rp.code = code;
    rp.length = rawI32(buf, 4);
    rp.bytes = buf;
    m_received.push_back(rp);
    if (m_received.size() > kReceivedLogLimit)
        m_received.pop_front();
    ++m_receivedCounts[code];
    m_cv.notify_all();

    const AnswerFaults::CommandVerdict verdict = m_faults.onCommand(code);
    if (verdict.unplugBefore) {
        *unplugBefore = true;
        return;
    }
    if (verdict.unplugAfter)
        *unplugAfter = true;
    const bool nak = verdict.nak;
    const bool ignore = verdict.ignore;
    const bool repeat = verdict.repeat;
    const int extraDelay = verdict.extraDelayMs;

    if (m_faults.silent()) {
        ++m_stats.ignored;
        return;
    }
    if (ignore) {
        ++m_stats.ignored;
        sendExtrasLocked(code);
        return;
    }
    if (nak) {
        sendNak(code);
        sendExtrasLocked(code);
        return;
    }
    // Mask fragments carry 512 in the length field of a full piece: they have
    // their own frame and never pass the packet parser.
    if (code == CMD_SET_MASK) {
        receiveMaskFragment(buf);
        sendExtrasLocked(code);
        return;
    }
    PacketView view;
    if (parsePacket(buf, bytes, view) != PacketError::None) {
        ++m_stats.malformedCommands;
        sendExtrasLocked(code);
        return;
    }
    m_extraDelayMs = extraDelay;
    carryOut(view);
    if (repeat) {
        ++m_stats.commandsRepeated;
        carryOut(view);
    }
    sendExtrasLocked(code);
    m_extraDelayMs = 0;
}

void EmulatedModule::sendExtrasLocked(int32_t code)
{
    for (const ExtraPacketRule &rule : m_faults.extrasFor(code)) {
        const int len = static_cast<int>(std::min<size_t>(rule.payload.size(), kMaxPayload));
        send(kEpIn, makePacket(rule.code, rule.payload.empty() ? nullptr : rule.payload.data(), len), rule.delayMs);
        ++m_stats.extraPackets;
    }
}

void EmulatedModule::carryOut(const PacketView &p)
{
    const ModuleTiming &t = m_variant.timing;
    switch (p.code) {
    case CMD_SENDVERSION: {
        const auto v = encodeVersion({m_variant.fwMajor, m_variant.fwMinor});
        send(kEpIn, makePacket(DAT_VERSION, v.data(), static_cast<int>(v.size())), 0);
        break;
    }
    case CMD_SEND_OPTION:
        send(kEpIn, makePacket(DAT_OPTION, m_variant.options.data(), kOptionSize), 0);
        break;
    case CMD_GET_EEPROM: {
        const auto e = encodeEeprom(m_eeprom);
        send(kEpIn, makePacket(DAT_EEPROM, e.data(), kEepromSize), 0);
        break;
    }
    case CMD_IIC_WR: {
        const auto w = decodeRegisterWrite(p.payload, p.length);
        if (!w) {
            ++m_stats.malformedCommands;
            break;
        }
        m_registers[w->address] = w->value;
        m_registerLog.push_back(*w);
        break;
    }
    case CMD_IIC_RD: {
        // A register read: answered with the address and the value it holds.
        if (p.length < 2) {
            ++m_stats.malformedCommands;
            break;
        }
        const uint16_t address = payloadU16(p, 0);
        const auto it = m_registers.find(address);
        uint8_t answer[3];
        ByteWriter(answer, sizeof answer).u16(address).u8(it == m_registers.end() ? 0 : it->second);
        send(kEpIn, makePacket(CMD_IIC_RD, answer, 3), 0);
        break;
    }
    case CMD_SENDFRM_MONO:
        serveFrame();
        break;
    case CMD_SET_IMAGE_REVERSE:
        if (p.length < 1) {
            ++m_stats.malformedCommands;
            break;
        }
        m_imageReverse = payloadI32(p, 0) != 0;
        break;
    case CMD_SETUP_ALIVE:
        break;
    case CMD_START_TRACKING:
        sendAck(CMD_START_TRACKING);
        m_tracking = true;
        m_reportCycle = 0;
        m_nextReportMs = Clock::nowMs() + answerDelayLocked() + t.reportPeriodMs;
        break;
    case CMD_STOP_TRACKING:
        m_tracking = false;
        sendAck(CMD_STOP_TRACKING);
        break;
    case CMD_SET_FINGER_TOUCH_MODE:
        if (p.length < 4) {
            ++m_stats.malformedCommands;
            break;
        }
        m_fingerMode = payloadI32(p, 0);
        sendAck(CMD_SET_FINGER_TOUCH_MODE);
        break;
    case CMD_SET_TRANSFER_MODE:
        if (p.length < 4) {
            ++m_stats.malformedCommands;
            break;
        }
        m_transferMode = payloadI32(p, 0);
        break;
    case CMD_SET_CALIB_PARAMETER: {
        const auto block = decodeCalibParam(p.payload, p.length);
        if (!block) {
            sendNak(p.code);
            break;
        }
        storeCalibration(m_eeprom, *block);
        m_lastCalib = *block;
        ++m_stats.calibrationUploads;
        send(kEpIn, makePacket(RES_AC_READY_END), t.storeMs);
        break;
    }
    case CMD_SET_FIX_COORD_RATIO: {
        const auto f = decodeFixCoord(p.payload, p.length);
        if (!f) {
            sendNak(p.code);
            break;
        }
        storeFixCoord(m_eeprom, *f);
        m_fixCoord = *f;
        break;
    }
    case CMD_AC_BLACK_START:
        if (p.length < 3) {
            sendNak(p.code);
            break;
        }
        m_exposure = payloadU8(p, 2);
        startCapture(kImageBlack, RES_AC_BLACK_END);
        break;
    case CMD_AC_WHITE_START:
        m_acArgument = payloadI32(p, 0);
        startCapture(kImageWhite, RES_AC_WHITE_END);
        break;
    case CMD_AC_PATTERN_START:
        m_acArgument = payloadI32(p, 0);
        startCapture(kImagePattern, RES_AC_PATTERN_END);
        break;
    case CMD_AC_SENDIMG:
        if (p.length < 2) {
            sendNak(p.code);
            break;
        }
        serveGroup(payloadU8(p, 0), payloadU8(p, 1));
        break;
    case CMD_AC_SENDIMG_PART: {
        const auto req = decodeAcSendImgPart(p.payload, p.length);
        if (!req) {
            sendNak(p.code);
            break;
        }
        servePart(*req);
        break;
    }
    case CMD_GET_MASK: {
        const int part = p.length >= 1 ? payloadU8(p, 0) : -1;
        if (part < 0 || part > kMaskLastPart) {
            sendNak(p.code);
            break;
        }
        send(kEpIn, buildMaskPart(part, m_mask.data(), static_cast<int>(m_mask.size())), 0, -1, part);
        break;
    }
    case CMD_MC_START:
        m_manualMode = true;
        m_mcPoints = {};
        m_person.state = UserState::Idle;
        m_person.answeredAt.reset();
        break;
    case CMD_MC_CANCEL:
        m_manualMode = false;
        m_person.state = UserState::Idle;
        break;
    case CMD_MC_PATTERN_START: {
        const int index = p.length >= 4 ? payloadI32(p, 0) : -1;
        if (!m_manualMode || index < 0 || index >= static_cast<int>(m_mcPoints.size()))
            break;
        if (!m_manualTouch) {
            // The person at the board looks for the mark and touches it.
            if (!m_camera || !m_display)
                break;
            beginSeekingLocked(index, std::nullopt);
            break;
        }
        const std::optional<CameraPoint> seen = m_manualTouch(index);
        if (!seen)
            break;
        if (m_camera && m_display && lookAtBoardLocked(nullptr)) {
            // Someone who watches the board touches the mark once it stands
            // still and keeps the pen down, at least the hold time, until the
            // window has answered the touch.
            beginSeekingLocked(index, *seen);
            break;
        }
        m_mcPoints[static_cast<size_t>(index)] = *seen;
        send(kEpIn, makePacket(RES_MC_PATTERN_DONE), t.touchMs);
        send(kEpIn, makePacketI32(RES_MC_PATTERN_END, index), t.touchMs + t.holdMs);
        break;
    }
    case CMD_MC_GET_INPUT_POINT: {
        uint8_t points[kMcPointBytes];
        ByteWriter w(points, sizeof points);
        for (const CameraPoint &c : m_mcPoints)
            w.f32(c.x).f32(c.y);
        send(kEpIn, makePacket(DAT_MC_INPUT_POINT, points, kMcPointBytes), 0);
        break;
    }
    default:
        // Codes the firmware does not take from a host.
        sendNak(p.code);
        break;
    }
}

void EmulatedModule::receiveMaskFragment(const PacketBuffer &buf)
{
    FragmentView f;
    if (!parseFragment(buf, f) || f.index > kMaskLastPart) {
        ++m_stats.malformedCommands;
        return;
    }
    // Index 0 starts an upload; a fragment without one starts it too, so that a
    // lost first piece shows as an incomplete upload rather than a stale mix.
    if (f.index == 0 || m_maskUpload.empty()) {
        m_maskUpload.assign(kMaskSize, 0);
        m_maskPartsIn.assign(kMaskParts, false);
    }
    const int offset = maskPartOffset(f.index);
    const int room = kMaskSize - offset;
    const int n = std::min(f.dataLen, room);
    if (f.dataLen != maskPartLength(f.index))
        ++m_stats.malformedCommands;
    if (n > 0)
        std::memcpy(m_maskUpload.data() + offset, f.data, static_cast<size_t>(n));
    m_maskPartsIn[static_cast<size_t>(f.index)] = true;
    if (std::all_of(m_maskPartsIn.begin(), m_maskPartsIn.end(), [](bool b) { return b; })) {
        m_mask = m_maskUpload;
        ++m_stats.maskUploads;
        m_maskUpload.clear();
        m_maskPartsIn.clear();
    }
}

// ---- the module's packets ------------------------------------------------------------

int EmulatedModule::answerDelayLocked() const
{
    return m_variant.timing.answerMs + m_faults.answerDelayMs() + m_extraDelayMs;
}

void EmulatedModule::send(uint8_t endpoint, const PacketBuffer &pkt, int delayMs, int kind, int index)
{
    enqueue(endpoint, pkt, Clock::nowMs() + answerDelayLocked() + delayMs, kind, index);
}

void EmulatedModule::enqueue(uint8_t endpoint, const PacketBuffer &pkt, int64_t dueMs, int kind, int index)
{
    std::deque<Outgoing> &q = queue(endpoint);
    Outgoing o;
    o.dueMs = dueMs;
    o.bytes.assign(pkt.begin(), pkt.end());
    const AnswerFaults::PacketVerdict verdict = m_faults.onPacket(o.bytes, o.dueMs, kind, index, m_stats);
    o.unplugOnRead = verdict.unplugOnRead;
    const bool drop = verdict.drop;
    const bool duplicate = verdict.duplicate;
    if (drop)
        return;
    // Packets leave in order: one due later holds back the ones behind it.
    if (!q.empty())
        o.dueMs = std::max(o.dueMs, q.back().dueMs);
    if (q.size() >= kQueueLimit) {
        ++m_stats.queueOverflows;
        return;
    }
    if (duplicate) {
        Outgoing copy = o;
        copy.unplugOnRead = false;
        q.push_back(std::move(o));
        q.push_back(std::move(copy));
    } else {
        q.push_back(std::move(o));
    }
    m_cv.notify_all();
}

void EmulatedModule::sendNak(int32_t code)
{
    ++m_stats.naks;
    send(kEpIn, makePacketI32(RES_NAK, code), 0);
}

void EmulatedModule::sendAck(int32_t code)
{
    send(kEpIn, makePacketI32(RES_ACK, code), 0);
}

} // namespace tl::sim
