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

// The module's firmware side: what it does with each packet from the host, and
// how its own packets leave (through the fault plan) for the host to read.

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

// A module buffers answers the host has not read yet; past this many per endpoint
// it drops new ones (a real module's firmware queue is far smaller).
constexpr size_t kQueueLimit = 16384;
// Packets kept for inspection; the counts per code are kept for all of them.
constexpr size_t kReceivedLogLimit = 20000;
// Sensor registers of the analog gain (10 bits, high byte first).
constexpr uint16_t kGainHigh = 0x350A;
constexpr uint16_t kGainLow = 0x350B;
// The sensor space a module reports in.
constexpr double kSensorWidth = 4800.0;
constexpr double kSensorHeight = 3000.0;

std::vector<uint8_t> toBytes(const cv::Mat &img, size_t size)
{
    std::vector<uint8_t> out(size, 0);
    if (img.isContinuous() && img.type() == CV_8UC1)
        std::memcpy(out.data(), img.data, std::min(size, img.total()));
    return out;
}

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
    bool repeat = false;
    int extraDelay = 0;
    for (size_t i = 0; i < m_faults.commands.size(); ++i) {
        const CommandRule &rule = m_faults.commands[i];
        if (rule.code != 0 && rule.code != code)
            continue;
        if (!ruleFires(rule, m_commandRuleHits[i]++))
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
        case CommandFault::Repeat:
            repeat = true;
            break;
        }
    }
    if (m_faults.unplugAfterReceived >= 0 && m_receivedSincePlan >= m_faults.unplugAfterReceived)
        *unplugAfter = true;

    if (m_faults.silent) {
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
    for (size_t i = 0; i < m_faults.extras.size(); ++i) {
        const ExtraPacketRule &rule = m_faults.extras[i];
        if (rule.onCommand != 0 && rule.onCommand != code)
            continue;
        if (!ruleFires(rule, m_extraRuleHits[i]++))
            continue;
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
        m_userState = UserState::Idle;
        m_userAnsweredAt.reset();
        break;
    case CMD_MC_CANCEL:
        m_manualMode = false;
        m_userState = UserState::Idle;
        break;
    case CMD_MC_PATTERN_START: {
        const int index = p.length >= 4 ? payloadI32(p, 0) : -1;
        if (!m_manualMode || index < 0 || index >= static_cast<int>(m_mcPoints.size()))
            break;
        if (!m_manualTouch) {
            // The person at the board looks for the mark and touches it.
            if (!m_camera || !m_display)
                break;
            m_userState = UserState::Seeking;
            m_userIndex = index;
            m_userGivenPoint.reset();
            m_userSinceMs = Clock::nowMs();
            m_userNextLookMs = m_userSinceMs;
            m_userStillAt.reset();
            m_userStillPictures = 0;
            m_cv.notify_all();
            break;
        }
        const std::optional<CameraPoint> seen = m_manualTouch(index);
        if (!seen)
            break;
        if (m_camera && m_display && lookAtBoardLocked(nullptr)) {
            // Someone who watches the board touches the mark once it stands
            // still and keeps the pen down, at least the hold time, until the
            // window has answered the touch.
            m_userState = UserState::Seeking;
            m_userIndex = index;
            m_userGivenPoint = *seen;
            m_userSinceMs = Clock::nowMs();
            m_userNextLookMs = m_userSinceMs;
            m_userStillAt.reset();
            m_userStillPictures = 0;
            m_cv.notify_all();
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
        if (!ruleFires(rule, m_packetRuleHits[i]++))
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
    std::vector<uint8_t> img;
    if (m_camera)
        img = toBytes(m_camera->capture(m_display ? m_display() : QImage()), kAcImageBytes);
    else
        img = m_imageSource->capture(ctx);
    img.resize(kAcImageBytes, 0);
    // A turned image is turned by 180 degrees: for a row-major image that is
    // the byte order reversed.
    if (turnedLocked())
        std::reverse(img.begin(), img.end());
    m_captures[kind] = std::move(img);
}

void EmulatedModule::startCapture(int kind, int32_t endCode)
{
    // Taken at once, on the caller's thread: the host's waits for the answer
    // start when its write returns, and the photograph must show what the
    // display showed when the command came.
    captureLocked(kind);
    send(kEpIn, makePacket(endCode), m_variant.timing.captureMs);
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

namespace {

// A frame as it goes on the wire: turned with the image, and dark where the
// module's mask (when given) covers it.
void finishFrame(std::vector<uint8_t> &frame, bool reverse, const std::vector<uint8_t> &mask)
{
    frame.resize(kFrameBytes, 0);
    if (reverse)
        std::reverse(frame.begin(), frame.end());
    if (!mask.empty()) {
        for (int i = 0; i < kFrameBytes; ++i)
            if (mask[static_cast<size_t>(i / 8)] & (0x80 >> (i % 8)))
                frame[static_cast<size_t>(i)] = 0;
    }
}

} // namespace

void EmulatedModule::serveFrame()
{
    // The pieces are readable a frame time after the request, or once the
    // frame exists if it takes longer.
    const int64_t dueMs = Clock::nowMs() + answerDelayLocked() + m_variant.timing.frameMs;
    if (m_camera) {
        // The module ignores what its mask covers: those pixels stay dark. The
        // mask is drawn on the frames as the host shows them.
        std::vector<uint8_t> mask;
        if (m_mask.size() == static_cast<size_t>(kMaskSize) && m_mask[kMaskEnableOffset] != 0)
            mask = m_mask;
        const QImage display = m_display ? m_display() : QImage();
        const std::shared_ptr<SyntheticCamera> camera = m_camera;
        const int gain = sensorGainLocked();
        const bool reverse = turnedLocked();
        ++m_frameNumber;
        auto frame = std::make_shared<std::vector<uint8_t>>();
        postCameraWork(kEpFrames,
            [frame, camera, display, gain, reverse, mask] {
                *frame = toBytes(camera->frame(display, gain), kFrameBytes);
                finishFrame(*frame, reverse, mask);
            },
            [this, frame, dueMs] { queueFrame(std::move(*frame), dueMs); });
        return;
    }
    CaptureContext ctx;
    ctx.exposure = m_exposure;
    ctx.frameNumber = m_frameNumber;
    ctx.registers = m_registers;
    std::vector<uint8_t> frame = m_imageSource->alignmentFrame(ctx);
    finishFrame(frame, turnedLocked(), {});
    ++m_frameNumber;
    queueFrame(std::move(frame), dueMs);
}

void EmulatedModule::queueFrame(std::vector<uint8_t> frame, int64_t dueMs)
{
    const int pieces = piecesForImage(kFrameBytes);
    for (int d = 0; d < pieces; ++d)
        enqueue(kEpFrames, buildImagePiece(DAT_IMG, d, frame.data(), kFrameBytes), dueMs, -1, d);
    enqueue(kEpFrames, makePacket(DAT_IMGEND), dueMs, -1, -1);
    ++m_stats.framesServed;
}

// ---- the camera's thread -------------------------------------------------------------

void EmulatedModule::postCameraWork(uint8_t endpoint, std::function<void()> render, std::function<void()> complete)
{
    CameraJob job;
    job.generation = m_generation;
    job.endpoint = endpoint;
    ++cameraPendingLocked(endpoint);
    job.extraDelayMs = m_extraDelayMs;
    job.render = std::move(render);
    job.complete = std::move(complete);
    m_cameraJobs.push_back(std::move(job));
    if (!m_cameraThread.joinable())
        m_cameraThread = std::thread([this] { cameraLoop(); });
    m_cameraCv.notify_all();
}

void EmulatedModule::cameraLoop()
{
    std::unique_lock<std::mutex> lk(m_mutex);
    for (;;) {
        m_cameraCv.wait(lk, [&] { return m_cameraStop || !m_cameraJobs.empty(); });
        if (m_cameraStop) {
            // Work left undone answers nobody: no read waits for it.
            m_cameraJobs.clear();
            m_cameraPendingIn = m_cameraPendingFrames = 0;
            m_cv.notify_all();
            return;
        }
        CameraJob job = std::move(m_cameraJobs.front());
        m_cameraJobs.pop_front();
        if (job.render) {
            lk.unlock();
            {
                // One camera develops at a time: OpenCV's worker pool serves one
                // caller, and a second camera at work beside it would run alone
                // on one core and fall far behind the first.
                static std::mutex developing;
                std::lock_guard<std::mutex> one(developing);
                job.render();
            }
            lk.lock();
        }
        if (alive(job.generation) && job.complete) {
            // Answers leave as if the command were being carried out now.
            m_extraDelayMs = job.extraDelayMs;
            job.complete();
            m_extraDelayMs = 0;
        }
        --cameraPendingLocked(job.endpoint);
        m_cv.notify_all();
    }
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
    if (m_windowPen && m_camera) {
        for (const cv::Point2d &w : m_windowPen(m_reportCycle))
            if (const std::optional<TrackPoint> seen = seePenLocked(w))
                points.push_back(*seen);
    }
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

// ---- the camera's side ---------------------------------------------------------------

int EmulatedModule::sensorGainLocked() const
{
    const auto hi = m_registers.find(kGainHigh);
    const auto lo = m_registers.find(kGainLow);
    if (hi == m_registers.end() || lo == m_registers.end())
        return SyntheticCamera::kUnityGain;
    return ((hi->second << 8) | lo->second) & 0x3FF;
}

bool EmulatedModule::turnedLocked() const
{
    // A module mounted turned sees the board upside down; reversal turns its
    // pictures once more.
    return m_imageReverse != m_variant.mountedTurned();
}

cv::Point2d EmulatedModule::orientedLocked(cv::Point2d c) const
{
    if (turnedLocked())
        return { kAcImageWidth - 1 - c.x, kAcImageHeight - 1 - c.y };
    return c;
}

bool EmulatedModule::maskedLocked(cv::Point2d camera) const
{
    if (m_mask.size() != static_cast<size_t>(kMaskSize) || m_mask[kMaskEnableOffset] == 0)
        return false;
    // The mask covers the frames as sent: half the camera's resolution, turned
    // with the image.
    const cv::Point2d c = orientedLocked(camera);
    const int x = static_cast<int>(std::floor((c.x + 0.5) / 2));
    const int y = static_cast<int>(std::floor((c.y + 0.5) / 2));
    if (x < 0 || y < 0 || x >= kFrameWidth || y >= kFrameHeight)
        return false;
    const int bit = y * kFrameWidth + x;
    return (m_mask[static_cast<size_t>(bit / 8)] & (0x80 >> (bit % 8))) != 0;
}

std::optional<TrackPoint> EmulatedModule::seePenLocked(cv::Point2d window) const
{
    if (!m_camera || !m_eeprom.calibrated())
        return std::nullopt;
    // The pen's light, which is not on the screen plane.
    const cv::Point2d cam = m_camera->penToCamera(window, m_variant.penType);
    if (!std::isfinite(cam.x) || !std::isfinite(cam.y) || cam.x < -0.5 || cam.y < -0.5 ||
        cam.x > kAcImageWidth - 0.5 || cam.y > kAcImageHeight - 0.5)
        return std::nullopt;
    if (maskedLocked(cam))
        return std::nullopt;
    // The module's own use of its parameters: camera point -> window point of
    // the calibrated window -> sensor space.
    const cv::Point2d c = orientedLocked(cam);
    ModelPoint w = tl::cameraToWindow(m_eeprom.tp.data(), c.x, c.y);
    // The fit pairs each pattern element with the screen position of its own
    // number, and a mounted camera sees the elements turned (ceiling) or
    // mirrored (rear): the parameters map into that frame, and the module
    // brings the point back with the mounting flags uploaded with them.
    const double w1 = m_eeprom.windowWidth - 1.0;
    const double h1 = m_eeprom.windowHeight - 1.0;
    if (m_eeprom.rear)
        w.x = w1 - w.x;
    if (m_eeprom.ceiling)
        w = { w1 - w.x, h1 - w.y };
    const double sx = w.x * kSensorWidth / m_eeprom.windowWidth;
    const double sy = w.y * kSensorHeight / m_eeprom.windowHeight;
    // A position the record cannot carry (x is unsigned, y signed 16-bit) is not reported.
    if (!std::isfinite(sx) || !std::isfinite(sy) || sx < -0.5 || sx > 65535 || sy < -32768 || sy > 32767)
        return std::nullopt;
    TrackPoint t;
    t.x = static_cast<int>(std::lround(sx));
    t.y = static_cast<int>(std::lround(sy));
    t.weight = 100;
    return t;
}

bool EmulatedModule::userActiveLocked() const
{
    return m_userState != UserState::Idle && m_manualMode && m_camera && m_display;
}

namespace {
// How long the mark must be out of sight (and no ring drawn where it stood)
// before a person holding the pen on it takes it for gone (driver milliseconds).
constexpr int64_t kUserGoneMs = 1000;
// How long a person waits for the mark to leave the place of a touch the
// window has answered before taking it that the same target is asked again.
constexpr int64_t kUserRepeatMs = 3000;
// A mark stands still once it has been seen in one place this long, in at
// least kUserStillPictures new pictures of the board. The pictures lag the
// window: it is grabbed now and then, and on a busy machine its animation
// steps less often than it is grabbed, so a mark on its way may show in one
// place in two pictures running, or in one picture for a long while when the
// window does not repaint at all.
constexpr int64_t kUserStillMs = 600;
constexpr int kUserStillPictures = 3;
// A board whose picture has not changed at all this long shows a mark at rest
// (a display painted once and left): long beside a busy window's stalls.
constexpr int64_t kUserUnchangedMs = 3000;
} // namespace

std::optional<cv::Point2d> EmulatedModule::lookAtBoardLocked(QImage *seenOut)
{
    const QImage seen = m_display();
    // A picture that has not changed since the last look shows the mark where it was.
    if (seen.isNull() || seen.cacheKey() != m_userSeenKey) {
        m_userSeenKey = seen.isNull() ? 0 : seen.cacheKey();
        m_userSeenMark = findTargetMark(seen);
        m_userFreshPicture = true;
        m_userPictureSinceMs = Clock::nowMs();
    }
    std::optional<cv::Point2d> mark = m_userSeenMark;
    if (mark && !seen.isNull()) {
        // The picture may be of another size than the window the camera watches.
        const CameraSetup &cs = m_camera->setup();
        mark->x = (mark->x + 0.5) * cs.displayWidth / seen.width() - 0.5;
        mark->y = (mark->y + 0.5) * cs.displayHeight / seen.height() - 0.5;
    }
    if (seenOut)
        *seenOut = seen;
    return mark;
}

void EmulatedModule::maybeUserLocked(int64_t nowMs)
{
    if (!userActiveLocked() || nowMs < m_userNextLookMs)
        return;
    m_userNextLookMs = nowMs + std::max(1, m_user.lookMs);
    QImage seen;
    const std::optional<cv::Point2d> mark = lookAtBoardLocked(&seen);
    const ModuleTiming &t = m_variant.timing;
    if (m_userState == UserState::Seeking) {
        // Wait until the mark stands still (it may still be moving there), then
        // put the pen on it, as well as a hand can.
        if (m_userFreshPicture) {
            m_userFreshPicture = false;
            if (mark && m_userStillAt && cv::norm(*mark - *m_userStillAt) < 1.0) {
                ++m_userStillPictures;
            } else {
                m_userStillAt = mark;
                m_userStillSinceMs = nowMs;
                m_userStillPictures = mark ? 1 : 0;
            }
        }
        const bool still = mark && m_userStillAt && m_userStillPictures >= kUserStillPictures &&
                           nowMs - m_userStillSinceMs >= kUserStillMs;
        const bool unchanged = mark && nowMs - m_userPictureSinceMs >= kUserUnchangedMs;
        if (!still && !unchanged)
            return;
        // A mark still where the window has just answered a touch has not set
        // off for the next target yet (on a busy machine it may stand a while
        // before it moves); only if it stays there is that target asked again.
        if (m_userAnsweredAt && cv::norm(*mark - *m_userAnsweredAt) <= 3.0 && nowMs - m_userSinceMs < kUserRepeatMs)
            return;
        if (m_userGivenPoint) {
            // The test says where the camera sees this touch.
            m_mcPoints[static_cast<size_t>(m_userIndex)] = *m_userGivenPoint;
            m_userMinHoldMs = t.touchMs + t.holdMs;
        } else {
            cv::Point2d aim = *mark;
            if (m_user.sigma > 0) {
                std::normal_distribution<double> err(0.0, m_user.sigma);
                aim.x += err(m_userRng);
                aim.y += err(m_userRng);
            }
            const cv::Point2d cam = m_camera->penToCamera(aim, m_variant.penType);
            if (!std::isfinite(cam.x) || !std::isfinite(cam.y) || cam.x < 0 || cam.y < 0 ||
                cam.x > kAcImageWidth - 1 || cam.y > kAcImageHeight - 1 || maskedLocked(cam))
                return;   // the camera does not see the pen there: the person keeps trying
            const cv::Point2d c = orientedLocked(cam);
            m_mcPoints[static_cast<size_t>(m_userIndex)] = { static_cast<float>(c.x), static_cast<float>(c.y) };
            m_userMinHoldMs = t.touchMs;
        }
        m_userMarkAt = *mark;
        m_userDownMs = nowMs;
        m_userMissingSinceMs = -1;
        m_userRingSeen = false;
        m_userState = UserState::Holding;
        send(kEpIn, makePacket(RES_MC_PATTERN_DONE), t.touchMs);
        return;
    }
    // Holding: the pen stays until the person sees the window answer the
    // touch: the ring drawn around the mark has come and gone, the mark has
    // moved on, or it has gone away. However long the window takes to draw
    // its ring, the person waits; only a touch that is never answered at all
    // is given up (maxHoldMs). Lifting the pen ends the target.
    if (nowMs < m_userDownMs + m_userMinHoldMs)
        return;
    bool ring = false;
    if (!seen.isNull()) {
        const CameraSetup &cs = m_camera->setup();
        const cv::Point2d inPicture((m_userMarkAt.x + 0.5) * seen.width() / cs.displayWidth - 0.5,
                                    (m_userMarkAt.y + 0.5) * seen.height() / cs.displayHeight - 0.5);
        ring = markRingShown(seen, inPicture);
    }
    if (ring)
        m_userRingSeen = true;
    // While the ring is drawn the mark is partly hidden: where it is found then
    // says nothing about where it stands.
    const bool ringDone = m_userRingSeen && !ring;
    const bool movedAway = !ring && mark && cv::norm(*mark - m_userMarkAt) > 3.0;
    if (mark || ring)
        m_userMissingSinceMs = -1;
    else if (m_userMissingSinceMs < 0)
        m_userMissingSinceMs = nowMs;
    const bool gone = !mark && !ring && nowMs - m_userMissingSinceMs >= kUserGoneMs;
    if (ringDone || movedAway || gone || nowMs - m_userDownMs >= m_user.maxHoldMs) {
        if (ringDone || movedAway)
            m_userAnsweredAt = m_userMarkAt;
        else
            m_userAnsweredAt.reset();
        m_userState = UserState::Idle;
        m_userMissingSinceMs = -1;
        m_userRingSeen = false;
        send(kEpIn, makePacketI32(RES_MC_PATTERN_END, m_userIndex), 0);
    }
}

} // namespace tl::sim
