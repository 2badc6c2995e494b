// Image pieces, missing runs, mask parts and tracking records.
#include "device/codec/ByteIO.h"
#include "device/codec/Commands.h"
#include "device/codec/Image.h"

#include <gtest/gtest.h>

#include <vector>

using namespace tl::codec;

namespace {

PacketBuffer rawPiece(int32_t code, int32_t index, int32_t total, int32_t length, uint8_t fill)
{
    PacketBuffer b;
    b.fill(0);
    ByteWriter w(b.data(), b.size());
    w.i32(code).i32(length).i32(index).i32(total);
    for (int i = 16; i < 512; ++i)
        b[static_cast<size_t>(i)] = fill;
    return b;
}

std::vector<uint8_t> image(int n)
{
    std::vector<uint8_t> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        v[static_cast<size_t>(i)] = static_cast<uint8_t>((i * 31) ^ (i >> 8));
    return v;
}

} // namespace

TEST(ImagePieces, PlacementByGroup)
{
    EXPECT_EQ(pieceOffset(0), 0);
    EXPECT_EQ(pieceOffset(1), 496);
    EXPECT_EQ(pieceOffset(23), 23 * 496);
    EXPECT_EQ(pieceOffset(24), 11520);
    EXPECT_EQ(pieceOffset(25), 11520 + 496);
    EXPECT_EQ(pieceOffset(1919), 79 * 11520 + 23 * 496);
    EXPECT_EQ(pieceOffset(INT32_MAX), (int64_t(INT32_MAX) / 24) * 11520 + (INT32_MAX % 24) * 496);
    // Piece 23 carries 112 bytes and ends exactly at the group's end.
    EXPECT_EQ(pieceDataLength(23, kAcImageBytes), 112);
    EXPECT_EQ(pieceOffset(23) + 112, 11520);
    EXPECT_EQ(pieceDataLength(22, kAcImageBytes), 496);
    EXPECT_EQ(piecesForImage(kAcImageBytes), 1920);
    EXPECT_EQ(piecesForImage(kFrameBytes), 480);
    EXPECT_EQ(pieceDataLength(1920, kAcImageBytes), 0);
}

TEST(ImagePieces, RoundTripOfAWholeImage)
{
    const auto src = image(kFrameBytes);
    std::vector<uint8_t> dst(kFrameBufferBytes, 0);
    for (int i = 0; i < piecesForImage(kFrameBytes); ++i) {
        const PacketBuffer pkt = buildImagePiece(DAT_IMG, i, src.data(), kFrameBytes);
        PacketView v;
        ASSERT_EQ(parsePacket(pkt, 512, v), PacketError::None);
        ImagePiece p;
        ASSERT_EQ(parseImagePiece(v, p), PieceError::None);
        EXPECT_EQ(p.totalSize, kFrameBytes);
        ASSERT_TRUE(placePiece(p, dst.data(), dst.size()));
    }
    EXPECT_TRUE(std::equal(src.begin(), src.end(), dst.begin()));
}

TEST(ImagePieces, MalformedPiecesRefused)
{
    PacketView v;
    ImagePiece p;
    // Length below 8: no index and size.
    auto b = rawPiece(DAT_AC_IMAGE, 0, 100, 7, 1);
    ASSERT_EQ(parsePacket(b, 512, v), PacketError::None);
    EXPECT_EQ(parseImagePiece(v, p), PieceError::ShortLength);
    // The largest frame length gives exactly 496 data bytes; more is refused by the frame.
    b = rawPiece(DAT_AC_IMAGE, 0, 100, 504, 1);
    ASSERT_EQ(parsePacket(b, 512, v), PacketError::None);
    ASSERT_EQ(parseImagePiece(v, p), PieceError::None);
    EXPECT_EQ(p.dataLen, 496);
    b = rawPiece(DAT_AC_IMAGE, -1, 100, 100, 1);
    ASSERT_EQ(parsePacket(b, 512, v), PacketError::None);
    EXPECT_EQ(parseImagePiece(v, p), PieceError::NegativeIndex);
    b = rawPiece(DAT_AC_IMAGE, 0, 100, 600, 1);
    EXPECT_EQ(parsePacket(b, 512, v), PacketError::BadLength);
}

TEST(ImagePieces, PlacementNeverLeavesTheBuffer)
{
    // A guard byte after the destination shows any write past it.
    std::vector<uint8_t> buf(kFrameBufferBytes + 1, 0);
    const size_t size = kFrameBufferBytes;
    buf[size] = 0x5A;
    PacketView v;
    ImagePiece p;
    int placed = 0;
    for (int32_t index : {7678, 7679, 7680, 100000, INT32_MAX}) {
        const auto b = rawPiece(DAT_IMG, index, 1, 8 + 496, 0xEE);
        ASSERT_EQ(parsePacket(b, 512, v), PacketError::None);
        ASSERT_EQ(parseImagePiece(v, p), PieceError::None);
        const bool inside = pieceOffset(index) + 496 <= int64_t(size);
        EXPECT_EQ(placePiece(p, buf.data(), size), inside) << index;
        placed += inside;
    }
    EXPECT_EQ(placed, 1);   // only 7678 fits: 7679 would end 384 bytes past the buffer
    EXPECT_EQ(buf[size], 0x5A);
    EXPECT_EQ(buf[size - 1], 0);   // 7678 ends before the buffer's last bytes
}

