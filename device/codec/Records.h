#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "device/codec/Text.h"

#include <string>

namespace tl::codec {

// ---- Version and options -------------------------------------------------------

struct VersionRecord
{
    uint8_t major = 0;
    uint8_t minor = 0;
};
// "%d.%02d": version bytes 40 and 5 read 40.05.
std::string versionText(uint8_t major, uint8_t minor);
// DAT_VERSION payload; needs a length field of at least 2.
std::optional<VersionRecord> decodeVersion(const uint8_t *payload, int length);
std::array<uint8_t, 2> encodeVersion(const VersionRecord &v);

constexpr int kOptionSize = 4;
using OptionRecord = std::array<uint8_t, kOptionSize>;
// DAT_OPTION payload; only a length of exactly 4 is an option record.
std::optional<OptionRecord> decodeOption(const uint8_t *payload, int length);

// ---- SensorSetting (27 bytes, packed) -----------------------------------------

constexpr int kSensorSettingSize = 27;

struct SensorSetting
{
    uint8_t setting = 0;        // non-zero: the block is in use
    uint8_t numReg = 0;         // register pairs in use (0..2)
    uint16_t reg[2] = {0, 0};   // register addresses
    uint8_t val[2] = {0, 0};    // register values, same order
    uint8_t gain[2] = {0, 0};
    // option o1..o15; o7 and o9 are 16-bit, the rest bytes.
    uint8_t o1 = 0, o2 = 0, o3 = 0, o4 = 0, o5 = 0, o6 = 0;
    uint16_t o7 = 0;
    uint8_t o8 = 0;
    uint16_t o9 = 0;
    uint8_t o10 = 0, o11 = 0, o12 = 0, o13 = 0, o14 = 0, o15 = 0;

    bool operator==(const SensorSetting &o) const;
    bool operator!=(const SensorSetting &o) const { return !(*this == o); }
};

std::array<uint8_t, kSensorSettingSize> encodeSensorSetting(const SensorSetting &s);
SensorSetting decodeSensorSetting(const uint8_t *bytes27);

// The 16-bit option value of a host-computed int: low byte = value % 256, high
// byte = value / 256 with C truncation, so -1 gives 0x00FF (low 0xFF, high 0x00).
uint16_t optionWord(int value);

// The sensor settings the host uploads with a calibration, by projector lens type
// (1, 2, 3; anything else is "none") and the module's firmware minor number.
// `lens3NewGain` is gain 2 of the finger-touch row for lens 3 above firmware 10:
// 0x18 in this build's brand, 0x20 in others.
SensorSetting ptSetting(int lensType, int fwMinor);
SensorSetting ftSetting(int lensType, int fwMinor, int valueA, int valueB, uint8_t lens3NewGain = 0x18);

// Exposure byte of CMD_AC_BLACK_START: lens 3 -> 0x60 below firmware 10, else
// 0x40; lens 1 -> 0x70; any other -> 0x80. The payload is 0x00, 0x00, exposure.
uint8_t exposureByte(int lensType, int fwMinor);
std::array<uint8_t, 3> blackStartPayload(int lensType, int fwMinor);

// ---- tEEPROM (DAT_EEPROM payload, 400 bytes) -----------------------------------

constexpr int kEepromSize = 400;
constexpr int kTweakPoints = 25;
constexpr int kCalibCoefficients = 13;

struct TweakPoint
{
    float x = 0;
    float y = 0;
};

struct EepromRecord
{
    int16_t length = 0;
    int16_t version = 0;
    int16_t windowWidth = 0;      // first set
    int16_t windowHeight = 0;
    std::array<double, kCalibCoefficients> tp{};
    uint8_t ceiling = 0;
    uint8_t rear = 0;
    uint8_t modeFT = 0;
    uint8_t lens = 0;
    int32_t acTweakNum = 0;
    std::array<TweakPoint, kTweakPoints> tweak{};
    int16_t windowWidth2 = 0;     // second set
    int16_t windowHeight2 = 0;
    uint8_t ceiling2 = 0;
    uint8_t rear2 = 0;
    uint8_t reserved326 = 0;
    uint8_t lens2 = 0;
    uint8_t imageReverse = 0;
    uint8_t imageReverse2 = 0;
    SensorSetting ptSetting;
    uint8_t ftPresent = 0;
    SensorSetting ftSetting;
    uint8_t fixCoordMode = 0;
    double fixCoordRatio = 0;

