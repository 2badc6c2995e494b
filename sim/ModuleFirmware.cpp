#include "sim/EmulatedModule.h"

#include "device/codec/ByteIO.h"
#include "device/codec/Commands.h"
#include "device/codec/Image.h"
#include "platform/Clock.h"
#include "sim/ModuleMemory.h"

#include <algorithm>
#include <cstring>

// The module's firmware side: what it does with each packet from the host, and
// how its own packets leave (through the fault plan) for the host to read.

namespace tl::sim {

using namespace tl::codec;

namespace {

// A module buffers answers the host has not read yet; past this many per endpoint
// it drops new ones (a real module's firmware queue is far smaller).
constexpr size_t kQueueLimit = 16384;
// Packets kept for inspection; the counts per code are kept for all of them.
constexpr size_t kReceivedLogLimit = 20000;
// The payload holds 84 tracking records of 6 bytes.
constexpr size_t kMaxTrackingRecords = kMaxPayload / kTrackingRecordSize;

int32_t rawI32(const PacketBuffer &b, int offset)
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

// ---- the host's packets ----------------------------------------------------------

void EmulatedModule::handlePacket(const PacketBuffer &buf, int bytes, bool *unplugBefore, bool *unplugAfter)
{
    const int32_t code = rawI32(buf, 0);
    ++m_stats.packetsReceived;
    ++m_receivedSincePlan;
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

    bool nak = false;
    bool ignore = false;
    int extraDelay = 0;
    for (size_t i = 0; i < m_faults.commands.size(); ++i) {
        const CommandRule &rule = m_faults.commands[i];
        if (rule.code != 0 && rule.code != code)
            continue;
        const int hit = m_commandRuleHits[i]++;
        if (hit < rule.skip || (rule.times >= 0 && hit >= rule.skip + rule.times))
            continue;
        switch (rule.fault) {
        case CommandFault::Nak:
            nak = true;
            break;
        case CommandFault::Ignore:
            ignore = true;
            break;
        case CommandFault::Delay:
            extraDelay += rule.value;
            break;
        case CommandFault::UnplugBefore:
            *unplugBefore = true;
            return;
        case CommandFault::UnplugAfter:
            *unplugAfter = true;
            break;
        }
    }
    if (m_faults.unplugAfterReceived >= 0 && m_receivedSincePlan >= m_faults.unplugAfterReceived)
        *unplugAfter = true;

    if (m_faults.silent || ignore) {
        ++m_stats.ignored;
        return;
    }
    if (nak) {
        sendNak(code);
        return;
    }
    // Mask fragments carry 512 in the length field of a full piece: they have
    // their own frame and never pass the packet parser.
    if (code == CMD_SET_MASK) {
        receiveMaskFragment(buf);
        return;
    }
    PacketView view;
    if (parsePacket(buf, bytes, view) != PacketError::None) {
        ++m_stats.malformedCommands;
        return;
    }
    m_extraDelayMs = extraDelay;
    carryOut(view);
    m_extraDelayMs = 0;
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
        captureLocked(kImageBlack);
        send(kEpIn, makePacket(RES_AC_BLACK_END), t.captureMs);
        break;
    case CMD_AC_WHITE_START:
        m_acArgument = payloadI32(p, 0);
        captureLocked(kImageWhite);
        send(kEpIn, makePacket(RES_AC_WHITE_END), t.captureMs);
        break;
    case CMD_AC_PATTERN_START:
        m_acArgument = payloadI32(p, 0);
        captureLocked(kImagePattern);
        send(kEpIn, makePacket(RES_AC_PATTERN_END), t.captureMs);
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
        break;
    case CMD_MC_CANCEL:
        m_manualMode = false;
        break;
    case CMD_MC_PATTERN_START: {
        const int index = payloadI32(p, 0);
        if (!m_manualMode || index < 0 || index >= static_cast<int>(m_mcPoints.size()) || !m_manualTouch)
            break;
        const std::optional<CameraPoint> seen = m_manualTouch(index);
        if (!seen)
            break;
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
    return m_variant.timing.answerMs + m_faults.answerDelayMs + m_extraDelayMs;
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
    const int32_t code = rawI32(pkt, 0);
    const int32_t length = rawI32(pkt, 4);

    bool drop = false;
    bool duplicate = false;
    if (isImagePiece(code) && m_faults.pieceLoss > 0) {
        // Drawn for every piece, so that rules never shift the random sequence.
        std::uniform_real_distribution<double> u(0.0, 1.0);
        if (u(m_lossRng) < m_faults.pieceLoss) {
            drop = true;
            ++m_stats.piecesLost;
        }
    }
    for (size_t i = 0; i < m_faults.packets.size(); ++i) {
        const PacketRule &rule = m_faults.packets[i];
        if ((rule.code != 0 && rule.code != code) || (rule.imageKind >= 0 && rule.imageKind != kind) ||
            (rule.index >= 0 && rule.index != index))
            continue;
        const int hit = m_packetRuleHits[i]++;
        if (hit < rule.skip || (rule.times >= 0 && hit >= rule.skip + rule.times))
            continue;
        switch (rule.fault) {
        case PacketFault::Drop:
            drop = true;
            ++m_stats.packetsDropped;
            break;
        case PacketFault::Duplicate:
            duplicate = true;
            ++m_stats.packetsDuplicated;
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
                o.bytes[static_cast<size_t>(b)] ^= 0xFF;
            ++m_stats.packetsCorrupted;
            break;
        }
        case PacketFault::Truncate:
            o.bytes.resize(static_cast<size_t>(std::clamp(rule.value, 0, kPacketSize)));
            ++m_stats.packetsMalformed;
            break;
        case PacketFault::SetLength:
            if (o.bytes.size() >= 8)
                ByteWriter(o.bytes.data(), o.bytes.size()).seek(4).i32(rule.value);
            ++m_stats.packetsMalformed;
            break;
        case PacketFault::SetIndex:
            if (code == DAT_MASK) {
                if (o.bytes.size() > 8)
                    o.bytes[8] = static_cast<uint8_t>(rule.value);
            } else if (o.bytes.size() >= 12) {
                ByteWriter(o.bytes.data(), o.bytes.size()).seek(8).i32(rule.value);
            }
            ++m_stats.packetsMalformed;
            break;
        case PacketFault::Delay:
            o.dueMs += rule.value;
            break;
        case PacketFault::Mutate:
            if (rule.mutate) {
                rule.mutate(o.bytes);
                if (o.bytes.size() > static_cast<size_t>(kPacketSize))
                    o.bytes.resize(kPacketSize);
            }
            ++m_stats.packetsMalformed;
            break;
        case PacketFault::Unplug:
            o.unplugOnRead = true;
            break;
        }
    }
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

void EmulatedModule::captureLocked(int kind)
{
    CaptureContext ctx;
    ctx.kind = kind;
    ctx.exposure = m_exposure;
    ctx.argument = m_acArgument;
    ctx.frameNumber = m_frameNumber;
    ctx.registers = m_registers;
    std::vector<uint8_t> img = m_imageSource->capture(ctx);
    img.resize(kAcImageBytes, 0);
    // A reversed image is turned by 180 degrees: for a row-major image that is
    // the byte order reversed.
    if (m_imageReverse)
        std::reverse(img.begin(), img.end());
    m_captures[kind] = std::move(img);
}

const std::vector<uint8_t> &EmulatedModule::imageFor(int kind)
{
    auto it = m_captures.find(kind);
    if (it == m_captures.end()) {
        captureLocked(kind);
        it = m_captures.find(kind);
    }
    return it->second;
}

void EmulatedModule::serveGroup(int kind, int group)
{
    // Group 80 (one past the last) is the host's way of finishing an image: the
    // end packet alone answers it, as does any group beyond.
    if (group < kAcGroups) {
        const std::vector<uint8_t> &img = imageFor(kind);
        for (int d = group * kGroupPieces; d < (group + 1) * kGroupPieces; ++d)
            send(kEpIn, buildImagePiece(DAT_AC_IMAGE, d, img.data(), kAcImageBytes), 0, kind, d);
        ++m_stats.groupsServed;
    }
    send(kEpIn, makePacket(DAT_AC_IMGEND), 0, kind, group);
}

void EmulatedModule::servePart(const AcSendImgPart &req)
{
    const int first = std::max(0, req.first);
    const int last = std::min(kAcPieces - 1, req.last);
    if (first <= last) {
        const std::vector<uint8_t> &img = imageFor(req.kind);
        for (int d = first; d <= last; ++d) {
            send(kEpIn, buildImagePiece(DAT_AC_IMAGE_PART, d, img.data(), kAcImageBytes), 0, req.kind, d);
            ++m_stats.piecesResent;
        }
    }
    ++m_stats.partialResends;
    send(kEpIn, makePacket(DAT_AC_IMAGE_PART_END), 0, req.kind, -1);
}

void EmulatedModule::serveFrame()
{
    CaptureContext ctx;
    ctx.exposure = m_exposure;
    ctx.frameNumber = m_frameNumber;
    ctx.registers = m_registers;
    std::vector<uint8_t> frame = m_imageSource->alignmentFrame(ctx);
    frame.resize(kFrameBytes, 0);
    if (m_imageReverse)
        std::reverse(frame.begin(), frame.end());
    const int pieces = piecesForImage(kFrameBytes);
    const int delay = m_variant.timing.frameMs;
    for (int d = 0; d < pieces; ++d)
        send(kEpFrames, buildImagePiece(DAT_IMG, d, frame.data(), kFrameBytes), delay, -1, d);
    send(kEpFrames, makePacket(DAT_IMGEND), delay, -1, -1);
    ++m_frameNumber;
    ++m_stats.framesServed;
}

bool EmulatedModule::reportingLocked() const
{
    return m_plugged && m_tracking && m_transferMode == 2 && !m_faults.silent;
}

void EmulatedModule::maybeReportLocked(int64_t nowMs)
{
    if (!reportingLocked() || nowMs < m_nextReportMs)
        return;
    std::vector<TrackPoint> points;
    if (m_penScript)
        points = m_penScript(m_reportCycle);
    ++m_reportCycle;
    std::vector<TrackingRecord> records;
    for (const TrackPoint &tp : points) {
        if (records.size() >= kMaxTrackingRecords)
            break;
        TrackingRecord r;
        r.x = static_cast<uint16_t>(tp.x);
        r.y = static_cast<int16_t>(tp.y);
        r.weight = static_cast<int16_t>(tp.weight);
        records.push_back(r);
    }
    const std::vector<uint8_t> payload = encodeTracking(records);
    // A report is due at once, not after an answer's turnaround; cycles nobody
    // read are skipped, as the module keeps only its latest report.
    enqueue(kEpIn, makePacket(DAT_TC_DUAL_MODE, payload.data(), static_cast<int>(payload.size())), nowMs);
    ++m_stats.reportsSent;
    const int period = std::max(1, m_variant.timing.reportPeriodMs);
    m_nextReportMs += period;
    if (m_nextReportMs <= nowMs)
        m_nextReportMs = nowMs + period;
}

} // namespace tl::sim
