// Device records at their byte offsets, and the lens/firmware tables.
#include "device/codec/ByteIO.h"
#include "device/codec/Records.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <cstring>

using namespace tl::codec;

namespace {

QStringList qtLines(const TextLines &lines)
{
    QStringList out;
    for (const std::string &l : lines)
        out << QString::fromStdString(l);
    return out;
}

template <size_t N>
uint16_t u16At(const std::array<uint8_t, N> &b, size_t off)
{
    return static_cast<uint16_t>(b[off] | (b[off + 1] << 8));
}

template <size_t N>
int32_t i32At(const std::array<uint8_t, N> &b, size_t off)
{
    return static_cast<int32_t>(b[off] | (b[off + 1] << 8) | (b[off + 2] << 16) | (uint32_t(b[off + 3]) << 24));
}

template <size_t N>
double f64At(const std::array<uint8_t, N> &b, size_t off)
{
    ByteReader r(b.data() + off, 8);
    return r.f64();
}

template <size_t N>
float f32At(const std::array<uint8_t, N> &b, size_t off)
{
    ByteReader r(b.data() + off, 4);
    return r.f32();
}

std::array<uint8_t, 27> bytesOf(const SensorSetting &s)
{
    return encodeSensorSetting(s);
}

} // namespace

TEST(Version, TextAlwaysHasTwoMinorDigits)
{
    EXPECT_EQ(versionText(40, 5), "40.05");
    EXPECT_EQ(versionText(40, 15), "40.15");
    EXPECT_EQ(versionText(100, 1), "100.01");
    const uint8_t p[2] = {51, 15};
    auto v = decodeVersion(p, 2);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->major, 51);
    EXPECT_EQ(v->minor, 15);
    EXPECT_FALSE(decodeVersion(p, 1));
    EXPECT_FALSE(decodeVersion(nullptr, 2));
}

TEST(Option, OnlyFourBytesAreAnOptionRecord)
{
    const uint8_t p[5] = {1, 2, 3, 4, 5};
    auto o = decodeOption(p, 4);
    ASSERT_TRUE(o);
    EXPECT_EQ((*o)[3], 4);
    EXPECT_FALSE(decodeOption(p, 3));
    EXPECT_FALSE(decodeOption(p, 5));
}

TEST(SensorSettingLayout, FieldsAtTheirOffsets)
{
    SensorSetting s;
    s.setting = 0xA1;
    s.numReg = 2;
    s.reg[0] = 0x5000;
    s.reg[1] = 0x1234;
    s.val[0] = 0x27;
    s.val[1] = 0x28;
    s.gain[0] = 0x31;
    s.gain[1] = 0x32;
    s.o1 = 1; s.o2 = 2; s.o3 = 3; s.o4 = 4; s.o5 = 5; s.o6 = 6;
    s.o7 = 0x0A07;
    s.o8 = 8;
    s.o9 = 0x0B09;
    s.o10 = 10; s.o11 = 11; s.o12 = 12; s.o13 = 13; s.o14 = 14; s.o15 = 15;
    const auto b = bytesOf(s);
    const std::array<uint8_t, 27> expected = {0xA1, 2,    0x00, 0x50, 0x34, 0x12, 0x27, 0x28, 0x31,
                                              0x32, 1,    2,    3,    4,    5,    6,    0x07, 0x0A,
                                              8,    0x09, 0x0B, 10,   11,   12,   13,   14,   15};
    EXPECT_EQ(b, expected);
    EXPECT_EQ(decodeSensorSetting(b.data()), s);
}

