#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "device/codec/ByteIO.h"
#include "device/codec/Packet.h"

namespace tl::codec {

// ---- Image pieces --------------------------------------------------------------
// Payload of DAT_IMG, DAT_AC_IMAGE, DAT_AC_IMAGE_PART and DAT_TC_IMAGE: int32
// piece index, int32 total image size, then the piece's data (length field - 8
// bytes, at most 496). Pieces come in groups of 24 covering 11,520 bytes: 23
// pieces of 496 bytes and a last one of 112.

constexpr int kPieceHeader = 8;
constexpr int kPieceData = 496;
constexpr int kGroupPieces = 24;
constexpr int kGroupBytes = 11520;
constexpr int kLastPieceData = kGroupBytes - (kGroupPieces - 1) * kPieceData;  // 112

constexpr int kFrameWidth = 640;
constexpr int kFrameHeight = 360;
constexpr int kFrameBytes = kFrameWidth * kFrameHeight;            // 230,400 = 20 groups
constexpr int kAcImageWidth = 1280;
constexpr int kAcImageHeight = 720;
constexpr int kAcImageBytes = kAcImageWidth * kAcImageHeight;      // 921,600 = 80 groups
constexpr int kAcGroups = kAcImageBytes / kGroupBytes;             // 80
constexpr int kAcPieces = kAcGroups * kGroupPieces;                // 1,920
constexpr int kFrameBufferBytes = 3686400;                         // one per module index

struct ImagePiece
{
    int32_t index = 0;
    int32_t totalSize = 0;
    const uint8_t *data = nullptr;
    int dataLen = 0;         // 0..496
};

enum class PieceError {
    None,
    ShortLength,     // length field below 8: no index and size
    LongData,        // more than 496 data bytes
    NegativeIndex,
};
const char *pieceErrorText(PieceError e);

PieceError parseImagePiece(const PacketView &p, ImagePiece &out);

// Byte offset of piece d in the image: (d / 24) * 11,520 + (d % 24) * 496.
// Computed in 64 bits: a module-sent index can be as large as 2^31 - 1.
int64_t pieceOffset(int32_t index);

// Copies a piece to its place in `dest`. False, writing nothing, when the piece
// would reach outside [dest, dest + destSize).
bool placePiece(const ImagePiece &piece, uint8_t *dest, size_t destSize);

// Data bytes of piece `index` in an image of `imageSize` bytes (the module side):
// 496, or 112 for the last piece of a group, cut at the end of the image.
int pieceDataLength(int32_t index, int imageSize);
int piecesForImage(int imageSize);

// One image piece packet. `data` holds the whole image; the piece's bytes are
// taken from its place. Used by the emulator and by tests.
PacketBuffer buildImagePiece(int32_t code, int32_t index, const uint8_t *image, int imageSize);

// ---- Missing runs of an auto-calibration group --------------------------------

struct PieceRun
{
    int first = 0;   // inclusive piece indices
    int last = 0;
    bool operator==(const PieceRun &o) const { return first == o.first && last == o.last; }
};

// Maximal runs of pieces not marked received among group g's pieces
// g*24 .. g*24+23 (never crossing a group). A group outside 0..79 has no pieces
// and so no runs. `received` holds the 1,920 received flags.
std::vector<PieceRun> missingRuns(const std::vector<bool> &received, int group);
int missingCount(const std::vector<PieceRun> &runs);

// CMD_AC_SENDIMG payload: uint8 kind, uint8 group.
std::array<uint8_t, 2> encodeAcSendImg(uint8_t kind, uint8_t group);
// CMD_AC_SENDIMG_PART payload: int32 kind, int32 first, int32 last.
std::array<uint8_t, 12> encodeAcSendImgPart(int32_t kind, int32_t first, int32_t last);
struct AcSendImgPart
{
    int32_t kind = 0;
    int32_t first = 0;
    int32_t last = 0;
};
std::optional<AcSendImgPart> decodeAcSendImgPart(const uint8_t *payload, int length);

// Image kinds the calibration flow asks for.
constexpr uint8_t kImageBlack = 101;
constexpr uint8_t kImageWhite = 102;
constexpr uint8_t kImagePattern = 103;

// ---- Mask record ---------------------------------------------------------------
// 28,801 bytes: the bit mask in bytes 0..28,799 and the enable byte at 28,800.
// Downloaded in 58 parts (0..56 of 503 bytes, 57 of the last 130); a DAT_MASK
// payload is uint8 part index then the part's bytes.

constexpr int kMaskSize = 28801;
constexpr int kMaskEnableOffset = 28800;
constexpr int kMaskParts = 58;
constexpr int kMaskLastPart = kMaskParts - 1;                           // 57
constexpr int kMaskPartBytes = 503;
constexpr int kMaskLastPartBytes = kMaskSize - kMaskLastPart * kMaskPartBytes;  // 130

int maskPartOffset(int part);
int maskPartLength(int part);   // 0 outside 0..57

struct MaskPart
{
    int index = 0;
    const uint8_t *data = nullptr;   // maskPartLength(index) bytes, inside the packet buffer
    int dataLen = 0;
};
// False for a part index above 57. The data always lies inside the packet
// buffer (payload offset 1, at most 503 bytes).
bool parseMaskPart(const PacketView &p, MaskPart &out);
PacketBuffer buildMaskPart(int part, const uint8_t *mask, int maskSize);

// ---- Tracking records ----------------------------------------------------------
// DAT_TC_DUAL_MODE payload: records of 6 bytes (uint16 x, int16 y, int16 weight).

constexpr int kTrackingRecordSize = 6;
struct TrackingRecord
{
    uint16_t x = 0;
    int16_t y = 0;
    int16_t weight = 0;
};
// Number of records, or -1 when the length is not a whole number of records
// (or lies outside the payload).
int trackingRecordCount(int length);

// The records of one payload, read in place through a ByteReader as they are
// iterated: nothing is copied or allocated, so the receive thread can walk a
// report without a heap. A length that trackingRecordCount() refuses, or
// records without bytes behind them, make a view that is not ok() and holds no
// record.
class TrackingRecords
{
public:
    TrackingRecords(const uint8_t *payload, int length);

    bool ok() const { return m_ok; }
    int size() const { return m_count; }

    class Iterator
    {
    public:
        Iterator(const ByteReader &reader, int i) : m_reader(reader), m_i(i) {}
        TrackingRecord operator*() const
        {
            ByteReader r = m_reader;
            TrackingRecord t;
            t.x = r.u16();
            t.y = r.i16();
            t.weight = r.i16();
            return r.ok() ? t : TrackingRecord{};
        }
        Iterator &operator++()
        {
            m_reader.skip(kTrackingRecordSize);
            ++m_i;
            return *this;
        }
        bool operator!=(const Iterator &o) const { return m_i != o.m_i; }

    private:
        ByteReader m_reader;  // at the record's first byte
        int m_i;
    };
    Iterator begin() const { return Iterator(ByteReader(m_payload, m_ok ? size_t(m_length) : 0), 0); }
    Iterator end() const { return Iterator(ByteReader(nullptr, 0), m_count); }

private:
    const uint8_t *m_payload;
    int m_length;
    int m_count = 0;
    bool m_ok = false;
};

// The same records copied out (tools and tests); empty where the view is not ok().
std::vector<TrackingRecord> decodeTracking(const uint8_t *payload, int length);
std::vector<uint8_t> encodeTracking(const std::vector<TrackingRecord> &records);

} // namespace tl::codec
