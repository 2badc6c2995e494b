#pragma once

#include "device/codec/Records.h"

#include <cstdint>

namespace tl::sim {

// What the module's firmware does with the records the host uploads: it keeps
// them in its EEPROM record and hands that record back on CMD_GET_EEPROM.

// The record of an erased EEPROM: 400 bytes of `fill` read as a tEEPROM.
codec::EepromRecord blankEeprom(uint8_t fill);

// Stores an uploaded calibration parameter block. Both window/mounting sets get
// the uploaded values (the second set mirrors the first on this firmware), the
// finger-touch block is marked present when its setting byte is in use, and the
// tweak count is clamped to the record's 25 slots.
void storeCalibration(codec::EepromRecord &e, const codec::CalibParamBlock &b);

// Stores a fixed-coordinate ratio (mode and ratio) in the record.
void storeFixCoord(codec::EepromRecord &e, const codec::FixCoordRatio &f);

} // namespace tl::sim
