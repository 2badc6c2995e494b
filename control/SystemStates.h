#pragma once

// The controller's three state machines. The numbering is fixed: logs and
// callers use these values.

enum eSystemState {
    esysIDLE_SYS = 0,
    esysCONNECTION_START = 1,
    esysDEVICE_FOUND_OR_REMOVE = 2,
    esysCHANGE_TO_SLEEP = 3,
    esysCHANGE_WAKE_UP = 4,
    esysDISPLAY_CHANGE = 5,
    esysUSER_ALIGNMENT_VIEW = 6,
    esysUSER_START_ANALYSYS_BEFOR_TRACKING = 7,
    esysUSER_MANUAL_CAL_START = 8,
    esysUSER_AUTO_CAL_START = 9,
    esysUSER_MANUAL_CAL_POINT_IMAGE = 10,
    esysUSER_MANUAL_CAL_START_NEXT_DEVICE = 11,
    esysUSER_AUTO_CAL_RESTART = 12,
    esysUSER_AUTO_CAL_START_NEXT_DEVICE = 13,
    esysUSER_MANUAL_CAL_COMPLETE = 14,
    esysUSER_AUTO_CAL_COMPLETE = 15,
    esysUSER_CAL_END_TO_TRACKING = 16,
    esysINVALID = 17,
};

// The steps between the fixed names carry names of their own here; the log
// keeps printing them as "INVALID", as it always has.
enum eCalibrationState {
    ecsIDLE_CALIBRATION = 0,
    ecsMANUAL_CAL_CAPTURE_POINT_IMAGE = 1,
    ecsMANUAL_CAL_WAIT_POINT_LIST = 2,       // all targets touched, the point list is asked for
    ecsMANUAL_CAL_WAIT_STORED = 3,           // parameters uploaded, waiting for RES_AC_READY_END
    ecsAUTO_CAL_CAPTURE_BLACK_IMAGE = 4,
    ecsAUTO_CAL_GET_BLACK_IMAGE = 5,         // black captured, its image (101) being fetched
    ecsAUTO_CAL_CAPTURE_WHITE_IMAGE = 6,
    ecsAUTO_CAL_GET_WHITE_IMAGE = 7,         // white captured, its image (102) being fetched
    ecsAUTO_CAL_CAPTURE_PATTERN_IMAGE = 8,
    ecsAUTO_CAL_GET_PATTERN_IMAGE = 9,       // pattern captured, its image (103) being fetched
    ecsAUTO_CAL_WAIT_STORED = 10,            // parameters uploaded, waiting for RES_AC_READY_END
    ecsANALYSIS_START_BEFOR_TRACKING = 11,
    ecsINVALID = 12,
};

enum eThreadState {
    etaNULL = 0,
    etaDISPLAY = 1,
    etaMANUAL_CALIBRATION = 2,
    etaAUTO_CALIBRATION = 3,
    etaTRACKING = 4,
    etaINVALID = 5,
};

// Names as the log prints them, from the machines' tables (StateMachines.cpp);
// an unnamed or out-of-range value gives "INVALID".
const char *systemStateName(int state);
const char *calibrationStateName(int state);
const char *threadStateName(int state);
