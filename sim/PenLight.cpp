#include "sim/PenLight.h"
#include "sim/PenLightData.h"

namespace tl::sim {

PenLight penLightFor(int lens, int penType)
{
    if (penType < 0 || penType >= kPenTypes)
        return PenLight{};
    const int family = (lens == 2 || lens == 3) ? lens : 1;
    return kPenLightTable[family - 1][penType];
}

} // namespace tl::sim
