// Packet trace texts, one per format.
#include "device/codec/ByteIO.h"
#include "device/codec/Commands.h"
#include "device/codec/Trace.h"

#include <QString>
#include <QTime>
#include <gtest/gtest.h>

using namespace tl::codec;

namespace {

QString text(int32_t code, std::initializer_list<uint8_t> payload, int length = -1)
{
    std::vector<uint8_t> p(payload);
    PacketBuffer b = makePacket(code, p.data(), int(p.size()));
    if (length >= 0)
        ByteWriter(b.data(), b.size()).seek(4).i32(length);
    return QString::fromStdString(packetTraceText(b));
}

QString withWriter(int32_t code, int length, const std::function<void(ByteWriter &)> &fill)
{
    PacketBuffer b = makePacket(code);
    ByteWriter w(b.data(), b.size());
    w.seek(4).i32(length);
    fill(w);
    return QString::fromStdString(packetTraceText(b));
}

} // namespace

TEST(PacketTrace, VersionAndRegisterFormats)
{
    EXPECT_EQ(text(CMD_SENDVERSION, {}), "[0x1003]CMD_SENDVERSION : Len[0]");
    EXPECT_EQ(text(DAT_VERSION, {40, 5}), "[0x1004]DAT_VERSION : Len[2], Vers[40.05]");
    EXPECT_EQ(text(CMD_IIC_WR, {0x0A, 0x35, 0x12}), "[0x1006]CMD_IIC_WR : RegAddr[0x350A], Data[0x12]");
    EXPECT_EQ(text(CMD_IIC_RD, {0x0B, 0x35, 0xFF}), "[0x1005]CMD_IIC_RD : RegAddr[0x350B], Data[0xFF]");
}

TEST(PacketTrace, AckByLength)
{
    EXPECT_EQ(text(RES_ACK, {}), "[0x100C]RES_ACK : Len[0]");
    EXPECT_EQ(text(RES_ACK, {0x0F, 0x11, 0, 0}), "[0x100C]RES_ACK : Len[4], Data[4367 = 0x110F]");
    EXPECT_EQ(withWriter(RES_ACK, 16, [](ByteWriter &w) { w.f64(1.5).f64(-2.25); }),
              "[0x100C]RES_ACK : Len[16],Data[1.500000, -2.250000]");
    EXPECT_EQ(withWriter(RES_ACK, 44,
                         [](ByteWriter &w) {
                             w.f64(1).f64(2);
                             for (int i = 3; i <= 9; ++i)
                                 w.i32(i);
                         }),
              "[0x100C]RES_ACK : Len[44],Data[1.000000, 2.000000, 3, 4, 5, 6, 7, 8, 9]");
    EXPECT_EQ(text(RES_ACK, {1, 2, 3}), "");
}

TEST(PacketTrace, NakNamesTheRefusedCommand)
{
    EXPECT_EQ(text(RES_NAK, {0x0F, 0x11, 0, 0}), "[0x100D]RES_NAK : Len[4],Data[CMD_START_TRACKING]");
    EXPECT_EQ(text(RES_NAK, {0x2E, 0x11, 0, 0}), "[0x100D]RES_NAK : Len[4],Data[Invalid Command]");
}

TEST(PacketTrace, LengthOnlyAndDataFormats)
{
    EXPECT_EQ(text(CMD_GET_EEPROM, {}), "[0x111C]CMD_GET_EEPROM : Len[0]");
    EXPECT_EQ(text(DAT_TC_DUAL_MODE, {1, 2, 3, 4, 5, 6}), "[0x111E]DAT_TC_DUAL_MODE : Len[6]");
    EXPECT_EQ(text(CMD_SET_CALIB_PARAMETER, {}, 370), "[0x1123]CMD_SET_CALIB_PARAMETER : Len[370]");
    EXPECT_EQ(text(RES_AC_BLACK_END, {}), "[0x1014]RES_AC_BLACK_END : Len[0]");
    EXPECT_EQ(text(CMD_MC_PATTERN_START, {0x0A, 0, 0, 0}), "[0x1107]CMD_MC_PATTERN_START : Data[a]");
    EXPECT_EQ(text(CMD_STOP_TRACKING, {}), "[0x1110]CMD_STOP_TRACKING : Data[0]");
    EXPECT_EQ(text(CMD_AC_SENDIMG, {101, 7}), "[0x1013]CMD_AC_SENDIMG : Len[2], Data[101, 7]");
    EXPECT_EQ(text(DAT_OPTION, {1, 2, 3, 4}), "[0x1119]DAT_OPTION : Len[4], Option[1, 2]");
    EXPECT_EQ(text(CMD_SET_TRANSFER_MODE, {2, 0, 0, 0}), "[0x1117]CMD_SET_TRANSFER_MODE : Len[4], Data[2]");
    EXPECT_EQ(text(CMD_SET_FINGER_TOUCH_MODE, {1, 0, 0, 0}),
              "[0x1112]CMD_SET_FINGER_TOUCH_MODE : Len[4], Data[1]");
    EXPECT_EQ(text(CMD_SET_IMAGE_REVERSE, {1, 0, 0, 0}), "[0x1128]CMD_SET_IMAGE_REVERSE : Len[4], Data[1]");
    EXPECT_EQ(text(CMD_TC_DEBUG_SENDIMG, {0x2C, 1, 0, 0}), "[0x1114]CMD_TC_DEBUG_SENDIMG : Len[4], Data[300]");
    EXPECT_EQ(withWriter(CMD_SET_FIX_COORD_RATIO, 12, [](ByteWriter &w) { w.i32(1).f64(0.5); }),
              "[0x112A]CMD_SET_FIX_COORD_RATIO : Len[12], Data[1, 0.500000]");
}

TEST(PacketTrace, SilentAndUnknownCodes)
{
    for (int32_t c : {DAT_IMGEND, DAT_AC_IMAGE, DAT_AC_IMGEND, CMD_SCRIVO_START, CMD_SCRIVO_END, CMD_SCRIVO_ALIVE,
                      DAT_TC_CUSTOM_HID, RES_DEBUG})
        EXPECT_EQ(text(c, {}), "") << std::hex << c;
    EXPECT_EQ(text(0x4242, {}, 3), "[0x4242]Invalid Cmd : Len[3]");
    EXPECT_EQ(text(DAT_MASK, {}, 504), "[0x112D]Invalid Cmd : Len[504]");
    // A refused length is still shown as it arrived.
    EXPECT_EQ(text(CMD_GET_EEPROM, {}, 9999), "[0x111C]CMD_GET_EEPROM : Len[9999]");
}

TEST(PacketTrace, LineCarriesTimeAndModule)
{
    EXPECT_EQ(packetTraceLine(QTime(9, 5, 7, 42).msecsSinceStartOfDay(), 1, "x"), "09:05:07.042 [1] x");
}
