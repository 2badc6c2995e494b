#include "sim/EmulatedModule.h"

// The module as a USB device on its bus: plugging, handles, claims and the two
// transfer directions with their waits.

#include "device/UsbAccess.h"
#include "platform/Clock.h"
#include "sim/DriverWait.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

namespace tl::sim {

using namespace tl::codec;

// ---- plugging ------------------------------------------------------------------

bool EmulatedModule::plugged() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_plugged;
}

void EmulatedModule::unplug()
{
    std::unique_lock<std::mutex> lk(m_mutex);
    const bool was = detachLocked();
    DetachHook hook = m_onDetach;
    lk.unlock();
    if (was && hook)
        hook(this);
}

void EmulatedModule::attach(DetachHook onDetach)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_plugged = true;
    ++m_generation;
    m_onDetach = std::move(onDetach);
    powerOnLocked();
}

void EmulatedModule::detachFromBus()
{
    std::lock_guard<std::mutex> lk(m_mutex);
    detachLocked();
    m_onDetach = nullptr;
}

bool EmulatedModule::detachLocked()
{
    const bool was = m_plugged;
    m_plugged = false;
    m_in.clear();
    m_frames.clear();
    m_claimOwner.fill(0);
    m_cv.notify_all();
    return was;
}

void EmulatedModule::powerOnLocked()
{
    // On power-up the module tracks on its own (transfer mode 0) until a host
    // takes it over; everything else volatile starts empty.
    m_tracking = true;
    m_transferMode = 0;
    m_fingerMode = 0;
    m_imageReverse = false;
    m_manualMode = false;
    m_exposure = 0;
    m_acArgument = 0;
    m_captures.clear();
    m_frameNumber = 0;
    m_reportCycle = 0;
    m_nextReportMs = 0;
    m_maskUpload.clear();
    m_maskPartsIn.clear();
    m_mcPoints = {};
    m_person.state = UserState::Idle;
    m_registers.clear();
    m_in.clear();
    m_frames.clear();
    m_claimOwner.fill(0);
}

uint64_t EmulatedModule::generation() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_generation;
}

bool EmulatedModule::alive(uint64_t generation) const
{
    return m_plugged && generation == m_generation;
}

int EmulatedModule::openError() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_faults.openError();
}

int EmulatedModule::openHandle(uint64_t generation, uint64_t *handleId)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    if (!alive(generation))
        return UsbError::NoDevice;
    if (m_faults.openError() != 0)
        return m_faults.openError();
    *handleId = m_nextHandleId++;
    ++m_openHandles;
    return 0;
}

bool EmulatedModule::gone(uint64_t generation) const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return !alive(generation);
}

int EmulatedModule::touchConfig(uint64_t generation) const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return alive(generation) ? 0 : UsbError::NoDevice;
}

void EmulatedModule::closeHandle(uint64_t handleId)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    for (uint64_t &owner : m_claimOwner)
        if (owner == handleId)
            owner = 0;
    --m_openHandles;
}

int EmulatedModule::claim(uint64_t generation, uint64_t handleId, int iface)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    if (!alive(generation))
        return UsbError::NoDevice;
    if (iface < 0 || iface >= static_cast<int>(m_claimOwner.size()))
        return UsbError::NotFound;
    if (const int error = m_faults.claimError(iface); error != 0)
        return error;
    uint64_t &owner = m_claimOwner[static_cast<size_t>(iface)];
    if (owner != 0 && owner != handleId)
        return UsbError::Busy;
    owner = handleId;
    return 0;
}

int EmulatedModule::release(uint64_t generation, uint64_t handleId, int iface)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    if (!alive(generation))
        return UsbError::NoDevice;
    if (iface < 0 || iface >= static_cast<int>(m_claimOwner.size()) ||
        m_claimOwner[static_cast<size_t>(iface)] != handleId)
        return UsbError::NotFound;
    m_claimOwner[static_cast<size_t>(iface)] = 0;
    return 0;
}

int EmulatedModule::stringDescriptor(uint64_t generation, uint8_t index, std::string &out, int maxLen) const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    out.clear();
    if (!alive(generation))
        return UsbError::NoDevice;
    if (index == 0 || maxLen <= 0)
        return UsbError::InvalidParam;
    // A string index the device does not have is answered with a stall.
    if (index != m_variant.serialIndex)
        return UsbError::Pipe;
    out = m_variant.serial.substr(0, static_cast<size_t>(maxLen - 1));
    return static_cast<int>(out.size());
}

// ---- transfers -----------------------------------------------------------------

