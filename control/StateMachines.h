#pragma once

// The controller's three machines as tables: for every state, what it takes
// and where it goes. The controller runs through these rows (systemStateChange,
// systemStateCalbrationChange, threadStateChange and the calibration steps look
// their row up here and act by it), and tools/machines draws docs/machines.md
// from them. A change of a machine is a change of a row.

#include "control/SystemStates.h"

#include <cstddef>

namespace tl::machines {

// Where a row points when it points at no state of the machine.
constexpr int kNone = -1;
// The module's calibration is over (StopOrNextCalibration): the first step of
// the next module, or ecsIDLE_CALIBRATION after the last one.
constexpr int kModuleEnd = -2;

// ---- system machine ----------------------------------------------------------
// Every system state is a request of the user or the operating system; its row
// says what the request sets off.
enum class SystemAction {
    None,              // only logged and stored
    Idle,              // the calibration machine's ecsIDLE_CALIBRATION
    Connect,           // count and open the modules, then the connect tail
    DeviceChange,      // reopen when the module count changed, then the connect tail
    Sleep,             // stop the modules, disconnected
    WakeUp,            // reopen every module, then the connect tail
    DisplayChange,     // new display rectangles; tracking again when module 0's moved
    AlignmentView,     // the modules stream frames
    BackToTracking,    // tracking again when the modules hold a calibration
    CalibrationStart,  // a run for module 0: results cleared, then the calibration row
    CalibrationRow,    // a calibration step for a module of the running run
};

struct SystemRow
{
    eSystemState state;
    const char *name;
    SystemAction action;
    int calState;     // the calibration state it enters, or kNone
    int threadState;  // the acquisition state it asks for, or kNone
    int nextModule;   // 1: acts on the module after the one it is given
};

// ---- calibration machine -----------------------------------------------------
// What a calibration step can wait for.
enum class CalibrationEvent {
    CaptureEnd,  // the module captured the screen shown (RES_AC_*_END)
    Image,       // a complete captured image arrived
    PatternEnd,  // the module ended a manual target (RES_MC_PATTERN_END)
    PointList,   // the module's list of touched points (DAT_MC_INPUT_POINT)
    Stored,      // the module stored the uploaded parameters (RES_AC_READY_END)
};

enum class CalibrationAction {
    FetchImage,        // the window shows the next screen; the captured image is asked for
    NextCapture,       // the module captures the next screen
    FetchPattern,      // the pattern image is asked for
    EvaluateAuto,      // pattern search and fit; upload on success
    NextTarget,        // the next manual target, or the point list after the last
    EvaluateManual,    // fit of the touched points; upload on success
    ModuleEnd,         // the module's calibration is over
};

// The image a capture step deals with (the module's image kinds).
enum class CaptureKind : int { None = 0, Black = 101, White = 102, Pattern = 103 };

struct CalibrationStateRow
{
    eCalibrationState state;
    const char *name;     // the name the code and the diagram give the state
    bool logsName;        // false: "systemStateCalbrationChange():" prints INVALID (an intermediate step)
    int threadState;      // what entering it through systemStateCalbrationChange asks for, or kNone
    const char *meaning;
};

struct CalibrationTransition
{
    eCalibrationState from;
    CalibrationEvent event;
    CalibrationAction action;
    CaptureKind kind;  // the image the step deals with, or None
    int to;            // where the step goes (kModuleEnd: the module's end)
    int orElse;        // where it goes when the step fails, or kNone
};

// ---- thread (acquisition) machine --------------------------------------------
// Every change stops the modules first (etaNULL); the row says how the state
// starts.
enum class ThreadAction { None, Frames, ManualCalibration, AutoCalibration, Tracking };

struct ThreadRow
{
    eThreadState state;
    const char *name;
    ThreadAction action;
    int calState;  // the calibration state it starts in, or kNone
    const char *meaning;
};

template <typename Row>
struct Table
{
    const Row *rows;
    std::size_t size;
    const Row *begin() const { return rows; }
    const Row *end() const { return rows + size; }
};

Table<SystemRow> systemRows();
Table<CalibrationStateRow> calibrationStates();
Table<CalibrationTransition> calibrationTransitions();
Table<ThreadRow> threadRows();

// The row of a state; an unknown value gives the row of esysINVALID (ecsINVALID,
// etaINVALID), which does nothing.
const SystemRow &systemRow(int state);
const CalibrationStateRow &calibrationStateRow(int state);
const ThreadRow &threadRow(int state);
// The step a calibration state takes on an event; null: the state does not take it.
const CalibrationTransition *calibrationTransition(int state, CalibrationEvent event);

// Names for the transition lines and the diagram; every state has one.
const char *calibrationStepName(int state);
const char *eventName(CalibrationEvent event);
const char *actionName(CalibrationAction action);
const char *actionName(SystemAction action);
const char *actionName(ThreadAction action);

} // namespace tl::machines
