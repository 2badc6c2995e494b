#pragma once

#include <cstdint>

namespace tl::sim {

// What the module has done so far (since it was built).
// Counts over a module's whole life, 64 bits wide: an emulator kept for a long
// fuzzing run serves more than 2^31 packets.
struct ModuleStats
{
    int64_t packetsReceived = 0;     // from the host
    int64_t packetsSent = 0;         // read by the host
    int64_t naks = 0;                // RES_NAK answers
    int64_t ignored = 0;             // commands not carried out (silent, Ignore rule)
    int64_t malformedCommands = 0;   // packets from the host the module could not use
    int64_t piecesLost = 0;          // by the random loss
    int64_t packetsDropped = 0;      // by Drop rules
    int64_t packetsDuplicated = 0;
    int64_t commandsRepeated = 0;    // by Repeat rules
    int64_t extraPackets = 0;        // sent by ExtraPacketRules
    int64_t packetsCorrupted = 0;
    int64_t packetsMalformed = 0;    // Truncate, SetLength, SetIndex, Mutate
    int64_t groupsServed = 0;        // CMD_AC_SENDIMG answered with pieces
    int64_t partialResends = 0;      // CMD_AC_SENDIMG_PART answered
    int64_t piecesResent = 0;
    int64_t framesServed = 0;
    int64_t reportsSent = 0;         // DAT_TC_DUAL_MODE generated
    int64_t maskUploads = 0;         // complete CMD_SET_MASK uploads stored
    int64_t calibrationUploads = 0;
    int64_t queueOverflows = 0;      // answers dropped because the host did not read
    int64_t stalledReads = 0;        // reads answered with a stall (a halted IN endpoint)
    int64_t haltsCleared = 0;        // halts the host cleared
};

} // namespace tl::sim
