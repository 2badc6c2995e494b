#include "device/codec/Commands.h"

namespace tl::codec {

const char *codeName(int32_t code)
{
    switch (code) {
#define TL_NAME(c) \
    case c: \
        return #c;
        TL_NAME(CMD_SENDVERSION)
        TL_NAME(DAT_VERSION)
        TL_NAME(CMD_IIC_RD)
        TL_NAME(CMD_IIC_WR)
        TL_NAME(DAT_IMG)
        TL_NAME(DAT_IMGEND)
        TL_NAME(CMD_SENDPOS)
        TL_NAME(DAT_TC_PACKET)
        TL_NAME(RES_ACK)
        TL_NAME(RES_NAK)
        TL_NAME(CMD_AC_BLACK_START)
        TL_NAME(CMD_AC_WHITE_START)
        TL_NAME(CMD_AC_PATTERN_START)
        TL_NAME(CMD_AC_SENDIMG)
        TL_NAME(RES_AC_BLACK_END)
        TL_NAME(RES_AC_WHITE_END)
        TL_NAME(RES_AC_PATTERN_END)
        TL_NAME(DAT_AC_IMAGE)
        TL_NAME(DAT_AC_IMGEND)
        TL_NAME(CMD_AC_PATTERN_CENTER)
        TL_NAME(DAT_AC_PATTERN_CENTER)
        TL_NAME(DAT_AC_CALIB_PARAMETER)
        TL_NAME(RES_AC_RESULT)
        TL_NAME(CMD_SCRIVO_START)
        TL_NAME(CMD_SCRIVO_END)
        TL_NAME(CMD_SCRIVO_ALIVE)
        TL_NAME(DAT_TC_CUSTOM_HID)
        TL_NAME(CMD_MC_START)
        TL_NAME(CMD_MC_END)
        TL_NAME(CMD_MC_CANCEL)
        TL_NAME(CMD_MC_PATTERN_START)
        TL_NAME(RES_MC_PATTERN_DONE)
        TL_NAME(RES_MC_PATTERN_END)
        TL_NAME(CMD_MC_PATTERN_CENTER)
        TL_NAME(RES_MC_RESULT)
        TL_NAME(CMD_SENDFRM_MONO)
        TL_NAME(CMD_SET_MONO_BIN)
        TL_NAME(CMD_SETUP_ALIVE)
        TL_NAME(CMD_START_TRACKING)
        TL_NAME(CMD_STOP_TRACKING)
        TL_NAME(RES_DEBUG)
        TL_NAME(CMD_SET_FINGER_TOUCH_MODE)
        TL_NAME(CMD_TC_DEBUG_SENDIMG)
        TL_NAME(DAT_TC_IMAGE)
        TL_NAME(DAT_TC_IMGEND)
        TL_NAME(CMD_SET_TRANSFER_MODE)
        TL_NAME(CMD_SEND_OPTION)
        TL_NAME(DAT_OPTION)
        TL_NAME(CMD_SET_SERIAL_NUMBER)
        TL_NAME(CMD_GET_EEPROM)
        TL_NAME(DAT_EEPROM)
        TL_NAME(DAT_TC_DUAL_MODE)
        TL_NAME(CMD_AC_RESULT_GENERATE)
        TL_NAME(RES_AC_RESULT_GENERATE_END)
        TL_NAME(CMD_AC_SENDIMG_PART)
        TL_NAME(DAT_AC_IMAGE_PART)
        TL_NAME(CMD_SET_CALIB_PARAMETER)
        TL_NAME(RES_AC_READY_END)
        TL_NAME(CMD_MC_GET_INPUT_POINT)
        TL_NAME(DAT_MC_INPUT_POINT)
        TL_NAME(CMD_SET_IMAGE_REVERSE)
        TL_NAME(DAT_AC_IMAGE_PART_END)
        TL_NAME(CMD_SET_FIX_COORD_RATIO)
        TL_NAME(CMD_GET_MASK)
        TL_NAME(DAT_MASK)
        TL_NAME(CMD_SET_MASK)
#undef TL_NAME
    default:
        return nullptr;
    }
}

const char *commandName(int32_t code)
{
    const bool known = (code >= 0x1003 && code <= 0x1006) || code == 0x100A || code == 0x100B ||
                       code == 0x100C || code == 0x100D || (code >= 0x1010 && code <= 0x101B) ||
                       code == 0x1020 || (code >= 0x1100 && code <= 0x1107) || code == 0x1109 ||
                       code == 0x110A || code == 0x110B || code == 0x110E || code == 0x110F ||
                       code == 0x1110 || (code >= 0x1114 && code <= 0x1119);
    return known ? codeName(code) : "Invalid Command";
}

int32_t expectedAnswer(int32_t command)
{
    switch (command) {
    case CMD_SENDVERSION:
        return DAT_VERSION;
    case CMD_SEND_OPTION:
        return DAT_OPTION;
    case CMD_GET_EEPROM:
        return DAT_EEPROM;
    case CMD_GET_MASK:
        return DAT_MASK;
    case CMD_START_TRACKING:
    case CMD_STOP_TRACKING:
    case CMD_SET_FINGER_TOUCH_MODE:
        return RES_ACK;
    default:
        return 0;
    }
}

} // namespace tl::codec
