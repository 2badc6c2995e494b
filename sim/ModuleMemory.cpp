#include "sim/ModuleMemory.h"

#include <algorithm>
#include <array>

namespace tl::sim {

codec::EepromRecord blankEeprom(uint8_t fill)
{
    std::array<uint8_t, codec::kEepromSize> bytes;
    bytes.fill(fill);
    return codec::decodeEeprom(bytes.data(), static_cast<int>(bytes.size())).value_or(codec::EepromRecord{});
}

void storeCalibration(codec::EepromRecord &e, const codec::CalibParamBlock &b)
{
    e.length = codec::kEepromSize;
    if (e.version <= 0)
        e.version = 1;
    e.tp = b.tp;
    e.windowWidth = b.windowWidth;
    e.windowHeight = b.windowHeight;
    e.ceiling = b.ceiling;
    e.rear = b.rear;
    e.lens = b.lensType;
    e.imageReverse = b.imageReverse;
    e.windowWidth2 = b.windowWidth;
    e.windowHeight2 = b.windowHeight;
    e.ceiling2 = b.ceiling;
    e.rear2 = b.rear;
    e.lens2 = b.lensType;
    e.imageReverse2 = b.imageReverse;
    e.acTweakNum = std::clamp<int32_t>(b.acTweakNum, 0, codec::kTweakPoints);
    for (int i = 0; i < codec::kTweakPoints; ++i)
        e.tweak[i] = i < e.acTweakNum ? b.tweak[i] : codec::TweakPoint{};
    e.ptSetting = b.ptSetting;
    e.ftSetting = b.ftSetting;
    e.ftPresent = b.ftSetting.setting != 0 ? 1 : 0;
    e.modeFT = 0;
}

void storeFixCoord(codec::EepromRecord &e, const codec::FixCoordRatio &f)
{
    e.fixCoordMode = static_cast<uint8_t>(f.mode);
    e.fixCoordRatio = f.ratio;
}

} // namespace tl::sim
