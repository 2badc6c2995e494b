#include "device/codec/Image.h"

#include "device/codec/ByteIO.h"
#include "device/codec/Commands.h"

#include <algorithm>
#include <cstring>

namespace tl::codec {

const char *pieceErrorText(PieceError e)
{
    switch (e) {
    case PieceError::None:
        return "ok";
    case PieceError::ShortLength:
        return "length field below 8";
    case PieceError::LongData:
        return "more than 496 data bytes";
    case PieceError::NegativeIndex:
        return "negative piece index";
    }
    return "?";
}

PieceError parseImagePiece(const PacketView &p, ImagePiece &out)
{
    out = ImagePiece{};
    if (p.length < kPieceHeader)
        return PieceError::ShortLength;
    const int dataLen = p.length - kPieceHeader;
    if (dataLen > kPieceData)
        return PieceError::LongData;
    ByteReader r(p.payload, static_cast<size_t>(p.length));
    out.index = r.i32();
    out.totalSize = r.i32();
    out.data = p.payload + kPieceHeader;
    out.dataLen = dataLen;
    if (out.index < 0)
        return PieceError::NegativeIndex;
    return PieceError::None;
}

int64_t pieceOffset(int32_t index)
{
    const int64_t d = index;
    return (d / kGroupPieces) * kGroupBytes + (d % kGroupPieces) * kPieceData;
}

bool placePiece(const ImagePiece &piece, uint8_t *dest, size_t destSize)
{
    if (!dest || piece.index < 0 || piece.dataLen < 0 || piece.dataLen > kPieceData)
        return false;
    if (piece.dataLen > 0 && !piece.data)
        return false;
    const int64_t offset = pieceOffset(piece.index);
    if (offset < 0 || offset + piece.dataLen > static_cast<int64_t>(destSize))
        return false;
    if (piece.dataLen > 0)
        std::memcpy(dest + offset, piece.data, static_cast<size_t>(piece.dataLen));
    return true;
}

int pieceDataLength(int32_t index, int imageSize)
{
    if (index < 0 || imageSize <= 0)
        return 0;
    const int64_t offset = pieceOffset(index);
    if (offset >= imageSize)
        return 0;
    const int nominal = (index % kGroupPieces == kGroupPieces - 1) ? kLastPieceData : kPieceData;
    return static_cast<int>(std::min<int64_t>(nominal, imageSize - offset));
}

int piecesForImage(int imageSize)
{
    if (imageSize <= 0)
        return 0;
    const int groups = imageSize / kGroupBytes;
    int pieces = groups * kGroupPieces;
    const int rest = imageSize - groups * kGroupBytes;
    if (rest > 0)
        pieces += (rest + kPieceData - 1) / kPieceData;
    return pieces;
}

PacketBuffer buildImagePiece(int32_t code, int32_t index, const uint8_t *image, int imageSize)
{
    const int n = pieceDataLength(index, imageSize);
    uint8_t payload[kMaxPayload];
    ByteWriter w(payload, sizeof payload);
    w.i32(index).i32(imageSize);
    if (n > 0 && image)
        w.bytes(image + pieceOffset(index), static_cast<size_t>(n));
    return makePacket(code, payload, kPieceHeader + (image ? n : 0));
}

std::vector<PieceRun> missingRuns(const std::vector<bool> &received, int group)
{
    std::vector<PieceRun> runs;
    if (group < 0 || group >= kAcGroups)
        return runs;
    const int first = group * kGroupPieces;
    const int end = first + kGroupPieces;
    int runStart = -1;
    for (int i = first; i < end; ++i) {
        const bool have = i < static_cast<int>(received.size()) && received[static_cast<size_t>(i)];
        if (!have && runStart < 0)
            runStart = i;
        if (have && runStart >= 0) {
            runs.push_back({runStart, i - 1});
            runStart = -1;
        }
    }
    if (runStart >= 0)
        runs.push_back({runStart, end - 1});
    return runs;
}

int missingCount(const std::vector<PieceRun> &runs)
{
    int n = 0;
    for (const PieceRun &r : runs)
        n += r.last - r.first + 1;
    return n;
}

std::array<uint8_t, 2> encodeAcSendImg(uint8_t kind, uint8_t group)
{
    return {kind, group};
}

std::array<uint8_t, 12> encodeAcSendImgPart(int32_t kind, int32_t first, int32_t last)
{
    std::array<uint8_t, 12> out{};
    ByteWriter(out.data(), out.size()).i32(kind).i32(first).i32(last);
    return out;
}

std::optional<AcSendImgPart> decodeAcSendImgPart(const uint8_t *payload, int length)
{
    if (!payload || length < 12)
        return std::nullopt;
    ByteReader r(payload, 12);
    AcSendImgPart p;
    p.kind = r.i32();
    p.first = r.i32();
    p.last = r.i32();
    return r.ok() ? std::optional<AcSendImgPart>(p) : std::nullopt;
}

int maskPartOffset(int part)
{
    return part * kMaskPartBytes;
}

int maskPartLength(int part)
{
    if (part < 0 || part > kMaskLastPart)
        return 0;
    return part == kMaskLastPart ? kMaskLastPartBytes : kMaskPartBytes;
}

bool parseMaskPart(const PacketView &p, MaskPart &out)
{
    out = MaskPart{};
    if (!p.payload)
        return false;
    const int index = p.payload[0];
    if (index > kMaskLastPart)
        return false;
    out.index = index;
    out.data = p.payload + 1;
    // 1 + 503 bytes fit the 504-byte payload exactly; the module's length field is
    // not what decides how much is taken.
    out.dataLen = maskPartLength(index);
    return true;
}

PacketBuffer buildMaskPart(int part, const uint8_t *mask, int maskSize)
{
    const int n = maskPartLength(part);
    uint8_t payload[kMaxPayload] = {};
    payload[0] = static_cast<uint8_t>(part);
    const int off = maskPartOffset(part);
    int copy = 0;
    if (mask && n > 0 && off < maskSize)
        copy = std::min(n, maskSize - off);
    if (copy > 0)
        std::memcpy(payload + 1, mask + off, static_cast<size_t>(copy));
    return makePacket(DAT_MASK, payload, 1 + n);
}

int trackingRecordCount(int length)
{
    if (length < 0 || length > kMaxPayload || length % kTrackingRecordSize != 0)
        return -1;
    return length / kTrackingRecordSize;
}

TrackingRecords::TrackingRecords(const uint8_t *payload, int length) : m_payload(payload), m_length(length)
{
    const int n = trackingRecordCount(length);
    m_ok = n >= 0 && (n == 0 || payload);
    m_count = m_ok ? n : 0;
}

std::vector<TrackingRecord> decodeTracking(const uint8_t *payload, int length)
{
    const TrackingRecords records(payload, length);
    std::vector<TrackingRecord> out;
    out.reserve(static_cast<size_t>(records.size()));
    for (const TrackingRecord &t : records)
        out.push_back(t);
    return out;
}

std::vector<uint8_t> encodeTracking(const std::vector<TrackingRecord> &records)
{
    std::vector<uint8_t> out(records.size() * kTrackingRecordSize);
    ByteWriter w(out.data(), out.size());
    for (const TrackingRecord &t : records)
        w.u16(t.x).i16(t.y).i16(t.weight);
    return out;
}

} // namespace tl::codec
