#include "device/codec/Packet.h"

#include "device/codec/ByteIO.h"

#include <cstring>

namespace tl::codec {

bool buildPacket(int32_t code, const void *payload, int len, PacketBuffer &out)
{
    out.fill(0);
    if (len < 0 || len > kMaxPayload || (len > 0 && !payload))
        return false;
    ByteWriter w(out.data(), out.size());
    w.i32(code).i32(len).bytes(static_cast<const uint8_t *>(payload), static_cast<size_t>(len));
    return w.ok();
}

PacketBuffer makePacket(int32_t code, const void *payload, int len)
{
    PacketBuffer b;
    buildPacket(code, payload, len, b);
    return b;
}

PacketBuffer makePacketI32(int32_t code, int32_t value)
{
    uint8_t p[4];
    ByteWriter(p, sizeof p).i32(value);
    return makePacket(code, p, 4);
}

const char *packetErrorText(PacketError e)
{
    switch (e) {
    case PacketError::None:
        return "ok";
    case PacketError::ShortRead:
        return "short read";
    case PacketError::BadLength:
        return "length field outside 0..504";
    }
    return "?";
}

PacketError parsePacket(const PacketBuffer &buf, int bytesRead, PacketView &out)
{
    out = PacketView{};
    if (bytesRead < kHeaderSize)
        return PacketError::ShortRead;
    ByteReader r(buf.data(), buf.size());
    const int32_t code = r.i32();
    const int32_t length = r.i32();
    out.code = code;
    out.bytesRead = bytesRead;
    out.rawLength = length;
    out.payload = buf.data() + kHeaderSize;
    if (length < 0 || length > kMaxPayload) {
        out.length = 0;
        return PacketError::BadLength;
    }
    out.length = length;
    return PacketError::None;
}

int fragmentCount(int len)
{
    if (len <= 0)
        return 0;
    return (len + kFragmentData - 1) / kFragmentData;
}

std::vector<PacketBuffer> buildFragments(int32_t code, const void *payload, int len)
{
    std::vector<PacketBuffer> pieces;
    if (len <= 0 || !payload)
        return pieces;
    const auto *src = static_cast<const uint8_t *>(payload);
    const int count = fragmentCount(len);
    // The index is one byte on the wire; 256 pieces are the most it can number.
    if (count > 256)
        return pieces;
    pieces.reserve(static_cast<size_t>(count));
    int offset = 0;
    for (int i = 0; i < count; ++i) {
        const int remaining = len - offset;
        const bool full = remaining > kFragmentData;
        const int n = full ? kFragmentData : remaining;
        PacketBuffer b;
        b.fill(0);
        ByteWriter w(b.data(), b.size());
        // A full piece says 512, the last one its data bytes + 8 (not + 9): the
        // firmware's reassembly counts the index byte into the header.
        w.i32(code).i32(full ? kPacketSize : n + kHeaderSize).u8(static_cast<uint8_t>(i));
        w.bytes(src + offset, static_cast<size_t>(n));
        pieces.push_back(b);
        offset += n;
    }
    return pieces;
}

bool parseFragment(const PacketBuffer &buf, FragmentView &out)
{
    out = FragmentView{};
    ByteReader r(buf.data(), buf.size());
    r.i32();
    const int32_t length = r.i32();
    if (length < kHeaderSize + 1 || length > kPacketSize)
        return false;
    out.index = r.u8();
    out.last = length != kPacketSize;
    out.dataLen = out.last ? length - kHeaderSize : kFragmentData;
    out.data = buf.data() + kHeaderSize + 1;
    return r.ok();
}

namespace {
ByteReader payloadReader(const PacketView &p, int offset)
{
    ByteReader r(p.payload, p.payload ? kMaxPayload : 0);
    if (offset < 0)
        r.seek(static_cast<size_t>(kMaxPayload) + 1);
    else
        r.seek(static_cast<size_t>(offset));
    return r;
}
} // namespace

int32_t payloadI32(const PacketView &p, int offset) { return payloadReader(p, offset).i32(); }
uint8_t payloadU8(const PacketView &p, int offset) { return payloadReader(p, offset).u8(); }
uint16_t payloadU16(const PacketView &p, int offset) { return payloadReader(p, offset).u16(); }
double payloadF64(const PacketView &p, int offset) { return payloadReader(p, offset).f64(); }
float payloadF32(const PacketView &p, int offset) { return payloadReader(p, offset).f32(); }

} // namespace tl::codec
