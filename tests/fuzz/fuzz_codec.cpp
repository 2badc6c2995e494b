// Every decoder of module bytes: the packet frame, image pieces (placed into a
// frame buffer and a group-sized one), mask parts, fragments, the records
// (version, option, EEPROM, calibration block, fixed ratio, register write,
// resend request), tracking records, the trace texts, missing runs, and the
// device layer's multi-packet image copier.
#include "device/CamDevCtrl.h"
#include "device/codec/Commands.h"
#include "device/codec/Image.h"
#include "device/codec/Packet.h"
#include "device/codec/Records.h"
#include "device/codec/Trace.h"

#include <QCoreApplication>
#include <QtGlobal>

#include <cstring>
#include <vector>

using namespace tl;
using namespace tl::codec;

namespace {
void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

// Keeps results alive so the decoders are not optimised away.
volatile size_t g_sink = 0;

void decodeRecords(const uint8_t *payload, int length)
{
    if (auto v = decodeVersion(payload, length))
        g_sink += versionText(v->major, v->minor).size();
    if (auto o = decodeOption(payload, length))
        g_sink += (*o)[0];
    if (auto e = decodeEeprom(payload, length))
        g_sink += eepromTraceLines(*e).size() + e->calibrated();
    if (auto c = decodeCalibParam(payload, length))
        g_sink += calibParamTraceLines(*c).size();
    if (auto f = decodeFixCoord(payload, length))
        g_sink += static_cast<size_t>(f->mode);
    if (auto r = decodeRegisterWrite(payload, length))
        g_sink += r->address;
    if (auto a = decodeAcSendImgPart(payload, length))
        g_sink += static_cast<size_t>(a->first);
    g_sink += static_cast<size_t>(trackingRecordCount(length) + 1);
    g_sink += decodeTracking(payload, length).size();
    if (length >= kSensorSettingSize)
        g_sink += sensorOptionLine(decodeSensorSetting(payload)).size();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static std::vector<uint8_t> frame(kFrameBufferBytes);
    static std::vector<uint8_t> group(kGroupBytes);
    static CamDevCtrl &device = *new CamDevCtrl(nullptr, nullptr);   // lives to the end

    // One packet as a read delivers it: the 512-byte buffer, zero beyond the read.
    PacketBuffer buf{};
    const int n = static_cast<int>(std::min<size_t>(size, kPacketSize));
    if (n > 0)
        std::memcpy(buf.data(), data, static_cast<size_t>(n));
    PacketView p;
    if (parsePacket(buf, n, p) == PacketError::None) {
        ImagePiece piece;
        if (parseImagePiece(p, piece) == PieceError::None) {
            g_sink += placePiece(piece, frame.data(), frame.size());
            g_sink += placePiece(piece, group.data(), group.size());
            g_sink += static_cast<size_t>(pieceOffset(piece.index) & 0xff);
        }
        MaskPart part;
        if (parseMaskPart(p, part)) {
            size_t sum = 0;
            for (int i = 0; i < part.dataLen; ++i)
                sum += part.data[i];
            g_sink += sum + static_cast<size_t>(maskPartOffset(part.index));
        }
        decodeRecords(p.payload, p.length);
        g_sink += packetTraceText(p).size();
        g_sink += static_cast<uint32_t>(payloadI32(p, n % 512)) + payloadU16(p, n % 509) + payloadU8(p, n % 505);
        g_sink += static_cast<size_t>(payloadF64(p, n % 500) != 0) + static_cast<size_t>(payloadF32(p, n % 503) != 0);
    }
    g_sink += packetTraceText(buf).size();
    FragmentView f;
    if (parseFragment(buf, f)) {
        size_t sum = 0;
        for (int i = 0; i < f.dataLen; ++i)
            sum += f.data[i];
        g_sink += sum;
    }

    // The raw bytes as a payload of any length (the decoders' own limits).
    if (size > 0)
        decodeRecords(data + 1, static_cast<int>(std::min<size_t>(size - 1, 4096)));

    // Received flags from the input's bits, a group from its first byte.
    if (size > 1) {
        std::vector<bool> received(kAcPieces, true);
        for (size_t i = 1; i < size && i - 1 < kAcPieces / 8; ++i)
            for (int b = 0; b < 8; ++b)
                received[(i - 1) * 8 + static_cast<size_t>(b)] = (data[i] >> b) & 1;
        const int g = static_cast<int8_t>(data[0]);
        g_sink += static_cast<size_t>(missingCount(missingRuns(received, g)));
    }

    // Several packets in one read through the device layer's copier.
    g_sink += static_cast<size_t>(device.PacketToImage16HID(data, frame.data(), frame.size(),
                                                            static_cast<int>(std::min<size_t>(size, 8 * 512))));
    return 0;
}
