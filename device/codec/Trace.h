#pragma once

#include <string>

#include "device/codec/Packet.h"

namespace tl::codec {

// The text of one packet in the firmware's trace notation, e.g.
// "[0x1004]DAT_VERSION : Len[2], Vers[40.05]". Some codes (image pieces and
// a few others) have no text: the result is empty. Fields are read at their
// fixed payload offsets from the zero-filled payload, never beyond it.
std::string packetTraceText(const PacketView &p);
// Same for a packet the host is about to send.
std::string packetTraceText(const PacketBuffer &buf);

// One debug line: time of day "HH:mm:ss.zzz" (from milliseconds since midnight),
// module index, text.
std::string packetTraceLine(int msOfDay, int devNum, const std::string &text);

} // namespace tl::codec
