#pragma once

#include <cstdint>

namespace tl {

// Receives the DAT_TC_DUAL_MODE payloads of the receive loops. Called on the
// module's receive thread, synchronously, for every tracking packet whose length
// is a whole number of 6-byte records (length 0 included: "nothing seen" still
// counts as the module's report of the cycle). The payload pointer is valid only
// during the call. The tracking path takes its own lock.
class TrackingSink
{
public:
    virtual ~TrackingSink() = default;
    virtual void trackingPacket(const uint8_t *payload, int length, int nDevNum) = 0;
    // Called by the receive loop of nDevNum after every read, also one that
    // timed out or failed: a module that has stopped reporting is noticed
    // although no packet arrives.
    virtual void checkSilence(int nDevNum) { (void)nDevNum; }
    // The receive loop of nDevNum has ended because its module is gone
    // (unplugged, or treated as gone after read failures); nothing reads the
    // module until the loops are started again.
    virtual void moduleGone(int nDevNum) { (void)nDevNum; }
};

} // namespace tl
