#include "sim/ModuleVariant.h"

#include "sim/ModuleMemory.h"

#include <cstdio>

namespace tl::sim {

ModuleVariant ModuleVariant::blank(const std::string &serial, uint8_t fwMinor)
{
    ModuleVariant v;
    v.serial = serial;
    v.fwMinor = fwMinor;
    return v;
}

ModuleVariant ModuleVariant::calibrated(const std::string &serial, uint8_t fwMinor, int windowWidth,
                                        int windowHeight, uint8_t lens)
{
    ModuleVariant v = blank(serial, fwMinor);
    v.lens = lens;
    v.eeprom = sampleCalibration(windowWidth, windowHeight, lens, v.ceiling, v.rear);
    return v;
}

ModuleVariant ModuleVariant::foreign(uint16_t vendorId, uint16_t productId, const std::string &serial)
{
    ModuleVariant v;
    v.vendorId = vendorId;
    v.productId = productId;
    v.speaksProtocol = false;
    v.serial = serial;
    v.serialIndex = serial.empty() ? 0 : 3;
    return v;
}

std::vector<ModuleVariant> moduleSeries(int count, bool calibrated, uint8_t fwMinor)
{
    std::vector<ModuleVariant> out;
    for (int i = 1; i <= count; ++i) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "TLM%07d", i);
        out.push_back(calibrated ? ModuleVariant::calibrated(serial, fwMinor) : ModuleVariant::blank(serial, fwMinor));
    }
    return out;
}

codec::EepromRecord sampleCalibration(int windowWidth, int windowHeight, uint8_t lens, uint8_t ceiling,
                                      uint8_t rear)
{
    // Camera 1280 x 720 scaled onto the window, no perspective, the lens-1 radial
    // preset: what an upload for a square-on projector would leave behind.
    const double tp[codec::kCalibCoefficients] = {
        windowWidth / 1280.0, 0, 0, 0, windowHeight / 720.0, 0, 0, 0,
        682.6771, 325.4162, 2.945825e-07, 2.667841e-13, -1.078467e-19};
    codec::CalibParamInput in;
    in.tp = tp;
    in.ceiling = ceiling;
    in.rear = rear;
    in.windowWidth = windowWidth;
    in.windowHeight = windowHeight;
    in.lensType = lens;
    in.sensorSetting = true;
    in.valueA = 600;
    in.valueB = 600;
    in.fwMinor = 15;
    codec::EepromRecord e = blankEeprom(0x00);
    storeCalibration(e, codec::makeCalibParam(in));
    return e;
}

} // namespace tl::sim
