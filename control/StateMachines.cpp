#include "control/StateMachines.h"

#include <iterator>

namespace tl::machines {

namespace {

using SA = SystemAction;
using CE = CalibrationEvent;
using CA = CalibrationAction;
using CK = CaptureKind;
using TA = ThreadAction;

// Indexed by the state's value: row i is state i.
constexpr SystemRow kSystem[] = {
    {esysIDLE_SYS, "esysIDLE_SYS", SA::Idle, ecsIDLE_CALIBRATION, kNone, 0},
    {esysCONNECTION_START, "esysCONNECTION_START", SA::Connect, ecsIDLE_CALIBRATION, kNone, 0},
    {esysDEVICE_FOUND_OR_REMOVE, "esysDEVICE_FOUND_OR_REMOVE", SA::DeviceChange, ecsIDLE_CALIBRATION, kNone, 0},
    {esysCHANGE_TO_SLEEP, "esysCHANGE_TO_SLEEP", SA::Sleep, kNone, etaNULL, 0},
    {esysCHANGE_WAKE_UP, "esysCHANGE_WAKE_UP", SA::WakeUp, ecsIDLE_CALIBRATION, kNone, 0},
    {esysDISPLAY_CHANGE, "esysDISPLAY_CHANGE", SA::DisplayChange, ecsIDLE_CALIBRATION, kNone, 0},
    {esysUSER_ALIGNMENT_VIEW, "esysUSER_ALIGNMENT_VIEW", SA::AlignmentView, kNone, etaDISPLAY, 0},
    {esysUSER_START_ANALYSYS_BEFOR_TRACKING, "esysUSER_START_ANALYSYS_BEFOR_TRACKING", SA::BackToTracking,
     ecsIDLE_CALIBRATION, kNone, 0},
    {esysUSER_MANUAL_CAL_START, "esysUSER_MANUAL_CAL_START", SA::CalibrationStart, ecsMANUAL_CAL_CAPTURE_POINT_IMAGE,
     etaMANUAL_CALIBRATION, 0},
    {esysUSER_AUTO_CAL_START, "esysUSER_AUTO_CAL_START", SA::CalibrationStart, ecsAUTO_CAL_CAPTURE_BLACK_IMAGE,
     etaAUTO_CALIBRATION, 0},
    {esysUSER_MANUAL_CAL_POINT_IMAGE, "esysUSER_MANUAL_CAL_POINT_IMAGE", SA::CalibrationRow,
     ecsMANUAL_CAL_CAPTURE_POINT_IMAGE, etaMANUAL_CALIBRATION, 0},
    {esysUSER_MANUAL_CAL_START_NEXT_DEVICE, "esysUSER_MANUAL_CAL_START_NEXT_DEVICE", SA::CalibrationRow,
     ecsMANUAL_CAL_CAPTURE_POINT_IMAGE, etaMANUAL_CALIBRATION, 1},
    {esysUSER_AUTO_CAL_RESTART, "esysUSER_AUTO_CAL_RESTART", SA::None, kNone, kNone, 0},
    {esysUSER_AUTO_CAL_START_NEXT_DEVICE, "esysUSER_AUTO_CAL_START_NEXT_DEVICE", SA::CalibrationRow,
     ecsAUTO_CAL_CAPTURE_BLACK_IMAGE, etaAUTO_CALIBRATION, 1},
    {esysUSER_MANUAL_CAL_COMPLETE, "esysUSER_MANUAL_CAL_COMPLETE", SA::None, kNone, kNone, 0},
    {esysUSER_AUTO_CAL_COMPLETE, "esysUSER_AUTO_CAL_COMPLETE", SA::None, kNone, kNone, 0},
    {esysUSER_CAL_END_TO_TRACKING, "esysUSER_CAL_END_TO_TRACKING", SA::None, kNone, kNone, 0},
    {esysINVALID, "esysINVALID", SA::None, kNone, kNone, 0},
};

// The steps between the fixed names are logged as "INVALID" on the calibration
// machine's own line, as they always were; they carry a name everywhere else
// (the line of each step, the diagram).
constexpr bool kNamed = true;   // the log prints the name
constexpr bool kStep = false;   // an intermediate step: the log prints "INVALID"
constexpr CalibrationStateRow kCalibrationStates[] = {
    {ecsIDLE_CALIBRATION, "ecsIDLE_CALIBRATION", kNamed, etaTRACKING, "no run: tracking"},
    {ecsMANUAL_CAL_CAPTURE_POINT_IMAGE, "ecsMANUAL_CAL_CAPTURE_POINT_IMAGE", kNamed, etaMANUAL_CALIBRATION,
     "manual: the user touches the targets"},
    {ecsMANUAL_CAL_WAIT_POINT_LIST, "ecsMANUAL_CAL_WAIT_POINT_LIST", kStep, kNone, "manual: the point list asked for"},
    {ecsMANUAL_CAL_WAIT_STORED, "ecsMANUAL_CAL_WAIT_STORED", kStep, kNone, "manual: uploaded, acknowledgement awaited"},
    {ecsAUTO_CAL_CAPTURE_BLACK_IMAGE, "ecsAUTO_CAL_CAPTURE_BLACK_IMAGE", kNamed, etaAUTO_CALIBRATION,
     "auto: the module captures the black screen"},
    {ecsAUTO_CAL_GET_BLACK_IMAGE, "ecsAUTO_CAL_GET_BLACK_IMAGE", kStep, kNone, "auto: image 101 being fetched"},
    {ecsAUTO_CAL_CAPTURE_WHITE_IMAGE, "ecsAUTO_CAL_CAPTURE_WHITE_IMAGE", kNamed, kNone,
     "auto: the module captures white"},
    {ecsAUTO_CAL_GET_WHITE_IMAGE, "ecsAUTO_CAL_GET_WHITE_IMAGE", kStep, kNone, "auto: image 102 being fetched"},
    {ecsAUTO_CAL_CAPTURE_PATTERN_IMAGE, "ecsAUTO_CAL_CAPTURE_PATTERN_IMAGE", kNamed, kNone,
     "auto: the module captures the pattern"},
    {ecsAUTO_CAL_GET_PATTERN_IMAGE, "ecsAUTO_CAL_GET_PATTERN_IMAGE", kStep, kNone, "auto: image 103 being fetched"},
    {ecsAUTO_CAL_WAIT_STORED, "ecsAUTO_CAL_WAIT_STORED", kStep, kNone, "auto: uploaded, acknowledgement awaited"},
    {ecsANALYSIS_START_BEFOR_TRACKING, "ecsANALYSIS_START_BEFOR_TRACKING", kNamed, kNone, "only stored"},
    {ecsINVALID, "ecsINVALID", kNamed, kNone, "only stored"},
};

// Every step a run takes. A state takes only the events listed for it; any
// other event leaves it waiting.
constexpr CalibrationTransition kSteps[] = {
    {ecsAUTO_CAL_CAPTURE_BLACK_IMAGE, CE::CaptureEnd, CA::FetchImage, CK::Black, ecsAUTO_CAL_GET_BLACK_IMAGE, kNone},
    {ecsAUTO_CAL_GET_BLACK_IMAGE, CE::Image, CA::NextCapture, CK::Black, ecsAUTO_CAL_CAPTURE_WHITE_IMAGE, kNone},
    {ecsAUTO_CAL_CAPTURE_WHITE_IMAGE, CE::CaptureEnd, CA::FetchImage, CK::White, ecsAUTO_CAL_GET_WHITE_IMAGE, kNone},
    {ecsAUTO_CAL_GET_WHITE_IMAGE, CE::Image, CA::NextCapture, CK::White, ecsAUTO_CAL_CAPTURE_PATTERN_IMAGE, kNone},
    {ecsAUTO_CAL_CAPTURE_PATTERN_IMAGE, CE::CaptureEnd, CA::FetchPattern, CK::Pattern, ecsAUTO_CAL_GET_PATTERN_IMAGE,
     kNone},
    {ecsAUTO_CAL_GET_PATTERN_IMAGE, CE::Image, CA::EvaluateAuto, CK::Pattern, ecsAUTO_CAL_WAIT_STORED, kModuleEnd},
    {ecsAUTO_CAL_WAIT_STORED, CE::Stored, CA::ModuleEnd, CK::None, kModuleEnd, kNone},
    {ecsMANUAL_CAL_CAPTURE_POINT_IMAGE, CE::PatternEnd, CA::NextTarget, CK::None, ecsMANUAL_CAL_CAPTURE_POINT_IMAGE,
     ecsMANUAL_CAL_WAIT_POINT_LIST},
    {ecsMANUAL_CAL_WAIT_POINT_LIST, CE::PointList, CA::EvaluateManual, CK::None, ecsMANUAL_CAL_WAIT_STORED,
     kModuleEnd},
    {ecsMANUAL_CAL_WAIT_STORED, CE::Stored, CA::ModuleEnd, CK::None, kModuleEnd, kNone},
};

constexpr ThreadRow kThread[] = {
    {etaNULL, "etaNULL", TA::None, kNone, "modules stopped"},
    {etaDISPLAY, "etaDISPLAY", TA::Frames, kNone, "frames for the alignment view"},
    {etaMANUAL_CALIBRATION, "etaMANUAL_CALIBRATION", TA::ManualCalibration, ecsMANUAL_CAL_CAPTURE_POINT_IMAGE,
     "one module runs manual calibration"},
    {etaAUTO_CALIBRATION, "etaAUTO_CALIBRATION", TA::AutoCalibration, ecsAUTO_CAL_CAPTURE_BLACK_IMAGE,
     "one module runs auto calibration"},
    {etaTRACKING, "etaTRACKING", TA::Tracking, kNone, "all modules report positions"},
    {etaINVALID, "etaINVALID", TA::None, kNone, "modules stopped"},
};

// Row i must be state i: the lookups index the tables by value.
template <typename Row, std::size_t N>
constexpr bool indexedByValue(const Row (&rows)[N])
{
    for (std::size_t i = 0; i < N; ++i) {
        if (static_cast<std::size_t>(rows[i].state) != i)
            return false;
    }
    return true;
}
static_assert(indexedByValue(kSystem) && std::size(kSystem) == esysINVALID + 1, "one system row per state");
static_assert(indexedByValue(kCalibrationStates) && std::size(kCalibrationStates) == ecsINVALID + 1,
              "one calibration row per state");
static_assert(indexedByValue(kThread) && std::size(kThread) == etaINVALID + 1, "one thread row per state");

// A state takes an event at most once: the lookup takes the first row.
constexpr bool eachEventOnce()
{
    for (std::size_t i = 0; i < std::size(kSteps); ++i) {
        for (std::size_t j = i + 1; j < std::size(kSteps); ++j) {
            if (kSteps[i].from == kSteps[j].from && kSteps[i].event == kSteps[j].event)
                return false;
        }
    }
    return true;
}
static_assert(eachEventOnce(), "a calibration state takes an event in one row");

template <typename Row, std::size_t N>
const Row &rowOf(const Row (&rows)[N], int state)
{
    return (state >= 0 && state < static_cast<int>(N)) ? rows[state] : rows[N - 1];
}

} // namespace

Table<SystemRow> systemRows() { return {kSystem, std::size(kSystem)}; }
Table<CalibrationStateRow> calibrationStates() { return {kCalibrationStates, std::size(kCalibrationStates)}; }
Table<CalibrationTransition> calibrationTransitions() { return {kSteps, std::size(kSteps)}; }
Table<ThreadRow> threadRows() { return {kThread, std::size(kThread)}; }

const SystemRow &systemRow(int state) { return rowOf(kSystem, state); }
const CalibrationStateRow &calibrationStateRow(int state) { return rowOf(kCalibrationStates, state); }
const ThreadRow &threadRow(int state) { return rowOf(kThread, state); }

const CalibrationTransition *calibrationTransition(int state, CalibrationEvent event)
{
    for (const CalibrationTransition &step : kSteps) {
        if (step.from == state && step.event == event)
            return &step;
    }
    return nullptr;
}

const char *calibrationStepName(int state)
{
    if (state == kModuleEnd)
        return "StopOrNextCalibration";
    if (state < 0 || state > ecsINVALID)
        return "INVALID";
    return kCalibrationStates[state].name;
}

namespace {

// Names of the events and actions, in the order of their enumerators.
constexpr const char *kEventNames[] = {"capture end", "image", "target end", "point list", "parameters stored"};
constexpr const char *kCalibrationActionNames[] = {
    "next screen, fetch image", "capture next screen", "fetch pattern image", "pattern search, fit, upload",
    "next target", "fit, upload", "module done",
};
constexpr const char *kSystemActionNames[] = {
    "only stored",
    "idle",
    "open modules, connect tail",
    "reopen when the count changed, connect tail",
    "stop, disconnected",
    "reopen, connect tail",
    "display rectangles, tracking again when module 0 moved",
    "frames",
    "tracking when calibrated",
    "results cleared, run starts",
    "calibration row",
};
constexpr const char *kThreadActionNames[] = {
    "nothing", "loops in frame mode", "targets, CMD_MC_START", "black, send_ac_black_start", "CMD_START_TRACKING",
};
static_assert(std::size(kEventNames) == std::size_t(CE::Stored) + 1, "one name per event");
static_assert(std::size(kCalibrationActionNames) == std::size_t(CA::ModuleEnd) + 1, "one name per action");
static_assert(std::size(kSystemActionNames) == std::size_t(SA::CalibrationRow) + 1, "one name per action");
static_assert(std::size(kThreadActionNames) == std::size_t(TA::Tracking) + 1, "one name per action");

template <typename E, std::size_t N>
const char *nameOf(const char *const (&names)[N], E value)
{
    const auto i = static_cast<std::size_t>(value);
    return i < N ? names[i] : "?";
}

} // namespace

const char *eventName(CalibrationEvent event) { return nameOf(kEventNames, event); }
const char *actionName(CalibrationAction action) { return nameOf(kCalibrationActionNames, action); }
const char *actionName(SystemAction action) { return nameOf(kSystemActionNames, action); }
const char *actionName(ThreadAction action) { return nameOf(kThreadActionNames, action); }

} // namespace tl::machines

// The log's names: "INVALID" for a value without one in the log.
const char *systemStateName(int state)
{
    return state >= 0 && state <= esysINVALID ? tl::machines::systemRow(state).name : "INVALID";
}

const char *calibrationStateName(int state)
{
    if (state < 0 || state > ecsINVALID || !tl::machines::calibrationStateRow(state).logsName)
        return "INVALID";
    return tl::machines::calibrationStateRow(state).name;
}

const char *threadStateName(int state)
{
    return state >= 0 && state <= etaINVALID ? tl::machines::threadRow(state).name : "INVALID";
}
