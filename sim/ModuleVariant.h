#pragma once

#include "device/codec/Records.h"
#include "device/codec/UsbIds.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tl::sim {

constexpr uint16_t kModuleVendorId = codec::kVendorId;
constexpr uint16_t kModuleProductId = codec::kProductId;

// How long the module takes for the things it does on its own, in driver
// milliseconds (they run on tl::Clock, so compressed time shortens them too).
struct ModuleTiming
{
    int answerMs = 1;         // turnaround of an answer to a command
    int captureMs = 150;      // exposure and capture of one auto-calibration screen
    int storeMs = 80;         // writing an uploaded calibration to the EEPROM
    int frameMs = 33;         // grabbing one alignment frame
    int reportPeriodMs = 10;  // one tracking report cycle
    int touchMs = 300;        // manual calibration: target shown -> pen seen
    int holdMs = 700;         // manual calibration: pen seen -> target step ended
};

// One kind of module, as data: what it reports about itself and what its
// non-volatile memory holds when it is plugged in. Tests build a bus from a list
// of these; nothing about a variant is decided by code paths elsewhere.
struct ModuleVariant
{
    // USB identity. A device with other IDs is listed but never spoken to by the
    // driver; `speaksProtocol = false` makes one that accepts writes and never answers.
    uint16_t vendorId = kModuleVendorId;
    uint16_t productId = kModuleProductId;
    bool speaksProtocol = true;
    bool descriptorReadable = true;  // false: the device descriptor cannot be read
    uint8_t serialIndex = 3;         // iSerialNumber; 0 = no serial string
    std::string serial = "TLM0000001";

    uint8_t fwMajor = 40;
    uint8_t fwMinor = 15;
    std::array<uint8_t, 4> options{{0, 0, 0, 0}};

    // Mounting of the camera (also recorded with a calibration).
    uint8_t ceiling = 0;
    uint8_t rear = 0;

    // The lens code the module is built with. The short-throw modules (codes 1
    // to 3) have their sensor built in turned: it reads the board upside down,
    // and the host's image-reverse command turns their pictures back. Any other
    // code: mounted upright, and the command turns the pictures over.
    uint8_t lens = 1;
    bool mountedTurned() const { return lens >= 1 && lens <= 3; }

    // The pen the board is used with, as the host's pen-type setting names it
    // (0 normal, 1 plus): where its light sits above the screen (PenLight).
    // Any other value: a light on the screen plane.
    int penType = 0;

    // EEPROM: nullopt = blank (every byte `blankFill`), otherwise this record.
    std::optional<codec::EepromRecord> eeprom;
    uint8_t blankFill = 0x00;

    // The stored mask record; empty = all zero (nothing masked, mask disabled).
    std::vector<uint8_t> mask;

    ModuleTiming timing;

    // A factory-fresh module: blank EEPROM.
    static ModuleVariant blank(const std::string &serial, uint8_t fwMinor = 15);
    // A module that holds a calibration for a window of the given size.
    static ModuleVariant calibrated(const std::string &serial, uint8_t fwMinor = 15,
                                    int windowWidth = 1920, int windowHeight = 1080, uint8_t lens = 1);
    // Some other USB device (a keyboard, a hub) on the same bus.
    static ModuleVariant foreign(uint16_t vendorId, uint16_t productId, const std::string &serial = "");
};

// `count` modules with the serials "TLM0000001", "TLM0000002", ..., all blank or
// all calibrated: the usual bus of the demo and of contract tests.
std::vector<ModuleVariant> moduleSeries(int count, bool calibrated, uint8_t fwMinor = 15);

// A plausible stored calibration: a record as the module writes it after an upload,
// with near-identity coefficients and the mounting of `v`.
codec::EepromRecord sampleCalibration(int windowWidth, int windowHeight, uint8_t lens, uint8_t ceiling,
                                      uint8_t rear);

} // namespace tl::sim
