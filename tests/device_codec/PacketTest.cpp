// Packet frame, fragments and the command table, byte for byte.
#include "device/codec/ByteIO.h"
#include "device/codec/Commands.h"
#include "device/codec/Packet.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

using namespace tl::codec;

namespace {

int32_t le32(const PacketBuffer &b, int off)
{
    return static_cast<int32_t>(b[off] | (b[off + 1] << 8) | (b[off + 2] << 16) | (uint32_t(b[off + 3]) << 24));
}

std::vector<uint8_t> counting(int n)
{
    std::vector<uint8_t> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        v[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + 3);
    return v;
}

// Reassembles fragments the way the module does, checking each frame on the way.
std::vector<uint8_t> reassemble(const std::vector<PacketBuffer> &pieces, int32_t code)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i < pieces.size(); ++i) {
        EXPECT_EQ(le32(pieces[i], 0), code);
        FragmentView f;
        EXPECT_TRUE(parseFragment(pieces[i], f));
        EXPECT_EQ(f.index, static_cast<int>(i));
        out.insert(out.end(), f.data, f.data + f.dataLen);
    }
    return out;
}

} // namespace

TEST(PacketFrame, HeaderPayloadAndZeroTail)
{
    const std::vector<uint8_t> payload = {0x11, 0x22, 0x33};
    PacketBuffer b;
    ASSERT_TRUE(buildPacket(0x1006, payload.data(), 3, b));
    EXPECT_EQ(b[0], 0x06);
    EXPECT_EQ(b[1], 0x10);
    EXPECT_EQ(b[2], 0x00);
    EXPECT_EQ(b[3], 0x00);
    EXPECT_EQ(le32(b, 4), 3);
    EXPECT_EQ(b[8], 0x11);
    EXPECT_EQ(b[9], 0x22);
    EXPECT_EQ(b[10], 0x33);
    for (int i = 11; i < kPacketSize; ++i)
        ASSERT_EQ(b[i], 0) << "byte " << i;
}

TEST(PacketFrame, LargestSinglePacketAndRefusals)
{
    const auto p504 = counting(504);
    PacketBuffer b;
    ASSERT_TRUE(buildPacket(0x112E, p504.data(), 504, b));
    EXPECT_EQ(le32(b, 4), 504);
    EXPECT_TRUE(std::equal(p504.begin(), p504.end(), b.begin() + 8));

    const auto p505 = counting(505);
    EXPECT_FALSE(buildPacket(0x112E, p505.data(), 505, b));
    EXPECT_FALSE(buildPacket(0x112E, p505.data(), -1, b));
    EXPECT_FALSE(buildPacket(0x112E, nullptr, 4, b));
    for (uint8_t v : b)
        ASSERT_EQ(v, 0);
}

TEST(PacketFrame, ParseChecksLengthAndHeader)
{
    PacketBuffer b = makePacketI32(RES_ACK, 0x110F);
    PacketView v;
    ASSERT_EQ(parsePacket(b, 512, v), PacketError::None);
    EXPECT_EQ(v.code, RES_ACK);
    EXPECT_EQ(v.length, 4);
    EXPECT_EQ(payloadI32(v, 0), 0x110F);

    EXPECT_EQ(parsePacket(b, 7, v), PacketError::ShortRead);
    EXPECT_EQ(parsePacket(b, 8, v), PacketError::None);

    // Length fields outside 0..504 are refused, whatever the code.
    for (int32_t bad : {505, 512, 600, -1, INT32_MIN, INT32_MAX}) {
        ByteWriter(b.data(), b.size()).seek(4).i32(bad);
        ASSERT_EQ(parsePacket(b, 512, v), PacketError::BadLength) << bad;
        EXPECT_EQ(v.length, 0);
        EXPECT_EQ(v.rawLength, bad);
    }
    ByteWriter(b.data(), b.size()).seek(4).i32(504);
    EXPECT_EQ(parsePacket(b, 512, v), PacketError::None);
}

TEST(PacketFrame, PayloadReadersStayInsidePayload)
{
    PacketBuffer b = makePacket(DAT_VERSION);
    b[511] = 0xAB;
    PacketView v;
    ASSERT_EQ(parsePacket(b, 512, v), PacketError::None);
    EXPECT_EQ(payloadU8(v, 503), 0xAB);
    EXPECT_EQ(payloadU8(v, 504), 0);     // one past the payload
    EXPECT_EQ(payloadI32(v, 502), 0);    // would straddle the end
    EXPECT_EQ(payloadF64(v, 500), 0.0);
    EXPECT_EQ(payloadI32(v, -4), 0);
}

TEST(Fragments, FiveHundredFiveBytes)
{
    const auto payload = counting(505);
    const auto pieces = buildFragments(CMD_SET_MASK, payload.data(), 505);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(le32(pieces[0], 4), 512);
    EXPECT_EQ(pieces[0][8], 0);
    EXPECT_EQ(le32(pieces[1], 4), 10);   // 2 data bytes + 8
    EXPECT_EQ(pieces[1][8], 1);
    EXPECT_EQ(pieces[1][9], payload[503]);
    EXPECT_EQ(pieces[1][10], payload[504]);
    for (int i = 11; i < 512; ++i)
        ASSERT_EQ(pieces[1][i], 0);
    EXPECT_EQ(reassemble(pieces, CMD_SET_MASK), payload);
}

