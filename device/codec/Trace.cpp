#include "device/codec/Trace.h"

#include "device/codec/Commands.h"
#include "device/codec/Text.h"

namespace tl::codec {

namespace {
bool inList(int32_t code, std::initializer_list<int32_t> codes)
{
    for (int32_t c : codes)
        if (c == code)
            return true;
    return false;
}
} // namespace

std::string packetTraceText(const PacketView &p)
{
    const int32_t c = p.code;
    const int len = p.rawLength;
    const char *name = codeName(c);
    switch (c) {
    case CMD_SENDVERSION:
        return format("[0x%X]CMD_SENDVERSION : Len[%d]", c, len);
    case DAT_VERSION:
        return format("[0x%X]DAT_VERSION : Len[%d], Vers[%d.%02d]", c, len, payloadU8(p, 0),
                                 payloadU8(p, 1));
    case CMD_IIC_RD:
    case CMD_IIC_WR:
        return format("[0x%X]%s : RegAddr[0x%X], Data[0x%X]", c, name, payloadU16(p, 0),
                                 payloadU8(p, 2));
    case RES_ACK:
        switch (len) {
        case 16:
            return format("[0x%X]RES_ACK : Len[%d],Data[%f, %f]", c, len, payloadF64(p, 0),
                                     payloadF64(p, 8));
        case 44:
            return format("[0x%X]RES_ACK : Len[%d],Data[%f, %f, %d, %d, %d, %d, %d, %d, %d]", c, len,
                                     payloadF64(p, 0), payloadF64(p, 8), payloadI32(p, 16), payloadI32(p, 20),
                                     payloadI32(p, 24), payloadI32(p, 28), payloadI32(p, 32), payloadI32(p, 36),
                                     payloadI32(p, 40));
        case 4:
            return format("[0x%X]RES_ACK : Len[%d], Data[%d = 0x%X]", c, len, payloadI32(p, 0),
                                     static_cast<unsigned>(payloadI32(p, 0)));
        case 0:
            return format("[0x%X]RES_ACK : Len[%d]", c, len);
        default:
            return std::string();
        }
    case RES_NAK:
        return format("[0x%X]RES_NAK : Len[%d],Data[%s]", c, len, commandName(payloadI32(p, 0)));
    case CMD_AC_SENDIMG:
        return format("[0x%X]CMD_AC_SENDIMG : Len[%d], Data[%d, %d]", c, len, payloadU8(p, 0),
                                 payloadU8(p, 1));
    case DAT_OPTION:
        return format("[0x%X]DAT_OPTION : Len[%d], Option[%d, %d]", c, len, payloadU8(p, 0),
                                 payloadU8(p, 1));
    case CMD_SET_FINGER_TOUCH_MODE:
    case CMD_SET_TRANSFER_MODE:
    case CMD_SET_IMAGE_REVERSE:
        return format("[0x%X]%s : Len[%d], Data[%d]", c, name, len, payloadU8(p, 0));
    case CMD_TC_DEBUG_SENDIMG:
        return format("[0x%X]CMD_TC_DEBUG_SENDIMG : Len[%d], Data[%d]", c, len, payloadI32(p, 0));
    case CMD_SET_FIX_COORD_RATIO:
        return format("[0x%X]CMD_SET_FIX_COORD_RATIO : Len[%d], Data[%d, %f]", c, len, payloadI32(p, 0),
                                 payloadF64(p, 4));
    default:
        break;
    }
    if (inList(c, {CMD_AC_BLACK_START, CMD_AC_WHITE_START, CMD_AC_PATTERN_START, RES_AC_BLACK_END, RES_AC_WHITE_END,
                   RES_AC_PATTERN_END, CMD_AC_PATTERN_CENTER, DAT_AC_PATTERN_CENTER, DAT_AC_CALIB_PARAMETER,
                   CMD_MC_START, CMD_MC_END, CMD_MC_PATTERN_CENTER, CMD_SENDFRM_MONO, CMD_SETUP_ALIVE,
                   CMD_SEND_OPTION, CMD_SET_SERIAL_NUMBER, CMD_GET_EEPROM, DAT_EEPROM, DAT_TC_DUAL_MODE,
                   CMD_AC_RESULT_GENERATE, RES_AC_RESULT_GENERATE_END, CMD_AC_SENDIMG_PART, DAT_AC_IMAGE_PART,
                   CMD_SET_CALIB_PARAMETER, RES_AC_READY_END, DAT_MC_INPUT_POINT}))
        return format("[0x%X]%s : Len[%d]", c, name, len);
    if (inList(c, {RES_AC_RESULT, CMD_MC_CANCEL, CMD_MC_PATTERN_START, RES_MC_PATTERN_DONE, RES_MC_PATTERN_END,
                   RES_MC_RESULT, CMD_SET_MONO_BIN, CMD_START_TRACKING, CMD_STOP_TRACKING, CMD_MC_GET_INPUT_POINT}))
        return format("[0x%X]%s : Data[%x]", c, name, static_cast<unsigned>(payloadI32(p, 0)));
    if (inList(c, {DAT_IMGEND, DAT_AC_IMAGE, DAT_AC_IMGEND, CMD_SCRIVO_START, CMD_SCRIVO_END, CMD_SCRIVO_ALIVE,
                   DAT_TC_CUSTOM_HID, RES_DEBUG}))
        return std::string();
    return format("[0x%X]Invalid Cmd : Len[%d]", static_cast<unsigned>(c), len);
}

std::string packetTraceText(const PacketBuffer &buf)
{
    PacketView v;
    parsePacket(buf, kPacketSize, v);
    return packetTraceText(v);
}

std::string packetTraceLine(int msOfDay, int devNum, const std::string &text)
{
    return format("%02d:%02d:%02d.%03d [%d] ", msOfDay / 3600000, msOfDay / 60000 % 60, msOfDay / 1000 % 60,
                  msOfDay % 1000, devNum) + text;
}

} // namespace tl::codec
