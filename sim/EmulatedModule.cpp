#include "sim/EmulatedModule.h"

// The module as a test sets it up and observes it: what it is given to show
// and the faults it is told to have, and what it has seen and done.

#include "platform/Clock.h"
#include "sim/DriverWait.h"
#include "sim/ModuleMemory.h"

#include <algorithm>
#include <cstring>

namespace tl::sim {

using namespace tl::codec;

EmulatedModule::EmulatedModule(ModuleVariant variant) : m_variant(std::move(variant))
{
    m_eeprom = m_variant.eeprom ? *m_variant.eeprom : blankEeprom(m_variant.blankFill);
    m_mask = m_variant.mask;
    m_mask.resize(kMaskSize, 0);
    m_imageSource = std::make_shared<TestPatternSource>();
    m_person.rng.seed(m_user.seed);
}

EmulatedModule::~EmulatedModule()
{
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_cameraStop = true;
    }
    m_cameraCv.notify_all();
    if (m_cameraThread.joinable())
        m_cameraThread.join();
}

// ---- configuration -------------------------------------------------------------

void EmulatedModule::setImageSource(std::shared_ptr<ImageSource> source)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_imageSource = source ? std::move(source) : std::make_shared<TestPatternSource>();
}

void EmulatedModule::setPenScript(PenScript script)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_penScript = std::move(script);
}

void EmulatedModule::setManualTouch(ManualTouch touch)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_manualTouch = std::move(touch);
}

void EmulatedModule::setCamera(std::shared_ptr<SyntheticCamera> camera, DisplaySource display)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_camera = std::move(camera);
    m_display = std::move(display);
}

std::shared_ptr<SyntheticCamera> EmulatedModule::camera() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_camera;
}

void EmulatedModule::setWindowPen(WindowPen pen)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_windowPen = std::move(pen);
}

void EmulatedModule::setPenType(int penType)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_variant.penType = penType;
}

int EmulatedModule::penType() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_variant.penType;
}

void EmulatedModule::setUser(UserSetup user)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_user = user;
    m_person.rng.seed(user.seed);
}

void EmulatedModule::setFaults(FaultPlan plan)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_inHaltsLeft = plan.inHalts;
    m_inHalted = false;
    m_faults.setPlan(std::move(plan));
    // A module that stops being silent answers what is queued at once.
    m_cv.notify_all();
}

FaultPlan EmulatedModule::faults() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_faults.plan();
}

void EmulatedModule::injectPacket(uint8_t endpoint, const std::vector<uint8_t> &bytes, int delayMs)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    if (!m_plugged)
        return;
    Outgoing o;
    o.bytes.assign(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), kPacketSize));
    auto &q = queue(endpoint);
    o.dueMs = Clock::nowMs() + std::max(0, delayMs);
    if (!q.empty())
        o.dueMs = std::max(o.dueMs, q.back().dueMs);
    q.push_back(std::move(o));
    m_cv.notify_all();
}
// ---- observation ------------------------------------------------------------------

std::vector<ReceivedPacket> EmulatedModule::received() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return {m_received.begin(), m_received.end()};
}

std::vector<ReceivedPacket> EmulatedModule::received(int32_t code) const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    std::vector<ReceivedPacket> out;
    for (const ReceivedPacket &p : m_received)
        if (p.code == code)
            out.push_back(p);
    return out;
}

int EmulatedModule::receivedCount(int32_t code) const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    const auto it = m_receivedCounts.find(code);
    return it == m_receivedCounts.end() ? 0 : it->second;
}

bool EmulatedModule::waitForReceived(int32_t code, int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lk(m_mutex);
    return Clock::waitUntil(m_cv, lk, dueIn(timeoutMs), [&] {
        const auto it = m_receivedCounts.find(code);
        return it != m_receivedCounts.end() && it->second >= count;
    });
}

void EmulatedModule::clearReceived()
{
    std::lock_guard<std::mutex> lk(m_mutex);
    m_received.clear();
    m_receivedCounts.clear();
}

ModuleStats EmulatedModule::stats() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_stats;
}

int EmulatedModule::pending(uint8_t endpoint) const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return static_cast<int>(endpoint == kEpFrames ? m_frames.size() : m_in.size());
}

codec::EepromRecord EmulatedModule::eeprom() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_eeprom;
}

std::vector<uint8_t> EmulatedModule::mask() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_mask;
}

std::map<uint16_t, uint8_t> EmulatedModule::registers() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_registers;
}

std::vector<codec::RegisterWrite> EmulatedModule::registerLog() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_registerLog;
}

std::optional<codec::CalibParamBlock> EmulatedModule::lastCalibration() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_lastCalib;
}

std::optional<codec::FixCoordRatio> EmulatedModule::fixCoord() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_fixCoord;
}

std::vector<uint8_t> EmulatedModule::servedImage(int kind) const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    const auto it = m_captures.find(kind);
    return it == m_captures.end() ? std::vector<uint8_t>{} : it->second;
}

bool EmulatedModule::tracking() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_tracking;
}

int EmulatedModule::transferMode() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_transferMode;
}

int EmulatedModule::fingerTouchMode() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_fingerMode;
}

bool EmulatedModule::imageReverse() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_imageReverse;
}

bool EmulatedModule::servesTurned() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return turnedLocked();
}

bool EmulatedModule::manualMode() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_manualMode;
}

int EmulatedModule::openHandles() const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return m_openHandles;
}

bool EmulatedModule::interfaceClaimed(int iface) const
{
    std::lock_guard<std::mutex> lk(m_mutex);
    return iface >= 0 && iface < static_cast<int>(m_claimOwner.size()) &&
           m_claimOwner[static_cast<size_t>(iface)] != 0;
}

} // namespace tl::sim
