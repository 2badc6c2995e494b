#pragma once

#include <cstdint>

namespace tl::codec {

// Packet command codes. CMD_ = host command, DAT_ = data, RES_ = module result.
// The codes are the module firmware's; rows the host never sends or handles keep
// their codes so that traces read the same as the module's own logs.
enum Command : int32_t {
    CMD_SENDVERSION = 0x1003,
    DAT_VERSION = 0x1004,
    CMD_IIC_RD = 0x1005,
    CMD_IIC_WR = 0x1006,
    DAT_IMG = 0x1008,
    DAT_IMGEND = 0x1009,
    CMD_SENDPOS = 0x100A,
    DAT_TC_PACKET = 0x100B,
    RES_ACK = 0x100C,
    RES_NAK = 0x100D,
    CMD_AC_BLACK_START = 0x1010,
    CMD_AC_WHITE_START = 0x1011,
    CMD_AC_PATTERN_START = 0x1012,
    CMD_AC_SENDIMG = 0x1013,
    RES_AC_BLACK_END = 0x1014,
    RES_AC_WHITE_END = 0x1015,
    RES_AC_PATTERN_END = 0x1016,
    DAT_AC_IMAGE = 0x1017,
    DAT_AC_IMGEND = 0x1018,
    CMD_AC_PATTERN_CENTER = 0x1019,
    DAT_AC_PATTERN_CENTER = 0x101A,
    DAT_AC_CALIB_PARAMETER = 0x101B,
    RES_AC_RESULT = 0x1020,
    CMD_SCRIVO_START = 0x1100,
    CMD_SCRIVO_END = 0x1101,
    CMD_SCRIVO_ALIVE = 0x1102,
    DAT_TC_CUSTOM_HID = 0x1103,
    CMD_MC_START = 0x1104,
    CMD_MC_END = 0x1105,
    CMD_MC_CANCEL = 0x1106,
    CMD_MC_PATTERN_START = 0x1107,
    RES_MC_PATTERN_DONE = 0x1108,
    RES_MC_PATTERN_END = 0x1109,
    CMD_MC_PATTERN_CENTER = 0x110A,
    RES_MC_RESULT = 0x110B,
    CMD_SENDFRM_MONO = 0x110C,
    CMD_SET_MONO_BIN = 0x110D,
    CMD_SETUP_ALIVE = 0x110E,
    CMD_START_TRACKING = 0x110F,
    CMD_STOP_TRACKING = 0x1110,
    RES_DEBUG = 0x1111,
    CMD_SET_FINGER_TOUCH_MODE = 0x1112,
    CMD_TC_DEBUG_SENDIMG = 0x1114,
    DAT_TC_IMAGE = 0x1115,
    DAT_TC_IMGEND = 0x1116,
    CMD_SET_TRANSFER_MODE = 0x1117,
    CMD_SEND_OPTION = 0x1118,
    DAT_OPTION = 0x1119,
    CMD_SET_SERIAL_NUMBER = 0x111A,
    CMD_GET_EEPROM = 0x111C,
    DAT_EEPROM = 0x111D,
    DAT_TC_DUAL_MODE = 0x111E,
    CMD_AC_RESULT_GENERATE = 0x111F,
    RES_AC_RESULT_GENERATE_END = 0x1120,
    CMD_AC_SENDIMG_PART = 0x1121,
    DAT_AC_IMAGE_PART = 0x1122,
    CMD_SET_CALIB_PARAMETER = 0x1123,
    RES_AC_READY_END = 0x1124,
    CMD_MC_GET_INPUT_POINT = 0x1125,
    DAT_MC_INPUT_POINT = 0x1126,
    CMD_SET_IMAGE_REVERSE = 0x1128,
    DAT_AC_IMAGE_PART_END = 0x1129,
    CMD_SET_FIX_COORD_RATIO = 0x112A,
    CMD_GET_MASK = 0x112C,
    DAT_MASK = 0x112D,
    CMD_SET_MASK = 0x112E,
};

// The name of any code of the table above ("CMD_SENDVERSION", ...), or null for a
// code outside it.
const char *codeName(int32_t code);

// The command-name lookup used by the RES_NAK trace. It knows only a subset of
// the codes (the ones the module can refuse, as the firmware's own table has them);
// every other code gives "Invalid Command".
const char *commandName(int32_t code);

// The answer a response wait expects for a command, or 0 when the command has no
// awaited answer. RES_ACK answers must also carry the command's code.
int32_t expectedAnswer(int32_t command);

} // namespace tl::codec
