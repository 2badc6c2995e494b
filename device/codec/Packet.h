#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace tl::codec {

// Every packet travels as one whole 512-byte buffer in both directions:
// int32 command code, int32 payload length, payload (little-endian).
constexpr int kPacketSize = 512;
constexpr int kHeaderSize = 8;
constexpr int kMaxPayload = kPacketSize - kHeaderSize;  // 504
// A fragment spends one payload byte on its index.
constexpr int kFragmentData = kMaxPayload - 1;          // 503

using PacketBuffer = std::array<uint8_t, kPacketSize>;

// Builds one packet: code, length, payload, zeros to 512 bytes. False (and `out`
// all zero) when len is negative, above 504, or payload is null with len > 0.
bool buildPacket(int32_t code, const void *payload, int len, PacketBuffer &out);
PacketBuffer makePacket(int32_t code, const void *payload = nullptr, int len = 0);
// Convenience for the common one-int32 payload.
PacketBuffer makePacketI32(int32_t code, int32_t value);

// What a received packet may be refused for.
enum class PacketError {
    None,
    ShortRead,       // fewer than 8 bytes arrived: no header
    BadLength,       // length field below 0 or above 504
};
const char *packetErrorText(PacketError e);

// A parsed view of a received packet. The view points into the caller's
// 512-byte buffer, which must outlive it. `payload` always spans the full 504
// payload bytes of the buffer (zero beyond what arrived), so a reader that stays
// within `length` (<= 504) can never leave the buffer.
struct PacketView
{
    int32_t code = 0;
    int32_t length = 0;          // validated: 0..504 (0 when refused)
    int32_t rawLength = 0;       // the length field as it arrived, for traces only
    const uint8_t *payload = nullptr;
    int bytesRead = 0;           // what the transfer reported
};

// Parses a received packet. The receive buffer is always the full 512-byte
// buffer (zero-filled before the read); `bytesRead` is what the transfer
// reported. The length field is checked against the frame, never trusted.
PacketError parsePacket(const PacketBuffer &buf, int bytesRead, PacketView &out);

// The frame of a fragmented payload (longer than 504 bytes): full pieces of 503
// data bytes (length field 512) while more than 503 bytes remain, then one last
// piece of 1..503 bytes whose length field is its data bytes + 8. The index
// byte sits at packet offset 8, the data from offset 9.
int fragmentCount(int len);
std::vector<PacketBuffer> buildFragments(int32_t code, const void *payload, int len);

struct FragmentView
{
    int index = 0;               // 0..255
    const uint8_t *data = nullptr;
    int dataLen = 0;             // 1..503
    bool last = false;           // length field was not 512
};
// Reads one fragment back (the module side). False for a length field that
// cannot be a fragment (below 9 or above 512).
bool parseFragment(const PacketBuffer &buf, FragmentView &out);

// Little-endian int32 at a payload offset, 0 when it would leave the payload
// of the view (the view's validated length is not consulted: traces read fixed
// fields of the zero-filled payload, exactly as the module lays them out).
int32_t payloadI32(const PacketView &p, int offset);
uint8_t payloadU8(const PacketView &p, int offset);
uint16_t payloadU16(const PacketView &p, int offset);
double payloadF64(const PacketView &p, int offset);
float payloadF32(const PacketView &p, int offset);

} // namespace tl::codec