int EmulatedModule::write(uint64_t generation, uint8_t endpoint, const uint8_t *data, int len, int *transferred,
                          int timeoutMs)
{
    if (transferred)
        *transferred = 0;
    std::unique_lock<std::mutex> lk(m_mutex);
    if (!alive(generation))
        return UsbError::NoDevice;
    if (endpoint != kEpOut)
        return UsbError::Io;
    if (len < 0 || (len > 0 && !data))
        return UsbError::InvalidParam;
    int writeError = 0;
    const AnswerFaults::WriteFault writeFault = m_faults.nextWrite(&writeError);
    if (writeFault == AnswerFaults::WriteFault::Stall) {
        // The module NAKs the OUT tokens: the transfer runs into its time-out
        // unless the device goes away first.
        Clock::waitUntil(m_cv, lk, dueIn(timeoutMs > 0 ? timeoutMs : 1000), [&] { return !alive(generation); });
        return alive(generation) ? UsbError::Timeout : UsbError::NoDevice;
    }
    if (writeFault == AnswerFaults::WriteFault::Fail)
        return writeError;
    if (!m_variant.speaksProtocol) {
        if (transferred)
            *transferred = len;
        return 0;
    }

    bool unplugAfter = false;
    for (int off = 0; off < len; off += kPacketSize) {
        PacketBuffer buf{};
        const int n = std::min(kPacketSize, len - off);
        std::memcpy(buf.data(), data + off, static_cast<size_t>(n));
        bool unplugBefore = false;
        handlePacket(buf, n, &unplugBefore, &unplugAfter);
        if (unplugBefore) {
            const bool was = detachLocked();
            DetachHook hook = m_onDetach;
            lk.unlock();
            if (was && hook)
                hook(this);
            return UsbError::NoDevice;
        }
    }
    if (transferred)
        *transferred = len;
    if (unplugAfter) {
        const bool was = detachLocked();
        DetachHook hook = m_onDetach;
        lk.unlock();
        if (was && hook)
            hook(this);
    }
    return 0;
}

int EmulatedModule::read(uint64_t generation, uint8_t endpoint, uint8_t *data, int len, int *transferred,
                         int timeoutMs)
{
    constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
    if (transferred)
        *transferred = 0;
    std::unique_lock<std::mutex> lk(m_mutex);
    if (!alive(generation))
        return UsbError::NoDevice;
    if (endpoint != kEpIn && endpoint != kEpFrames)
        return UsbError::Io;
    if (len < 0 || (len > 0 && !data))
        return UsbError::InvalidParam;

    // libusb: a time-out of 0 waits without limit. A negative one (not libusb's)
    // only looks whether a packet is due, for callers that poll.
    const bool unlimited = timeoutMs == 0;
    const bool poll = timeoutMs < 0;
    int64_t deadline = unlimited || poll ? kNever : dueIn(timeoutMs);
    std::deque<Outgoing> &q = queue(endpoint);
    if (endpoint == kEpIn) {
        if (!m_inHalted && m_inHaltsLeft > 0) {
            m_inHalted = true;
            --m_inHaltsLeft;
        }
        if (m_inHalted) {
            // A halted endpoint answers the IN token with a stall at once.
            ++m_stats.stalledReads;
            return UsbError::Pipe;
        }
    }
    for (;;) {
        if (!alive(generation))
            return UsbError::NoDevice;
        const int64_t now = Clock::nowMs();
        if (!m_faults.silent()) {
            if (endpoint == kEpIn) {
                maybeUserLocked(now);
                maybeReportLocked(now);
            }
            if (!q.empty() && q.front().dueMs <= now) {
                Outgoing o = std::move(q.front());
                q.pop_front();
                if (o.unplugOnRead) {
                    detachLocked();
                    DetachHook hook = m_onDetach;
                    lk.unlock();
                    if (hook)
                        hook(this);
                    return UsbError::NoDevice;
                }
                const int n = std::min(len, static_cast<int>(o.bytes.size()));
                if (n > 0)
                    std::memcpy(data, o.bytes.data(), static_cast<size_t>(n));
                if (transferred)
                    *transferred = n;
                ++m_stats.packetsSent;
                // The device sent more than the buffer holds: libusb reports an overflow.
                const int rc = static_cast<int>(o.bytes.size()) > len ? UsbError::Overflow : 0;
                if (m_faults.onSent()) {
                    detachLocked();
                    DetachHook hook = m_onDetach;
                    lk.unlock();
                    if (hook)
                        hook(this);
                }
                return rc;
            }
        }
        if (poll)
            return UsbError::Timeout;
        if (!unlimited && now >= deadline) {
            // The emulator's camera work stands for what a module's hardware does
            // at once: the time it takes the emulator does not count against the
            // host's time-out, just as it did not while the host's write waited.
            if (cameraPendingLocked(endpoint) == 0)
                return UsbError::Timeout;
            m_cv.wait(lk, [&] { return !alive(generation) || cameraPendingLocked(endpoint) == 0; });
            deadline = dueIn(timeoutMs);
            continue;
        }

        int64_t wake = deadline;
        if (!m_faults.silent()) {
            int64_t next = kNever;
            if (!q.empty())
                next = q.front().dueMs;
            if (endpoint == kEpIn && reportingLocked())
                next = std::min(next, m_nextReportMs);
            if (endpoint == kEpIn && userActiveLocked())
                next = std::min(next, m_person.nextLookMs);
            wake = std::min(wake, std::max(next, now + 1));
        }
        if (wake == kNever)
            m_cv.wait(lk);
        else
            Clock::waitUntil(m_cv, lk, wake);
    }
}

int EmulatedModule::clearHalt(uint64_t generation, uint8_t endpoint)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    if (!alive(generation))
        return UsbError::NoDevice;
    if (endpoint != kEpIn && endpoint != kEpFrames && endpoint != kEpOut)
        return UsbError::InvalidParam;
    // CLEAR_FEATURE(ENDPOINT_HALT) is answered whether the endpoint was halted or not.
    if (endpoint == kEpIn && m_inHalted) {
        m_inHalted = false;
        ++m_stats.haltsCleared;
    }
    return 0;
}

std::deque<EmulatedModule::Outgoing> &EmulatedModule::queue(uint8_t endpoint)
{
    return endpoint == kEpFrames ? m_frames : m_in;
}
} // namespace tl::sim
