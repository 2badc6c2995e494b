#pragma once

#include <QString>
#include <QTime>

#include "device/codec/Packet.h"

namespace tl::codec {

// The text of one packet in the firmware's trace notation, e.g.
// "[0x1004]DAT_VERSION : Len[2], Vers[40.05]". Some codes (image pieces and
// a few others) have no text: the result is empty. Fields are read at their
// fixed payload offsets from the zero-filled payload, never beyond it.
QString packetTraceText(const PacketView &p);
// Same for a packet the host is about to send.
QString packetTraceText(const PacketBuffer &buf);

// One debug line: time "HH:mm:ss.zzz", module index, text.
QString packetTraceLine(const QTime &time, int devNum, const QString &text);

} // namespace tl::codec
