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

// Values without a name are the intermediate steps of the calibration sequences.
enum eCalibrationState {
    ecsIDLE_CALIBRATION = 0,
    ecsMANUAL_CAL_CAPTURE_POINT_IMAGE = 1,
    // 2: manual, all points captured, waiting for the point list
    // 3: manual, parameters uploaded, waiting for the acknowledgement
    ecsAUTO_CAL_CAPTURE_BLACK_IMAGE = 4,
    // 5: black capture running
    ecsAUTO_CAL_CAPTURE_WHITE_IMAGE = 6,
    // 7: white capture running
    ecsAUTO_CAL_CAPTURE_PATTERN_IMAGE = 8,
    // 9: pattern capture running
    // 10: auto, parameters uploaded, waiting for the acknowledgement
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

// Names as the log prints them; an unnamed or out-of-range value gives "INVALID".
const char *systemStateName(int state);
const char *calibrationStateName(int state);
const char *threadStateName(int state);