TEST(MissingRuns, SplitIntoMaximalRunsWithinTheGroup)
{
    std::vector<bool> got(kAcPieces, true);
    const int g = 5;
    for (int d : {3, 4, 5, 17})
        got[static_cast<size_t>(g * 24 + d)] = false;
    const auto runs = missingRuns(got, g);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0], (PieceRun{g * 24 + 3, g * 24 + 5}));
    EXPECT_EQ(runs[1], (PieceRun{g * 24 + 17, g * 24 + 17}));
    EXPECT_EQ(missingCount(runs), 4);

    // Missing pieces across a group boundary belong to two groups.
    got.assign(kAcPieces, true);
    for (int d = 20; d < 28; ++d)
        got[static_cast<size_t>(d)] = false;
    EXPECT_EQ(missingRuns(got, 0), (std::vector<PieceRun>{{20, 23}}));
    EXPECT_EQ(missingRuns(got, 1), (std::vector<PieceRun>{{24, 27}}));

    got.assign(kAcPieces, false);
    EXPECT_EQ(missingRuns(got, 79), (std::vector<PieceRun>{{1896, 1919}}));
    EXPECT_TRUE(missingRuns(got, 80).empty());
    EXPECT_TRUE(missingRuns(got, -1).empty());
    EXPECT_TRUE(missingRuns(std::vector<bool>(10, true), 3).size() == 1);  // a short map counts as missing
}

TEST(AcRequests, Payloads)
{
    EXPECT_EQ(encodeAcSendImg(101, 79), (std::array<uint8_t, 2>{101, 79}));
    const auto p = encodeAcSendImgPart(103, 123, 125);
    const auto d = decodeAcSendImgPart(p.data(), 12);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->kind, 103);
    EXPECT_EQ(d->first, 123);
    EXPECT_EQ(d->last, 125);
    EXPECT_EQ(p[4], 123);
    EXPECT_FALSE(decodeAcSendImgPart(p.data(), 11));
}

TEST(MaskParts, LayoutAndBounds)
{
    EXPECT_EQ(maskPartOffset(57), 28671);
    EXPECT_EQ(maskPartLength(57), 130);
    EXPECT_EQ(maskPartLength(0), 503);
    EXPECT_EQ(maskPartLength(58), 0);
    const auto mask = image(kMaskSize);
    std::vector<uint8_t> back(kMaskSize, 0);
    int total = 0;
    for (int part = 0; part < kMaskParts; ++part) {
        const PacketBuffer b = buildMaskPart(part, mask.data(), kMaskSize);
        PacketView v;
        ASSERT_EQ(parsePacket(b, 512, v), PacketError::None);
        EXPECT_EQ(v.code, DAT_MASK);
        EXPECT_EQ(v.length, 1 + maskPartLength(part));
        MaskPart m;
        ASSERT_TRUE(parseMaskPart(v, m));
        ASSERT_EQ(m.index, part);
        std::copy(m.data, m.data + m.dataLen, back.begin() + maskPartOffset(part));
        total += m.dataLen;
    }
    EXPECT_EQ(total, 28801);
    EXPECT_EQ(back, mask);

    PacketBuffer bad = makePacket(DAT_MASK);
    bad[8] = 58;
    PacketView v;
    ASSERT_EQ(parsePacket(bad, 512, v), PacketError::None);
    MaskPart m;
    EXPECT_FALSE(parseMaskPart(v, m));
    bad[8] = 255;
    EXPECT_FALSE(parseMaskPart(v, m));
}

TEST(TrackingRecords, WholeRecordsOnly)
{
    EXPECT_EQ(trackingRecordCount(0), 0);
    EXPECT_EQ(trackingRecordCount(6), 1);
    EXPECT_EQ(trackingRecordCount(504), 84);
    EXPECT_EQ(trackingRecordCount(7), -1);
    EXPECT_EQ(trackingRecordCount(-6), -1);
    EXPECT_EQ(trackingRecordCount(510), -1);
    const std::vector<TrackingRecord> recs = {{4799, 2999, 12}, {0, -1, 300}};
    const auto bytes = encodeTracking(recs);
    ASSERT_EQ(bytes.size(), 12u);
    EXPECT_EQ(bytes[0], 0xBF);   // 4799 = 0x12BF
    EXPECT_EQ(bytes[1], 0x12);
    const auto back = decodeTracking(bytes.data(), 12);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].x, 4799);
    EXPECT_EQ(back[1].y, -1);
    EXPECT_EQ(back[1].weight, 300);
    EXPECT_TRUE(decodeTracking(bytes.data(), 11).empty());
}
