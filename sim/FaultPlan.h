#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace tl::sim {

// What to do to a packet the module is about to send.
enum class PacketFault {
    Drop,       // never sent
    Duplicate,  // sent twice in a row
    Corrupt,    // data bytes inverted (image data, mask bytes, record bytes); header intact
    Truncate,   // the transfer ends after `value` bytes (a short packet)
    SetLength,  // the length field becomes `value` (e.g. 600, -1, or 7 for a tracking packet)
    SetIndex,   // the piece index (image pieces) or part index (DAT_MASK) becomes `value`
    Delay,      // sent `value` ms later than due (the packets behind it wait too)
    Mutate,     // `mutate` gets the raw bytes and may change them and their count
    Unplug,     // the module is unplugged when the host would read this packet
};

// A rule on the module's outgoing packets. A packet matches when every set
// criterion holds. The first `skip` matches pass untouched; the next `times`
// matches get the fault (-1: every further match).
struct PacketRule
{
    int32_t code = 0;       // packet code; 0 = any
    int imageKind = -1;     // auto-calibration pieces only: the image kind (101, 102, 103)
    int index = -1;         // piece index of an image piece, part index of DAT_MASK; -1 = any
    int skip = 0;
    int times = 1;
    PacketFault fault = PacketFault::Drop;
    int value = 0;
    std::function<void(std::vector<uint8_t> &)> mutate;
};

// What to do with a command the host sent.
enum class CommandFault {
    Nak,           // answered with RES_NAK carrying the code; not carried out
    Ignore,        // not carried out, no answer
    Delay,         // carried out, its answers come `value` ms later
    UnplugBefore,  // the module goes away as the command arrives: the write fails
    UnplugAfter,   // carried out, then the module goes away before anything is read
    Repeat,        // carried out twice: every answer comes twice (an image group served twice)
};

struct CommandRule
{
    int32_t code = 0;       // command code; 0 = any
    int skip = 0;
    int times = -1;         // -1: every further match
    CommandFault fault = CommandFault::Nak;
    int value = 0;
};

// A packet the module sends of its own accord when a command arrives, after
// whatever the command itself brings (also when a CommandRule made it ignore
// the command): an end of a capture nobody asked for, the acknowledgement of
// an upload that never came.
struct ExtraPacketRule
{
    int32_t onCommand = 0;  // the command that sets it off; 0 = any
    int skip = 0;
    int times = 1;          // -1: every further match
    int32_t code = 0;       // the packet sent
    std::vector<uint8_t> payload;
    int delayMs = 0;        // after the module's turnaround
};

// Every fault a module can be told to show. Set with EmulatedModule::setFaults;
// rule counters start afresh each time a plan is set.
struct FaultPlan
{
    std::vector<PacketRule> packets;
    std::vector<CommandRule> commands;
    std::vector<ExtraPacketRule> extras;

    // Random loss of image pieces (DAT_IMG, DAT_AC_IMAGE, DAT_AC_IMAGE_PART):
    // each piece is lost with this probability, drawn from a generator seeded
    // with `seed`, so a run can be repeated exactly.
    double pieceLoss = 0.0;
    uint64_t seed = 1;

    bool silent = false;          // reads on every endpoint time out; commands are not carried out
    int answerDelayMs = 0;        // added to the due time of every answer (a slow module)
    // The tracking report cycle while the plan holds (0: the variant's): 1 floods
    // the host with a thousand reports a second, 2000 reports every two seconds.
    int reportPeriodMs = 0;

    // Unplug once the host has read this many packets (counted from when the
    // plan was set), or once this many packets have arrived from the host.
    int unplugAfterSent = -1;
    int unplugAfterReceived = -1;

    // USB-level failures.
    int openError = 0;                      // libusb error returned by open (0 = opens)
    std::array<int, 4> claimError{{0, 0, 0, 0}};  // per interface: error returned by claim
    int failWrites = 0;                     // the next N bulk writes fail with `writeError`
    int writeError = -1;                    // UsbError::Io
    int stallWrites = 0;                    // the next N bulk writes time out (the module NAKs)
    // The IN endpoint 0x83 halts this many times. A halted endpoint answers every
    // read with a stall (UsbError::Pipe) until the host clears the halt; after a
    // clear it halts again at the next read while halts are left. Counted from
    // when the plan is set.
    int inHalts = 0;
};

} // namespace tl::sim
