// CamDevCtrl: image transfer (alignment frames, auto-calibration images by
// groups with resend of missing runs) and the mask download and upload.
#include "device/CamDevCtrl.h"

#include "device/CamDevShared.h"
#include "device/codec/Commands.h"
#include "device/codec/Trace.h"
#include "platform/Clock.h"

#include <QDebug>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace tl {

using namespace codec;

namespace {
// Once in the life of the process, not per device object: the first packet
// of another code in an image buffer is traced, the later ones would flood
// the log from every receive loop that meets a stray packet.
std::atomic<bool> s_copierTraced{false};
} // namespace

const uint8_t *CamDevCtrl::frameBuffer(int nDevNum) const
{
    return validIndex(nDevNum) ? m_frameBuf[nDevNum].data() : nullptr;
}

CamDevCtrl::AcStats CamDevCtrl::acStats() const
{
    std::lock_guard<std::mutex> lock(m_acMutex);
    AcStats s = m_acStats;
    s.group = m_acGroup;
    return s;
}

// ---- Alignment frames ------------------------------------------------------------------

void CamDevCtrl::requestFrame(int nDevNum)
{
    if (!validIndex(nDevNum))
        return;
    // The last frame handed over has been taken: the next may be written.
    m_frameShown[nDevNum] = false;
    sendFrameRequest(nDevNum);
}

void CamDevCtrl::sendFrameRequest(int nDevNum)
{
    // The time is taken before the request goes out: a module may answer the
    // whole frame before the write returns here, and its end (which clears the
    // timer) must not be followed by a timer that no frame will ever clear.
    m_frameTimer[nDevNum] = Clock::nowMs();
    SendCommand(nullptr, CMD_SENDFRM_MONO, 0, nDevNum, false);
}

int CamDevCtrl::PacketToImage16HID(const uint8_t *buf, uint8_t *dest, size_t destSize, int bytesRead)
{
    if (!buf || !dest || bytesRead < kPacketSize)
        return 0;
    int copied = 0;
    const int count = bytesRead / kPacketSize;
    for (int i = 0; i < count; ++i) {
        PacketBuffer one;
        std::memcpy(one.data(), buf + static_cast<size_t>(i) * kPacketSize, kPacketSize);
        PacketView p;
        if (parsePacket(one, kPacketSize, p) != PacketError::None)
            continue;
        if (p.code != DAT_IMG && p.code != DAT_AC_IMAGE && p.code != DAT_TC_IMAGE) {
            if (!s_copierTraced.exchange(true))
                qDebug().noquote() << QString::asprintf(
                    "PacketToImage16HID : Not DAT_IMG[%x], [%ld], nCount = %d, i = %d", p.code,
                    static_cast<long>(bytesRead), count, i);
            continue;
        }
        ImagePiece piece;
        const PieceError err = parseImagePiece(p, piece);
        if (err != PieceError::None || !placePiece(piece, dest, destSize)) {
            qDebug() << "PacketToImage16HID: piece refused, index" << piece.index << "data" << piece.dataLen << "-"
                     << (err != PieceError::None ? pieceErrorText(err) : "outside the buffer");
            continue;
        }
        ++copied;
    }
    return copied;
}

void CamDevCtrl::ReceiveImgProcHID(const PacketView &p, int bytesRead, int nDevNum, const PacketBuffer &buf)
{
    if (!validIndex(nDevNum))
        return;
    if (p.code == DAT_IMG) {
        ImagePiece piece;
        if (parseImagePiece(p, piece) == PieceError::None) {
            // The size travels with the frame pointer to the receivers: never more
            // than the buffer holds.
            if (piece.totalSize >= 0 && piece.totalSize <= kFrameBufferBytes)
                m_frameSize = piece.totalSize;
            else
                qDebug() << "ReceiveImgProcHID: frame size refused" << piece.totalSize << "nDevNum =" << nDevNum;
        }
        PacketToImage16HID(buf.data(), m_frameBuf[nDevNum].data(), m_frameBuf[nDevNum].size(), bytesRead);
        m_frameComplete[nDevNum] = false;
        return;
    }
    if (p.code == DAT_IMGEND) {
        // Register writes go out between frames, never between the pieces of one.
        flushRegisterWrites(nDevNum);
        m_frameComplete[nDevNum] = true;
        m_frameTimer[nDevNum] = -1;
        // The GUI thread copies the handed-over frame when its event loop gets to
        // it; the loop goes on filling m_frameBuf meanwhile, so the frame is handed
        // over in a buffer of its own, written only after the GUI asked again.
        if (m_frameShown[nDevNum].exchange(true)) {
            qDebug() << "ReceiveImgProcHID: the last frame not taken yet, this one dropped, nDevNum =" << nDevNum;
            return;
        }
        const int size = std::clamp(m_frameSize.load(), 0, kFrameBufferBytes);
        std::vector<uint8_t> &shown = m_shownBuf[nDevNum];
        if (shown.size() < static_cast<size_t>(kFrameBufferBytes))
            shown.assign(kFrameBufferBytes, 0);
        std::memcpy(shown.data(), m_frameBuf[nDevNum].data(), static_cast<size_t>(size));
        emit sigNewFrame(shown.data(), size, nDevNum);
        return;
    }
    qDebug().noquote() << QString::asprintf("ReceiveImgProcHID : NOT CMD[%x] =============================", p.code);
}

