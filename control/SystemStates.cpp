#include "control/SystemStates.h"

#include <iterator>

namespace {
template <size_t N>
const char *lookup(const char *const (&names)[N], int state)
{
    if (state < 0 || state >= static_cast<int>(N) || names[state] == nullptr)
        return "INVALID";
    return names[state];
}
} // namespace

const char *systemStateName(int state)
{
    static const char *const names[] = {
        "esysIDLE_SYS",
        "esysCONNECTION_START",
        "esysDEVICE_FOUND_OR_REMOVE",
        "esysCHANGE_TO_SLEEP",
        "esysCHANGE_WAKE_UP",
        "esysDISPLAY_CHANGE",
        "esysUSER_ALIGNMENT_VIEW",
        "esysUSER_START_ANALYSYS_BEFOR_TRACKING",
        "esysUSER_MANUAL_CAL_START",
        "esysUSER_AUTO_CAL_START",
        "esysUSER_MANUAL_CAL_POINT_IMAGE",
        "esysUSER_MANUAL_CAL_START_NEXT_DEVICE",
        "esysUSER_AUTO_CAL_RESTART",
        "esysUSER_AUTO_CAL_START_NEXT_DEVICE",
        "esysUSER_MANUAL_CAL_COMPLETE",
        "esysUSER_AUTO_CAL_COMPLETE",
        "esysUSER_CAL_END_TO_TRACKING",
        "esysINVALID",
    };
    return lookup(names, state);
}

const char *calibrationStateName(int state)
{
    static const char *const names[] = {
        "ecsIDLE_CALIBRATION",
        "ecsMANUAL_CAL_CAPTURE_POINT_IMAGE",
        nullptr,
        nullptr,
        "ecsAUTO_CAL_CAPTURE_BLACK_IMAGE",
        nullptr,
        "ecsAUTO_CAL_CAPTURE_WHITE_IMAGE",
        nullptr,
        "ecsAUTO_CAL_CAPTURE_PATTERN_IMAGE",
        nullptr,
        nullptr,
        "ecsANALYSIS_START_BEFOR_TRACKING",
        "ecsINVALID",
    };
    return lookup(names, state);
}

const char *threadStateName(int state)
{
    static const char *const names[] = {
        "etaNULL", "etaDISPLAY", "etaMANUAL_CALIBRATION", "etaAUTO_CALIBRATION", "etaTRACKING", "etaINVALID",
    };
    return lookup(names, state);
}