TEST(Fragments, ExactMultipleOf503)
{
    const auto payload = counting(1006);
    const auto pieces = buildFragments(CMD_SET_MASK, payload.data(), 1006);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(le32(pieces[0], 4), 512);
    EXPECT_EQ(le32(pieces[1], 4), 511);  // a last piece of 503 bytes says 511, not 512
    EXPECT_EQ(pieces[1][8], 1);
    EXPECT_EQ(pieces[1][511], payload[1005]);
    EXPECT_EQ(reassemble(pieces, CMD_SET_MASK), payload);
}

TEST(Fragments, MaskRecord)
{
    const auto payload = counting(28801);
    const auto pieces = buildFragments(CMD_SET_MASK, payload.data(), 28801);
    ASSERT_EQ(pieces.size(), 58u);
    EXPECT_EQ(fragmentCount(28801), 58);
    for (int i = 0; i < 57; ++i) {
        ASSERT_EQ(le32(pieces[i], 4), 512) << i;
        ASSERT_EQ(pieces[i][8], i);
        ASSERT_EQ(pieces[i][9], payload[static_cast<size_t>(i * 503)]);
        ASSERT_EQ(pieces[i][511], payload[static_cast<size_t>(i * 503 + 502)]);
    }
    EXPECT_EQ(pieces[57][8], 57);
    EXPECT_EQ(le32(pieces[57], 4), 138);   // 130 data bytes + 8
    EXPECT_EQ(pieces[57][9 + 129], payload[28800]);
    EXPECT_EQ(pieces[57][9 + 130], 0);
    EXPECT_EQ(reassemble(pieces, CMD_SET_MASK), payload);
}

TEST(Fragments, RefusedInputs)
{
    const auto big = counting(503 * 257);
    EXPECT_TRUE(buildFragments(CMD_SET_MASK, big.data(), 503 * 257).empty());  // index is one byte
    EXPECT_EQ(buildFragments(CMD_SET_MASK, big.data(), 503 * 256).size(), 256u);
    EXPECT_TRUE(buildFragments(CMD_SET_MASK, nullptr, 600).empty());
    EXPECT_TRUE(buildFragments(CMD_SET_MASK, big.data(), 0).empty());

    PacketBuffer b = makePacket(CMD_SET_MASK);
    FragmentView f;
    for (int32_t bad : {0, 8, 513, -1}) {
        ByteWriter(b.data(), b.size()).seek(4).i32(bad);
        EXPECT_FALSE(parseFragment(b, f)) << bad;
    }
    ByteWriter(b.data(), b.size()).seek(4).i32(9);
    ASSERT_TRUE(parseFragment(b, f));
    EXPECT_EQ(f.dataLen, 1);
    EXPECT_TRUE(f.last);
}

TEST(CommandTable, NamesAndLookup)
{
    EXPECT_STREQ(codeName(0x1003), "CMD_SENDVERSION");
    EXPECT_STREQ(codeName(0x112E), "CMD_SET_MASK");
    EXPECT_STREQ(codeName(0x111E), "DAT_TC_DUAL_MODE");
    EXPECT_EQ(codeName(0x1007), nullptr);
    EXPECT_EQ(codeName(0x1113), nullptr);

    // The refusal lookup knows only its own subset.
    for (int32_t c : {0x1003, 0x1004, 0x1005, 0x1006, 0x100A, 0x100B, 0x100C, 0x100D, 0x1010, 0x1015, 0x101B,
                      0x1020, 0x1100, 0x1107, 0x1109, 0x110A, 0x110B, 0x110E, 0x110F, 0x1110, 0x1114, 0x1119})
        EXPECT_STREQ(commandName(c), codeName(c)) << std::hex << c;
    for (int32_t c : {0x1008, 0x1009, 0x1108, 0x110C, 0x110D, 0x1111, 0x1112, 0x111A, 0x111C, 0x1123, 0x112E,
                      0x0, -1, 0x7FFFFFFF})
        EXPECT_STREQ(commandName(c), "Invalid Command") << std::hex << c;
}

TEST(CommandTable, ExpectedAnswers)
{
    EXPECT_EQ(expectedAnswer(CMD_SENDVERSION), DAT_VERSION);
    EXPECT_EQ(expectedAnswer(CMD_SEND_OPTION), DAT_OPTION);
    EXPECT_EQ(expectedAnswer(CMD_GET_EEPROM), DAT_EEPROM);
    EXPECT_EQ(expectedAnswer(CMD_GET_MASK), DAT_MASK);
    EXPECT_EQ(expectedAnswer(CMD_START_TRACKING), RES_ACK);
    EXPECT_EQ(expectedAnswer(CMD_STOP_TRACKING), RES_ACK);
    EXPECT_EQ(expectedAnswer(CMD_SET_FINGER_TOUCH_MODE), RES_ACK);
    EXPECT_EQ(expectedAnswer(CMD_SET_MASK), 0);
    EXPECT_EQ(expectedAnswer(CMD_AC_SENDIMG), 0);
}

TEST(ByteIO, ReaderFailsStickyAtTheEnd)
{
    const uint8_t data[5] = {1, 2, 3, 4, 5};
    ByteReader r(data, sizeof data);
    EXPECT_EQ(r.u32(), 0x04030201u);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.u16(), 0);   // only one byte left
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.u8(), 0);    // stays failed
    ByteReader s(data, sizeof data);
    s.seek(6);
    EXPECT_FALSE(s.ok());

    uint8_t out[3] = {9, 9, 9};
    ByteWriter w(out, sizeof out);
    w.u16(0xBEEF).u16(0x1234);
    EXPECT_FALSE(w.ok());
    EXPECT_EQ(out[0], 0xEF);
    EXPECT_EQ(out[1], 0xBE);
    EXPECT_EQ(out[2], 9);    // the write that did not fit wrote nothing
}