TEST(SensorSettingTables, PtSettingByLensAndFirmware)
{
    struct Row { int lens, fw; uint8_t gain2, o1, o2, o3; };
    const Row rows[] = {
        {3, 11, 0x18, 0x04, 0x05, 0x32}, {3, 15, 0x18, 0x04, 0x05, 0x32}, {3, 10, 0x18, 0x08, 0x0B, 0x28},
        {3, 9, 0x10, 0x07, 0x0C, 0x50},  {3, 0, 0x10, 0x07, 0x0C, 0x50},  {1, 0, 0x18, 0x07, 0x0C, 0x50},
        {1, 15, 0x18, 0x07, 0x0C, 0x50}, {2, 10, 0x20, 0x08, 0x0B, 0x28}, {2, 3, 0x20, 0x08, 0x0B, 0x28},
        {2, 11, 0x20, 0x0B, 0x0C, 0x14}, {0, 15, 0x20, 0x03, 0x04, 0x1E}, {4, 15, 0x20, 0x03, 0x04, 0x1E},
    };
    for (const Row &r : rows) {
        const auto b = bytesOf(ptSetting(r.lens, r.fw));
        const uint8_t o14 = (r.lens >= 1 && r.lens <= 3) ? 0x19 : 0x1E;
        const std::array<uint8_t, 27> expected = {0x01, 0x01, 0x00, 0x50, 0x00, 0x00, 0x27, 0x00, 0x00,
                                                  r.gain2, r.o1, r.o2, r.o3, 0x05, 0x00, 0x1E, 0x00, 0x00,
                                                  0x1E, 0x00, 0x00, 0x05, 0x01, 0x00, 0x00, o14, 0x00};
        EXPECT_EQ(b, expected) << "lens " << r.lens << " fw " << r.fw;
    }
}

