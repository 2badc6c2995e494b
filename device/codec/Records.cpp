#include "device/codec/Records.h"

#include "device/codec/ByteIO.h"

#include <algorithm>

namespace tl::codec {

// ---- Version and options -------------------------------------------------------

std::string versionText(uint8_t major, uint8_t minor)
{
    return format("%d.%02d", major, minor);
}

std::optional<VersionRecord> decodeVersion(const uint8_t *payload, int length)
{
    if (!payload || length < 2)
        return std::nullopt;
    ByteReader r(payload, static_cast<size_t>(length));
    VersionRecord v;
    v.major = r.u8();
    v.minor = r.u8();
    return r.ok() ? std::optional<VersionRecord>(v) : std::nullopt;
}

std::array<uint8_t, 2> encodeVersion(const VersionRecord &v)
{
    return {v.major, v.minor};
}

std::optional<OptionRecord> decodeOption(const uint8_t *payload, int length)
{
    if (!payload || length != kOptionSize)
        return std::nullopt;
    OptionRecord o;
    std::copy(payload, payload + kOptionSize, o.begin());
    return o;
}

// ---- SensorSetting -------------------------------------------------------------

bool SensorSetting::operator==(const SensorSetting &o) const
{
    return encodeSensorSetting(*this) == encodeSensorSetting(o);
}

std::array<uint8_t, kSensorSettingSize> encodeSensorSetting(const SensorSetting &s)
{
    std::array<uint8_t, kSensorSettingSize> out{};
    ByteWriter w(out.data(), out.size());
    w.u8(s.setting).u8(s.numReg).u16(s.reg[0]).u16(s.reg[1]).u8(s.val[0]).u8(s.val[1]);
    w.u8(s.gain[0]).u8(s.gain[1]);
    w.u8(s.o1).u8(s.o2).u8(s.o3).u8(s.o4).u8(s.o5).u8(s.o6).u16(s.o7).u8(s.o8).u16(s.o9);
    w.u8(s.o10).u8(s.o11).u8(s.o12).u8(s.o13).u8(s.o14).u8(s.o15);
    return out;
}

SensorSetting decodeSensorSetting(const uint8_t *bytes27)
{
    SensorSetting s;
    ByteReader r(bytes27, bytes27 ? kSensorSettingSize : 0);
    s.setting = r.u8();
    s.numReg = r.u8();
    s.reg[0] = r.u16();
    s.reg[1] = r.u16();
    s.val[0] = r.u8();
    s.val[1] = r.u8();
    s.gain[0] = r.u8();
    s.gain[1] = r.u8();
    s.o1 = r.u8(); s.o2 = r.u8(); s.o3 = r.u8(); s.o4 = r.u8(); s.o5 = r.u8(); s.o6 = r.u8();
    s.o7 = r.u16();
    s.o8 = r.u8();
    s.o9 = r.u16();
    s.o10 = r.u8(); s.o11 = r.u8(); s.o12 = r.u8(); s.o13 = r.u8(); s.o14 = r.u8(); s.o15 = r.u8();
    return r.ok() ? s : SensorSetting{};
}

uint16_t optionWord(int value)
{
    // C division truncates toward zero: -1 % 256 = -1 (byte 0xFF), -1 / 256 = 0.
    const auto lo = static_cast<uint8_t>(value % 256);
    const auto hi = static_cast<uint8_t>(value / 256);
    return static_cast<uint16_t>(lo | (hi << 8));
}

namespace {
SensorSetting commonHead(uint8_t value1)
{
    SensorSetting s;
    s.setting = 0x01;
    s.numReg = 0x01;
    s.reg[0] = 0x5000;
    s.reg[1] = 0x0000;
    s.val[0] = value1;
    s.val[1] = 0x00;
    s.gain[0] = 0x00;
    return s;
}
} // namespace

SensorSetting ptSetting(int lensType, int fwMinor)
{
    SensorSetting s = commonHead(0x27);
    struct Row { uint8_t gain2, o1, o2, o3; };
    Row row;
    if (lensType == 3 && fwMinor > 10)
        row = {0x18, 0x04, 0x05, 0x32};
    else if (lensType == 3 && fwMinor == 10)
        row = {0x18, 0x08, 0x0B, 0x28};
    else if (lensType == 3)
        row = {0x10, 0x07, 0x0C, 0x50};
    else if (lensType == 1)
        row = {0x18, 0x07, 0x0C, 0x50};
    else if (lensType == 2 && fwMinor <= 10)
        row = {0x20, 0x08, 0x0B, 0x28};
    else if (lensType == 2)
        row = {0x20, 0x0B, 0x0C, 0x14};
    else
        row = {0x20, 0x03, 0x04, 0x1E};
    s.gain[1] = row.gain2;
    s.o1 = row.o1;
    s.o2 = row.o2;
    s.o3 = row.o3;
    s.o4 = 0x05;
    s.o5 = 0x00;
    s.o6 = 0x1E;
    s.o7 = 0x0000;
    s.o8 = 0x1E;
    s.o9 = 0x0000;
    s.o10 = 0x05;
    s.o11 = 0x01;
    s.o12 = 0x00;
    s.o13 = 0x00;
    s.o14 = (lensType >= 1 && lensType <= 3) ? 0x19 : 0x1E;
    s.o15 = 0x00;
    return s;
}

SensorSetting ftSetting(int lensType, int fwMinor, int valueA, int valueB, uint8_t lens3NewGain)
{
    SensorSetting s = commonHead(0xA7);
    struct Row { uint8_t gain2, o1, o2, o3, o4, o5, o6, o8, o10; };
    Row row;
    if (lensType == 3 && fwMinor > 10)
        row = {lens3NewGain, 0x05, 0x06, 0x28, 0x05, 0x00, 0x1E, 0x1E, 0x05};
    else if (lensType == 3)
        row = {0x20, 0x02, 0x03, 0x0C, 0x04, 0x18, 0x1E, 0x07, 0x02};
    else if (lensType == 1)
        row = {0x18, 0x07, 0x0C, 0x50, 0x05, 0x18, 0x1E, 0x1E, 0x05};
    else if (lensType == 2)
        row = {0x20, 0x04, 0x05, 0x14, 0x05, 0x00, 0x1E, 0x14, 0x05};
    else {
        // No lens: only gain 2 and o1..o4 carry values; bytes 14..26 stay zero.
        s.gain[1] = 0x01;
        s.o1 = 0x00;
        s.o2 = 0x05;
        s.o3 = 0x0A;
        s.o4 = 0x05;
        return s;
    }
    s.gain[1] = row.gain2;
    s.o1 = row.o1;
    s.o2 = row.o2;
    s.o3 = row.o3;
    s.o4 = row.o4;
    s.o5 = row.o5;
    s.o6 = row.o6;
    s.o7 = optionWord(valueA);
    s.o8 = row.o8;
    s.o9 = optionWord(valueB);
    s.o10 = row.o10;
    s.o11 = 0x01;
    s.o12 = 0x00;
    s.o13 = 0x05;
    s.o14 = 0x0A;
    s.o15 = 0x05;
    return s;
}

uint8_t exposureByte(int lensType, int fwMinor)
{
    if (lensType == 3)
        return fwMinor < 10 ? 0x60 : 0x40;
    if (lensType == 1)
        return 0x70;
    return 0x80;
}

std::array<uint8_t, 3> blackStartPayload(int lensType, int fwMinor)
{
    return {0x00, 0x00, exposureByte(lensType, fwMinor)};
}

// ---- tEEPROM -------------------------------------------------------------------

namespace {
// The two records share these pieces, each at its own offset.
void readTweakPoints(ByteReader &r, std::array<TweakPoint, kTweakPoints> &tweak)
{
    for (TweakPoint &p : tweak) {
        p.x = r.f32();
        p.y = r.f32();
    }
}

SensorSetting readSensorSetting(ByteReader &r)
{
    uint8_t ss[kSensorSettingSize];
    r.bytes(ss, sizeof ss);
    return decodeSensorSetting(ss);
}
} // namespace

std::optional<EepromRecord> decodeEeprom(const uint8_t *payload, int length)
{
    if (!payload || length < kEepromSize)
        return std::nullopt;
    ByteReader r(payload, kEepromSize);
    EepromRecord e;
    e.length = r.i16();
    e.version = r.i16();
    e.windowWidth = r.i16();
    e.windowHeight = r.i16();
    for (double &d : e.tp)
        d = r.f64();
    e.ceiling = r.u8();
    e.rear = r.u8();
    e.modeFT = r.u8();
    e.lens = r.u8();
    e.acTweakNum = r.i32();
    readTweakPoints(r, e.tweak);
    e.windowWidth2 = r.i16();
    e.windowHeight2 = r.i16();
    e.ceiling2 = r.u8();
    e.rear2 = r.u8();
    e.reserved326 = r.u8();
    e.lens2 = r.u8();
    e.imageReverse = r.u8();
    e.imageReverse2 = r.u8();
    e.ptSetting = readSensorSetting(r);
    e.ftPresent = r.u8();
    e.ftSetting = readSensorSetting(r);
    e.fixCoordMode = r.u8();
    r.skip(6);
    e.fixCoordRatio = r.f64();
    if (!r.ok() || r.pos() != static_cast<size_t>(kEepromSize))
        return std::nullopt;
    return e;
}

std::array<uint8_t, kEepromSize> encodeEeprom(const EepromRecord &e)
{
    std::array<uint8_t, kEepromSize> out{};
    ByteWriter w(out.data(), out.size());
    w.i16(e.length).i16(e.version).i16(e.windowWidth).i16(e.windowHeight);
    for (double d : e.tp)
        w.f64(d);
    w.u8(e.ceiling).u8(e.rear).u8(e.modeFT).u8(e.lens).i32(e.acTweakNum);
    for (const TweakPoint &p : e.tweak)
        w.f32(p.x).f32(p.y);
    w.i16(e.windowWidth2).i16(e.windowHeight2).u8(e.ceiling2).u8(e.rear2).u8(e.reserved326).u8(e.lens2);
    w.u8(e.imageReverse).u8(e.imageReverse2);
    const auto pt = encodeSensorSetting(e.ptSetting);
    w.bytes(pt.data(), pt.size());
    w.u8(e.ftPresent);
    const auto ft = encodeSensorSetting(e.ftSetting);
    w.bytes(ft.data(), ft.size());
    w.u8(e.fixCoordMode).zeros(6).f64(e.fixCoordRatio);
    return out;
}

std::string sensorOptionLine(const SensorSetting &s)
{
    return format("option:\n    %d, %d, %d, %d\n    %d, %d\n    %d, %d\n    %d, %d\n    %d, %d, %d, %d, %d",
                             s.o1, s.o2, s.o3, s.o4, s.o5, s.o6, s.o7, s.o8, s.o9, s.o10, s.o11, s.o12,
                             s.o13, s.o14, s.o15);
}

namespace {
void appendCoefficients(TextLines &lines, const std::array<double, kCalibCoefficients> &tp)
{
    for (int i = 0; i < kCalibCoefficients; ++i)
        lines << format("m_tp[%2d] = %e;", i, tp[static_cast<size_t>(i)]);
}

void appendTweakPoints(TextLines &lines, int acTweakNum, const std::array<TweakPoint, kTweakPoints> &tweak)
{
    lines << format("ac_tweak_num = %d", acTweakNum);
    // The count may come from a module: never list more than the record holds.
    const int pairs = std::clamp(acTweakNum, 0, kTweakPoints);
    for (int i = 0; i < pairs; ++i)
        lines << format("[%2d] %f %f", i, double(tweak[static_cast<size_t>(i)].x),
                                   double(tweak[static_cast<size_t>(i)].y));
}

void appendEepromSetting(TextLines &lines, const SensorSetting &s)
{
    lines << format("num_reg = %d, (%04X, %02X), (%04X, %02X)", s.numReg, s.reg[0], s.val[0],
                               s.reg[1], s.val[1]);
    lines << format("gain = %02X %02X", s.gain[0], s.gain[1]);
    lines << sensorOptionLine(s);
}

void appendUploadSetting(TextLines &lines, const char *title, const SensorSetting &s)
{
    lines << std::string(title);
    lines << format("setting = %d", s.setting);
    lines << format("num_reg = %d, (%02X%02X, %02X), (%02X%02X, %02X)", s.numReg, s.reg[0] >> 8,
                               s.reg[0] & 0xFF, s.val[0], s.reg[1] >> 8, s.reg[1] & 0xFF, s.val[1]);
    lines << format("gain = %02X %02X", s.gain[0], s.gain[1]);
    lines << sensorOptionLine(s);
}
} // namespace

TextLines eepromTraceLines(const EepromRecord &e)
{
    TextLines l;
    l << format("sizeof(tEEPROM) = %d", kEepromSize);
    l << std::string("EEPROM:");
    l << format("length = %d, version = %d", e.length, e.version);
    appendCoefficients(l, e.tp);
    l << format("window_width = %d, window_height = %d", e.windowWidth, e.windowHeight);
    l << format("Ceiling = %d, Rear = %d, modeFT = %d, lens = %d, imageReverse = %d", e.ceiling, e.rear,
                           e.modeFT, e.lens, e.imageReverse);
    appendTweakPoints(l, e.acTweakNum, e.tweak);
    l << format("window_width = %d, window_height = %d", e.windowWidth2, e.windowHeight2);
    l << format("Ceiling = %d, Rear = %d, lens = %d, imageReverse = %d", e.ceiling2, e.rear2, e.lens2,
                           e.imageReverse2);
    l << std::string("----");
    if (e.ptSetting.setting)
        appendEepromSetting(l, e.ptSetting);
    l << std::string("ft_setting:");
    if (e.ftPresent)
        appendEepromSetting(l, e.ftSetting);
    l << std::string("----");
    l << format("fix_coord: %d %f", e.fixCoordMode, e.fixCoordRatio);
    return l;
}

// ---- CalibParamBlock -----------------------------------------------------------

std::array<uint8_t, kCalibParamSize> encodeCalibParam(const CalibParamBlock &b)
{
    std::array<uint8_t, kCalibParamSize> out{};
    ByteWriter w(out.data(), out.size());
    for (double d : b.tp)
        w.f64(d);
    w.i16(b.windowWidth).i16(b.windowHeight).u8(b.ceiling).u8(b.rear).u8(b.lensType).u8(b.imageReverse);
    const int count = std::clamp(b.acTweakNum, 0, kTweakPoints);
    w.i32(count);
    for (int i = 0; i < kTweakPoints; ++i) {
        if (i < count)
            w.f32(b.tweak[static_cast<size_t>(i)].x).f32(b.tweak[static_cast<size_t>(i)].y);
        else
            w.zeros(8);
    }
    const auto pt = encodeSensorSetting(b.ptSetting);
    const auto ft = encodeSensorSetting(b.ftSetting);
    w.bytes(pt.data(), pt.size()).bytes(ft.data(), ft.size());
    return out;
}

std::optional<CalibParamBlock> decodeCalibParam(const uint8_t *payload, int length)
{
    if (!payload || length < kCalibParamSize)
        return std::nullopt;
    ByteReader r(payload, kCalibParamSize);
    CalibParamBlock b;
    for (double &d : b.tp)
        d = r.f64();
    b.windowWidth = r.i16();
    b.windowHeight = r.i16();
    b.ceiling = r.u8();
    b.rear = r.u8();
    b.lensType = r.u8();
    b.imageReverse = r.u8();
    b.acTweakNum = r.i32();
    readTweakPoints(r, b.tweak);
    b.ptSetting = readSensorSetting(r);
    b.ftSetting = readSensorSetting(r);
    if (!r.ok())
        return std::nullopt;
    return b;
}

CalibParamBlock makeCalibParam(const CalibParamInput &in)
{
    CalibParamBlock b;
    if (in.tp)
        std::copy(in.tp, in.tp + kCalibCoefficients, b.tp.begin());
    b.windowWidth = static_cast<int16_t>(in.windowWidth);
    b.windowHeight = static_cast<int16_t>(in.windowHeight);
    b.ceiling = static_cast<uint8_t>(in.ceiling);
    b.rear = static_cast<uint8_t>(in.rear);
    b.lensType = static_cast<uint8_t>(in.lensType);
    b.imageReverse = static_cast<uint8_t>(in.imageReverse);
    if (in.tweak && in.tweakPairs) {
        b.acTweakNum = std::clamp(in.tweakCount, 0, kTweakPoints);
        for (int i = 0; i < b.acTweakNum; ++i)
            b.tweak[static_cast<size_t>(i)] = {in.tweakPairs[2 * i], in.tweakPairs[2 * i + 1]};
    }
    if (in.sensorSetting) {
        b.ptSetting = ptSetting(in.lensType, in.fwMinor);
        b.ftSetting = ftSetting(in.lensType, in.fwMinor, in.valueA, in.valueB, in.lens3NewGain);
    }
    return b;
}

TextLines calibParamTraceLines(const CalibParamBlock &b)
{
    TextLines l;
    l << std::string("send_set_calib_parameter:");
    appendCoefficients(l, b.tp);
    l << format("window_width = %d, window_height = %d", b.windowWidth, b.windowHeight);
    l << format("Ceiling = %d, Rear = %d, lens = %d, imageReverse = %d", b.ceiling, b.rear, b.lensType,
                           b.imageReverse);
    appendTweakPoints(l, b.acTweakNum, b.tweak);
    appendUploadSetting(l, "pt_setting:", b.ptSetting);
    appendUploadSetting(l, "ft_setting:", b.ftSetting);
    return l;
}

// ---- Fixed-coordinate ratio ----------------------------------------------------

std::array<uint8_t, kFixCoordSize> encodeFixCoord(const FixCoordRatio &f)
{
    std::array<uint8_t, kFixCoordSize> out{};
    ByteWriter(out.data(), out.size()).i32(f.mode).f64(f.ratio);
    return out;
}

std::optional<FixCoordRatio> decodeFixCoord(const uint8_t *payload, int length)
{
    if (!payload || length < kFixCoordSize)
        return std::nullopt;
    ByteReader r(payload, kFixCoordSize);
    FixCoordRatio f;
    f.mode = r.i32();
    f.ratio = r.f64();
    return r.ok() ? std::optional<FixCoordRatio>(f) : std::nullopt;
}

// ---- Register writes -----------------------------------------------------------

std::array<uint8_t, kRegisterWriteSize> encodeRegisterWrite(const RegisterWrite &rw)
{
    std::array<uint8_t, kRegisterWriteSize> out{};
    ByteWriter(out.data(), out.size()).u16(rw.address).u8(rw.value);
    return out;
}

std::optional<RegisterWrite> decodeRegisterWrite(const uint8_t *payload, int length)
{
    if (!payload || length < kRegisterWriteSize)
        return std::nullopt;
    ByteReader r(payload, kRegisterWriteSize);
    RegisterWrite rw;
    rw.address = r.u16();
    rw.value = r.u8();
    return r.ok() ? std::optional<RegisterWrite>(rw) : std::nullopt;
}

std::array<RegisterWrite, 2> gainRegisters(uint16_t gain)
{
    return {RegisterWrite{0x350A, static_cast<uint8_t>(gain >> 8)},
            RegisterWrite{0x350B, static_cast<uint8_t>(gain & 0xFF)}};
}

} // namespace tl::codec