// ---- Auto-calibration image --------------------------------------------------------------

void CamDevCtrl::sendAcImageRequest(uint8_t kind, int group, int nDevNum)
{
    if (group < 0 || group > kAcGroups) {
        qDebug() << "sendAcImageRequest: group refused" << group;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_acMutex);
        if (group == 0) {
            std::fill(m_acReceived.begin(), m_acReceived.end(), false);
            m_acRuns.clear();
            m_acRunIndex = 0;
            m_acSize = 0;
            m_acStats = AcStats{};
            m_frameBuf[0].clear();
        }
        m_acKind = kind;
        m_acGroup = group;
        m_acExpect = AcExpect::GroupEnd;
    }
    const auto payload = encodeAcSendImg(kind, static_cast<uint8_t>(group));
    SendCommand(payload.data(), CMD_AC_SENDIMG, 2, nDevNum, false);
}

void CamDevCtrl::requestRun(int nDevNum)
{
    PieceRun run;
    uint8_t kind;
    {
        std::lock_guard<std::mutex> lock(m_acMutex);
        if (m_acRunIndex < 0 || m_acRunIndex >= static_cast<int>(m_acRuns.size()))
            return;
        run = m_acRuns[static_cast<size_t>(m_acRunIndex)];
        kind = m_acKind;
        m_acExpect = AcExpect::PartEnd;
        ++m_acStats.resendRequests;
    }
    const auto payload = encodeAcSendImgPart(kind, run.first, run.last);
    SendCommand(payload.data(), CMD_AC_SENDIMG_PART, 12, nDevNum, false);
}