    // A module holds a calibration when both first-set window sizes are above 0.
    bool calibrated() const { return windowWidth > 0 && windowHeight > 0; }
};

// Needs the full 400 bytes: a shorter record is refused (nullopt).
std::optional<EepromRecord> decodeEeprom(const uint8_t *payload, int length);
std::array<uint8_t, kEepromSize> encodeEeprom(const EepromRecord &e);
// The debug lines of a received record, in the module's trace order.
TextLines eepromTraceLines(const EepromRecord &e);

// ---- CalibParamBlock (CMD_SET_CALIB_PARAMETER payload, 370 bytes) -------------

constexpr int kCalibParamSize = 370;

struct CalibParamBlock
{
    std::array<double, kCalibCoefficients> tp{};
    int16_t windowWidth = 0;
    int16_t windowHeight = 0;
    uint8_t ceiling = 0;
    uint8_t rear = 0;
    uint8_t lensType = 0;         // 1, 2 or 3; 0 when none is selected
    uint8_t imageReverse = 0;
    int32_t acTweakNum = 0;
    std::array<TweakPoint, kTweakPoints> tweak{};  // only the first acTweakNum are meaningful
    SensorSetting ptSetting;
    SensorSetting ftSetting;
};

// Tweak pairs beyond acTweakNum go out as zeros. acTweakNum itself is clamped
// to 0..25 on the wire so that the module never walks past its 25 slots.
std::array<uint8_t, kCalibParamSize> encodeCalibParam(const CalibParamBlock &b);
std::optional<CalibParamBlock> decodeCalibParam(const uint8_t *payload, int length);

struct CalibParamInput
{
    const double *tp = nullptr;          // 13 coefficients
    int ceiling = 0;
    int rear = 0;
    int windowWidth = 0;
    int windowHeight = 0;
    int lensType = 0;
    int imageReverse = 0;
    bool tweak = false;
    int tweakCount = 0;
    const float *tweakPairs = nullptr;   // tweakCount pairs of (x, y)
    bool sensorSetting = false;
    int valueA = 0;                      // o7 of ft_setting
    int valueB = 0;                      // o9 of ft_setting
    int fwMinor = 0;
    uint8_t lens3NewGain = 0x18;
};
// Fills the block as the host uploads it (tweak count 0 without the tweak flag,
// both sensor settings zero without the sensor-setting flag).
CalibParamBlock makeCalibParam(const CalibParamInput &in);
// The debug lines of an upload, "send_set_calib_parameter:" first.
TextLines calibParamTraceLines(const CalibParamBlock &b);
// The sensor-setting lines shared by the EEPROM and the upload traces.
std::string sensorOptionLine(const SensorSetting &s);

// ---- Fixed-coordinate ratio (CMD_SET_FIX_COORD_RATIO payload, 12 bytes) -------

constexpr int kFixCoordSize = 12;
struct FixCoordRatio
{
    int32_t mode = 0;
    double ratio = 0;
};
std::array<uint8_t, kFixCoordSize> encodeFixCoord(const FixCoordRatio &f);
std::optional<FixCoordRatio> decodeFixCoord(const uint8_t *payload, int length);

// ---- Sensor register write (CMD_IIC_WR payload, 3 bytes) ----------------------

constexpr int kRegisterWriteSize = 3;
struct RegisterWrite
{
    uint16_t address = 0;
    uint8_t value = 0;
    bool operator==(const RegisterWrite &o) const { return address == o.address && value == o.value; }
};
std::array<uint8_t, kRegisterWriteSize> encodeRegisterWrite(const RegisterWrite &r);
std::optional<RegisterWrite> decodeRegisterWrite(const uint8_t *payload, int length);
// The two gain registers: (0x350A, high byte), (0x350B, low byte).
std::array<RegisterWrite, 2> gainRegisters(uint16_t gain);

// ---- Manual calibration points (DAT_MC_INPUT_POINT payload, 200 bytes) --------

constexpr int kMcPointBytes = 200;
constexpr int kMcPoints = 25;

} // namespace tl::codec