TEST(SensorSettingTables, FtSettingByLensAndFirmware)
{
    const int A = 0x0123, B = 0x0456;
    struct Row { int lens, fw; std::array<uint8_t, 18> tail; };  // bytes 9..26
    const Row rows[] = {
        {3, 11, {0x18, 0x05, 0x06, 0x28, 0x05, 0x00, 0x1E, 0x23, 0x01, 0x1E, 0x56, 0x04, 0x05, 0x01, 0x00, 0x05, 0x0A, 0x05}},
        {3, 10, {0x20, 0x02, 0x03, 0x0C, 0x04, 0x18, 0x1E, 0x23, 0x01, 0x07, 0x56, 0x04, 0x02, 0x01, 0x00, 0x05, 0x0A, 0x05}},
        {3, 2, {0x20, 0x02, 0x03, 0x0C, 0x04, 0x18, 0x1E, 0x23, 0x01, 0x07, 0x56, 0x04, 0x02, 0x01, 0x00, 0x05, 0x0A, 0x05}},
        {1, 0, {0x18, 0x07, 0x0C, 0x50, 0x05, 0x18, 0x1E, 0x23, 0x01, 0x1E, 0x56, 0x04, 0x05, 0x01, 0x00, 0x05, 0x0A, 0x05}},
        {2, 15, {0x20, 0x04, 0x05, 0x14, 0x05, 0x00, 0x1E, 0x23, 0x01, 0x14, 0x56, 0x04, 0x05, 0x01, 0x00, 0x05, 0x0A, 0x05}},
        {0, 15, {0x01, 0x00, 0x05, 0x0A, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {7, 3, {0x01, 0x00, 0x05, 0x0A, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Row &r : rows) {
        const auto b = bytesOf(ftSetting(r.lens, r.fw, A, B));
        const std::array<uint8_t, 9> head = {0x01, 0x01, 0x00, 0x50, 0x00, 0x00, 0xA7, 0x00, 0x00};
        EXPECT_TRUE(std::equal(head.begin(), head.end(), b.begin())) << "lens " << r.lens;
        EXPECT_TRUE(std::equal(r.tail.begin(), r.tail.end(), b.begin() + 9)) << "lens " << r.lens << " fw " << r.fw;
    }
    // Another brand's gain for lens 3 on new firmware.
    EXPECT_EQ(bytesOf(ftSetting(3, 11, A, B, 0x20))[9], 0x20);
}

TEST(SensorSettingTables, OptionWordsUseCDivision)
{
    EXPECT_EQ(optionWord(-1), 0x00FF);     // low 0xFF (remainder -1), high 0x00 (quotient 0)
    EXPECT_EQ(optionWord(0x1234), 0x1234);
    EXPECT_EQ(optionWord(-257), 0xFFFF);   // -257 % 256 = -1, -257 / 256 = -1
    EXPECT_EQ(optionWord(300), 0x012C);
    const auto b = bytesOf(ftSetting(1, 0, -1, 720));
    EXPECT_EQ(b[16], 0xFF);   // o7 low
    EXPECT_EQ(b[17], 0x00);   // o7 high
    EXPECT_EQ(b[19], 0xD0);   // o9 low (720 = 0x02D0)
    EXPECT_EQ(b[20], 0x02);
}

TEST(SensorSettingTables, ExposureByte)
{
    EXPECT_EQ(exposureByte(3, 9), 0x60);
    EXPECT_EQ(exposureByte(3, 10), 0x40);
    EXPECT_EQ(exposureByte(3, 15), 0x40);
    EXPECT_EQ(exposureByte(1, 0), 0x70);
    EXPECT_EQ(exposureByte(2, 15), 0x80);
    EXPECT_EQ(exposureByte(0, 15), 0x80);
    const auto p = blackStartPayload(1, 15);
    EXPECT_EQ(p, (std::array<uint8_t, 3>{0x00, 0x00, 0x70}));
}

TEST(EepromRecordLayout, FieldsAtTheirOffsets)
{
    std::array<uint8_t, kEepromSize> raw{};
    ByteWriter w(raw.data(), raw.size());
    w.i16(400).i16(3).i16(1920).i16(1080);
    for (int i = 0; i < 13; ++i)
        w.f64(i + 0.5);
    w.u8(1).u8(0).u8(2).u8(3).i32(2);
    for (int i = 0; i < 25; ++i)
        w.f32(float(i)).f32(float(-i));
    ASSERT_EQ(w.pos(), 320u);
    w.i16(1280).i16(720).u8(1).u8(1).u8(0x77).u8(2).u8(1).u8(0);
    ASSERT_EQ(w.pos(), 330u);
    const auto pt = encodeSensorSetting(ptSetting(1, 15));
    w.bytes(pt.data(), pt.size());
    ASSERT_EQ(w.pos(), 357u);
    w.u8(1);
    const auto ft = encodeSensorSetting(ftSetting(2, 15, 5, 6));
    w.bytes(ft.data(), ft.size());
    ASSERT_EQ(w.pos(), 385u);
    w.u8(4).zeros(6).f64(0.75);
    ASSERT_TRUE(w.ok());
    ASSERT_EQ(w.pos(), 400u);

    const auto e = decodeEeprom(raw.data(), 400);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->length, 400);
    EXPECT_EQ(e->version, 3);
    EXPECT_EQ(e->windowWidth, 1920);
    EXPECT_EQ(e->windowHeight, 1080);
    EXPECT_EQ(e->tp[0], 0.5);
    EXPECT_EQ(e->tp[12], 12.5);
    EXPECT_EQ(e->ceiling, 1);
    EXPECT_EQ(e->modeFT, 2);
    EXPECT_EQ(e->lens, 3);
    EXPECT_EQ(e->acTweakNum, 2);
    EXPECT_EQ(e->tweak[24].x, 24.f);
    EXPECT_EQ(e->tweak[24].y, -24.f);
    EXPECT_EQ(e->windowWidth2, 1280);
    EXPECT_EQ(e->windowHeight2, 720);
    EXPECT_EQ(e->reserved326, 0x77);
    EXPECT_EQ(e->lens2, 2);
    EXPECT_EQ(e->imageReverse, 1);
    EXPECT_EQ(e->ptSetting, ptSetting(1, 15));
    EXPECT_EQ(e->ftPresent, 1);
    EXPECT_EQ(e->ftSetting, ftSetting(2, 15, 5, 6));
    EXPECT_EQ(e->fixCoordMode, 4);
    EXPECT_EQ(e->fixCoordRatio, 0.75);
    EXPECT_TRUE(e->calibrated());
    EXPECT_EQ(encodeEeprom(*e), raw);
}

TEST(EepromRecordLayout, CalibratedNeedsBothSizesAboveZero)
{
    EepromRecord e;
    e.windowWidth = 1920;
    e.windowHeight = 0;
    EXPECT_FALSE(e.calibrated());
    e.windowHeight = -5;
    EXPECT_FALSE(e.calibrated());
    e.windowHeight = 1;
    EXPECT_TRUE(e.calibrated());
    // A blank EEPROM read as 0xFF everywhere has negative sizes.
    std::array<uint8_t, kEepromSize> blank;
    blank.fill(0xFF);
    const auto d = decodeEeprom(blank.data(), kEepromSize);
    ASSERT_TRUE(d);
    EXPECT_FALSE(d->calibrated());
}

TEST(EepromRecordLayout, ShortRecordRefused)
{
    std::array<uint8_t, kEepromSize> raw{};
    EXPECT_FALSE(decodeEeprom(raw.data(), 399));
    EXPECT_FALSE(decodeEeprom(raw.data(), 0));
    EXPECT_FALSE(decodeEeprom(nullptr, 400));
    EXPECT_TRUE(decodeEeprom(raw.data(), 400));
}

TEST(CalibParamLayout, FieldsAtTheirOffsets)
{
    double tp[13];
    for (int i = 0; i < 13; ++i)
        tp[i] = 100.0 + i;
    const float tweaks[6] = {1.5f, 2.5f, 3.5f, 4.5f, 5.5f, 6.5f};
    CalibParamInput in;
    in.tp = tp;
    in.ceiling = 1;
    in.rear = 1;
    in.windowWidth = 1920;
    in.windowHeight = 1080;
    in.lensType = 3;
    in.imageReverse = 1;
    in.tweak = true;
    in.tweakCount = 3;
    in.tweakPairs = tweaks;
    in.sensorSetting = true;
    in.valueA = 700;
    in.valueB = 710;
    in.fwMinor = 15;
    const auto b = encodeCalibParam(makeCalibParam(in));
    for (int i = 0; i < 13; ++i)
        EXPECT_EQ(f64At(b, 8 * i), 100.0 + i);
    EXPECT_EQ(u16At(b, 104), 1920);
    EXPECT_EQ(u16At(b, 106), 1080);
    EXPECT_EQ(b[108], 1);
    EXPECT_EQ(b[109], 1);
    EXPECT_EQ(b[110], 3);
    EXPECT_EQ(b[111], 1);
    EXPECT_EQ(i32At(b, 112), 3);
    EXPECT_EQ(f32At(b, 116), 1.5f);
    EXPECT_EQ(f32At(b, 116 + 8 * 2 + 4), 6.5f);
    for (size_t i = 116 + 8 * 3; i < 316; ++i)
        ASSERT_EQ(b[i], 0) << i;   // pairs beyond the count go out as zeros
    const auto pt = encodeSensorSetting(ptSetting(3, 15));
    const auto ft = encodeSensorSetting(ftSetting(3, 15, 700, 710));
    EXPECT_TRUE(std::equal(pt.begin(), pt.end(), b.begin() + 316));
    EXPECT_TRUE(std::equal(ft.begin(), ft.end(), b.begin() + 343));
    EXPECT_EQ(b[343 + 16], 700 % 256);
    EXPECT_EQ(b[343 + 17], 700 / 256);

    const auto back = decodeCalibParam(b.data(), kCalibParamSize);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->acTweakNum, 3);
    EXPECT_EQ(back->ftSetting, ftSetting(3, 15, 700, 710));
    EXPECT_FALSE(decodeCalibParam(b.data(), 369));
}

TEST(CalibParamLayout, FlagsClearGiveZeros)
{
    double tp[13] = {};
    const float tweaks[2] = {9.f, 9.f};
    CalibParamInput in;
    in.tp = tp;
    in.tweak = false;
    in.tweakCount = 1;
    in.tweakPairs = tweaks;
    in.sensorSetting = false;
    in.lensType = 1;
    const auto b = encodeCalibParam(makeCalibParam(in));
    EXPECT_EQ(i32At(b, 112), 0);
    for (size_t i = 316; i < 370; ++i)
        ASSERT_EQ(b[i], 0) << i;
}

TEST(CalibParamLayout, TweakCountClampedToTheRecord)
{
    double tp[13] = {};
    std::vector<float> tweaks(2 * 40, 1.f);
    CalibParamInput in;
    in.tp = tp;
    in.tweak = true;
    in.tweakCount = 40;
    in.tweakPairs = tweaks.data();
    EXPECT_EQ(i32At(encodeCalibParam(makeCalibParam(in)), 112), 25);
    CalibParamBlock raw;
    raw.acTweakNum = -3;
    EXPECT_EQ(i32At(encodeCalibParam(raw), 112), 0);
}

TEST(SmallRecords, FixCoordAndRegisterWrites)
{
    const auto f = encodeFixCoord({2, 1.25});
    EXPECT_EQ(i32At(f, 0), 2);
    EXPECT_EQ(f64At(f, 4), 1.25);
    const auto zero = encodeFixCoord({0, 0.0});
    for (uint8_t v : zero)
        EXPECT_EQ(v, 0);
    EXPECT_TRUE(decodeFixCoord(f.data(), 12));
    EXPECT_FALSE(decodeFixCoord(f.data(), 11));

    const auto r = encodeRegisterWrite({0x350A, 0x12});
    EXPECT_EQ(r, (std::array<uint8_t, 3>{0x0A, 0x35, 0x12}));
    EXPECT_FALSE(decodeRegisterWrite(r.data(), 2));

    const auto g = gainRegisters(0x1234);
    EXPECT_EQ(g[0], (RegisterWrite{0x350A, 0x12}));
    EXPECT_EQ(g[1], (RegisterWrite{0x350B, 0x34}));
}

TEST(RecordTraces, EepromAndUploadLines)
{
    EepromRecord e;
    e.length = 400;
    e.version = 2;
    e.windowWidth = 1920;
    e.windowHeight = 1080;
    e.tp[1] = 1.5;
    e.acTweakNum = 1000;   // a module-sent count: only the 25 pairs of the record are listed
    e.ptSetting = ptSetting(1, 15);
    e.ftPresent = 0;
    e.fixCoordMode = 1;
    e.fixCoordRatio = 0.5;
    const QStringList l = qtLines(eepromTraceLines(e));
    EXPECT_EQ(l.value(0), "sizeof(tEEPROM) = 400");
    EXPECT_EQ(l.value(1), "EEPROM:");
    EXPECT_EQ(l.value(2), "length = 400, version = 2");
    EXPECT_EQ(l.value(4), "m_tp[ 1] = 1.500000e+00;");
    EXPECT_TRUE(l.contains("window_width = 1920, window_height = 1080"));
    EXPECT_TRUE(l.contains("ac_tweak_num = 1000"));
    EXPECT_TRUE(l.contains("[24] 0.000000 0.000000"));
    EXPECT_FALSE(l.contains("[25] 0.000000 0.000000"));
    EXPECT_TRUE(l.contains("num_reg = 1, (5000, 27), (0000, 00)"));
    EXPECT_TRUE(l.contains("gain = 00 18"));
    EXPECT_TRUE(l.contains("option:\n    7, 12, 80, 5\n    0, 30\n    0, 30\n    0, 5\n    1, 0, 0, 25, 0"));
    EXPECT_EQ(l.value(l.size() - 1), "fix_coord: 1 0.500000");
    // ft lines only with the presence byte: exactly one num_reg line.
    EXPECT_EQ(l.filter("num_reg").size(), 1);

    CalibParamBlock b;
    b.ptSetting = ptSetting(2, 15);
    b.ftSetting = ftSetting(2, 15, 1, 2);
    const QStringList u = qtLines(calibParamTraceLines(b));
    EXPECT_EQ(u.value(0), "send_set_calib_parameter:");
    EXPECT_TRUE(u.contains("pt_setting:"));
    EXPECT_TRUE(u.contains("ft_setting:"));
    EXPECT_TRUE(u.contains("num_reg = 1, (5000, 27), (0000, 00)"));
    EXPECT_TRUE(u.contains("num_reg = 1, (5000, A7), (0000, 00)"));
    EXPECT_TRUE(u.contains("setting = 1"));
}