void CamDevCtrl::ReceiveACProcHID(const PacketView &p, int bytesRead, int nDevNum, const PacketBuffer &buf)
{
    enum class Next { Nothing, Run, NextGroup, Done };
    Next next = Next::Nothing;
    uint8_t kind = 0;
    int group = 0;
    int doneSize = 0;

    {
        std::lock_guard<std::mutex> lock(m_acMutex);
        // Image packets outside a transfer (late duplicates, a module that talks on
        // its own) must not touch the buffer a receiver may be reading.
        if (m_acExpect == AcExpect::None) {
            qDebug() << "ReceiveACProcHID: no transfer running, dropped" << Qt::hex << p.code;
            return;
        }
        auto recomputeRuns = [&]() {
            m_acRuns = missingRuns(m_acReceived, m_acGroup);
            m_acRunIndex = 0;
            if (m_acRuns.empty())
                return false;
            const int num = missingCount(m_acRuns);
            qDebug().noquote() << QString::asprintf("missed seq: num = %d, num_run = %d", num,
                                                    static_cast<int>(m_acRuns.size()));
            ++m_acStats.resendRounds;
            m_acStats.missingPieces += num;
            return true;
        };

        switch (p.code) {
        case DAT_AC_IMAGE: {
            ImagePiece piece;
            const PieceError err = parseImagePiece(p, piece);
            if (err != PieceError::None) {
                ++m_acStats.refused;
                qDebug() << "ReceiveACProcHID: piece refused -" << pieceErrorText(err);
                return;
            }
            if (piece.totalSize > 0 && piece.totalSize <= kFrameBufferBytes)
                m_acSize = piece.totalSize;
            // Only a piece copied whole is received; a short transfer is asked for again.
            if (PacketToImage16HID(buf.data(), m_frameBuf[0].data(), m_frameBuf[0].size(), bytesRead) == 0) {
                ++m_acStats.refused;
                return;
            }
            if (piece.index <= kAcPieces - 1)
                m_acReceived[static_cast<size_t>(piece.index)] = true;
            return;
        }
        case DAT_AC_IMGEND:
            if (m_acExpect != AcExpect::GroupEnd) {
                qDebug() << "ReceiveACProcHID: DAT_AC_IMGEND while a resend runs, dropped";
                return;
            }
            if (m_acGroup >= kAcGroups) {
                doneSize = m_acSize > 0 ? m_acSize : kAcImageBytes;
                m_acExpect = AcExpect::None;
                next = Next::Done;
            } else if (recomputeRuns()) {
                next = Next::Run;
            } else {
                next = Next::NextGroup;
            }
            break;
        case DAT_AC_IMAGE_PART: {
            ImagePiece piece;
            const PieceError err = parseImagePiece(p, piece);
            if (err != PieceError::None) {
                ++m_acStats.refused;
                qDebug() << "ReceiveACProcHID: resent piece refused -" << pieceErrorText(err);
                return;
            }
            // A resent piece counts only when it came whole and was placed.
            if (bytesRead < kPacketSize || !placePiece(piece, m_frameBuf[0].data(), m_frameBuf[0].size())) {
                ++m_acStats.refused;
                return;
            }
            if (piece.index <= kAcPieces - 1)
                m_acReceived[static_cast<size_t>(piece.index)] = true;
            return;
        }
        case DAT_AC_IMAGE_PART_END:
            if (m_acExpect != AcExpect::PartEnd) {
                qDebug() << "ReceiveACProcHID: DAT_AC_IMAGE_PART_END without a resend, dropped";
                return;
            }
            ++m_acRunIndex;
            if (m_acRunIndex < static_cast<int>(m_acRuns.size()))
                next = Next::Run;
            else if (recomputeRuns())
                next = Next::Run;
            else if (m_acGroup < kAcGroups)
                next = Next::NextGroup;
            break;
        default:
            return;
        }
        kind = m_acKind;
        group = m_acGroup;
    }

    switch (next) {
    case Next::Run:
        requestRun(nDevNum);
        break;
    case Next::NextGroup:
        sendAcImageRequest(kind, group + 1, nDevNum);
        break;
    case Next::Done:
        qDebug() << "ReceiveACProcHID: all done";
        emit sigACNewFrame(m_frameBuf[0].data(), doneSize, nDevNum);
        break;
    case Next::Nothing:
        break;
    }
}

// ---- Mask ------------------------------------------------------------------------------

int CamDevCtrl::onMask(const PacketView &p)
{
    MaskPart part;
    if (!parseMaskPart(p, part)) {
        qDebug() << "CamDevCtrl: DAT_MASK refused, part index" << (p.payload ? p.payload[0] : 0);
        return 0;
    }
    std::memcpy(m_maskBuf.data() + maskPartOffset(part.index), part.data, static_cast<size_t>(part.dataLen));
    // Counted once per part: the signalled length can never exceed the record.
    if (!m_maskPartSeen[static_cast<size_t>(part.index)]) {
        m_maskPartSeen[static_cast<size_t>(part.index)] = true;
        m_maskReceived += part.dataLen;
    }
    if (part.index == kMaskLastPart) {
        emit sigReceiveMask(m_maskBuf.data(), m_maskReceived);
        return kMaskParts;
    }
    return part.index + 1;
}

void CamDevCtrl::request_get_mask(int part)
{
    qDebug() << "request_get_mask :" << part;
    if (part < 0 || part > kMaskLastPart)
        return;
    if (part == 0) {
        m_maskReceived = 0;
        m_maskPartSeen.fill(false);
    }
    const uint8_t byte = static_cast<uint8_t>(part);
    SendCommand(&byte, CMD_GET_MASK, 1, 0, true);
}

void CamDevCtrl::sendSetMask(const unsigned char *mask, int len)
{
    if (!mask || len <= 0) {
        qDebug() << "sendSetMask: nothing to send" << len;
        return;
    }
    qDebug() << "sendSetMask:" << mask[0] << (len > 1 ? mask[1] : 0)
             << (len > kMaskEnableOffset ? mask[kMaskEnableOffset] : 0);
    const std::vector<uint8_t> copy(mask, mask + len);
    SendCommand(copy.data(), CMD_SET_MASK, len, 0, false);
}

} // namespace tl
