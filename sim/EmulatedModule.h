#pragma once

#include "device/codec/Image.h"
#include "device/codec/Packet.h"
#include "device/codec/Records.h"
#include "device/codec/UsbIds.h"
#include "sim/AnswerFaults.h"
#include "sim/FaultPlan.h"
#include "sim/ImageSource.h"
#include "sim/ModuleStats.h"
#include "sim/ModuleVariant.h"
#include "sim/PenScript.h"
#include "sim/SimulatedUser.h"
#include "sim/SyntheticCamera.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace tl::sim {

using codec::kEpOut;      // host -> module packets (bulk)
using codec::kEpIn;       // answers, events, tracking
using codec::kEpFrames;   // alignment frames

// A packet as it arrived from the host.
struct ReceivedPacket
{
    int64_t timeMs = 0;          // tl::Clock::nowMs() at arrival
    int32_t code = 0;            // raw fields, whatever they hold
    int32_t length = 0;
    codec::PacketBuffer bytes{};  // the 512 bytes (zero beyond what was written)
};

// One emulated camera/touch module. It sees only packets: the bus hands it what
// the host writes to endpoint 0x03 and takes what the host reads from 0x83 and
// 0x84. All of it is thread-safe; the host's receive threads read while its GUI
// thread writes.
//
// Answers are queued per endpoint with a due time on tl::Clock, so slow answers,
// capture times and report cycles follow time compression. Tracking reports are
// made as the host reads: one DAT_TC_DUAL_MODE per report period while tracking
// is on in transfer mode 2.
class EmulatedModule
{
public:
    explicit EmulatedModule(ModuleVariant variant);
    ~EmulatedModule();
    EmulatedModule(const EmulatedModule &) = delete;
    EmulatedModule &operator=(const EmulatedModule &) = delete;

    const ModuleVariant &variant() const { return m_variant; }
    const std::string &serial() const { return m_variant.serial; }

    // ---- what the test supplies ----
    // Default: a TestPatternSource.
    void setImageSource(std::shared_ptr<ImageSource> source);
    void setPenScript(PenScript script);
    // Where manual calibration's targets are touched (camera points). While the
    // module watches a display (setCamera) with the target mark on it, the pen
    // stays down until the window answers the touch, as the person's does;
    // otherwise for the variant's hold time.
    void setManualTouch(ManualTouch touch);
    // The module's camera and the display it watches. With a camera, captures
    // and alignment frames are photographs of the display, a person at the
    // board answers manual calibration (unless a ManualTouch is set), and
    // window pens are seen. Null: back to the image source.
    void setCamera(std::shared_ptr<SyntheticCamera> camera, DisplaySource display);
    std::shared_ptr<SyntheticCamera> camera() const;
    // Pens on the board, in window positions of the watched display. The module
    // sees them through its camera and reports them through the calibration it
    // holds (nothing while it holds none), beside what the PenScript gives.
    void setWindowPen(WindowPen pen);
    // The pen type the board is used with (the variant's penType until set):
    // window pens and the person's touches are seen where its light is.
    void setPenType(int penType);
    int penType() const;
    // The person who touches the targets of manual calibration.
    void setUser(UserSetup user);
    // Replaces the fault plan (rule counters and the loss generator start afresh).
    void setFaults(FaultPlan plan);
    FaultPlan faults() const;
    // Queues raw bytes (any length up to 512) on an IN endpoint, as if the module
    // had sent them: malformed and random packets for robustness tests.
    void injectPacket(uint8_t endpoint, const std::vector<uint8_t> &bytes, int delayMs = 0);

    // ---- plugging ----
    bool plugged() const;
    // Pulls the module off its bus (no effect when it is not plugged).
    void unplug();

    // ---- what a test can observe ----
    std::vector<ReceivedPacket> received() const;
    std::vector<ReceivedPacket> received(int32_t code) const;
    int receivedCount(int32_t code) const;
    // Waits (at most timeoutMs of driver time) until `count` packets of `code` have
    // arrived in all. True when they have.
    bool waitForReceived(int32_t code, int count, int timeoutMs) const;
    void clearReceived();
    ModuleStats stats() const;
    // Packets queued on an endpoint and not yet read.
    int pending(uint8_t endpoint) const;

    codec::EepromRecord eeprom() const;
    std::vector<uint8_t> mask() const;
    std::map<uint16_t, uint8_t> registers() const;
    std::vector<codec::RegisterWrite> registerLog() const;
    std::optional<codec::CalibParamBlock> lastCalibration() const;
    std::optional<codec::FixCoordRatio> fixCoord() const;
    // The image the module serves for a kind (captured on the matching *_START, or
    // on the first request of that kind), as it goes on the wire.
    std::vector<uint8_t> servedImage(int kind) const;
    bool tracking() const;
    int transferMode() const;
    int fingerTouchMode() const;
    // The host's image-reverse flag, as last set.
    bool imageReverse() const;
    // Whether what the module serves now (images, frames, mask, manual points
    // and pen positions) is turned by 180 degrees against the camera's upright
    // view: the reverse flag undoes or makes the turn of the mounting.
    bool servesTurned() const;
    bool manualMode() const;
    int openHandles() const;
    bool interfaceClaimed(int iface) const;

private:
    friend class EmulatedBus;
    friend class EmulatedHandle;

    struct Outgoing
    {
        int64_t dueMs = 0;
        std::vector<uint8_t> bytes;
        bool unplugOnRead = false;
    };

    using DetachHook = std::function<void(EmulatedModule *)>;

    // Called by the bus.
    void attach(DetachHook onDetach);
    void detachFromBus();          // the bus goes away: no hook, module unplugged
    uint64_t generation() const;
    bool alive(uint64_t generation) const;
    int openError() const;
    int openHandle(uint64_t generation, uint64_t *handleId);
    bool gone(uint64_t generation) const;
    int touchConfig(uint64_t generation) const;
    void closeHandle(uint64_t handleId);
    int claim(uint64_t generation, uint64_t handleId, int iface);
    int release(uint64_t generation, uint64_t handleId, int iface);
    int stringDescriptor(uint64_t generation, uint8_t index, std::string &out, int maxLen) const;
    int write(uint64_t generation, uint8_t endpoint, const uint8_t *data, int len, int *transferred,
              int timeoutMs);
    int read(uint64_t generation, uint8_t endpoint, uint8_t *data, int len, int *transferred, int timeoutMs);
    int clearHalt(uint64_t generation, uint8_t endpoint);

    // Everything below runs with m_mutex held.
    bool detachLocked();            // true when it was plugged
    void powerOnLocked();
    std::deque<Outgoing> &queue(uint8_t endpoint);
    void handlePacket(const codec::PacketBuffer &buf, int bytes, bool *unplugBefore, bool *unplugAfter);
    void carryOut(const codec::PacketView &p);
    // The packets ExtraPacketRules add to a command from the host.
    void sendExtrasLocked(int32_t code);
    // An answer, due after the turnaround (plus `delayMs`); faults apply here.
    void send(uint8_t endpoint, const codec::PacketBuffer &pkt, int delayMs, int kind = -1, int index = -1);
    void enqueue(uint8_t endpoint, const codec::PacketBuffer &pkt, int64_t dueMs, int kind = -1, int index = -1);
    void sendNak(int32_t code);
    void sendAck(int32_t code);
    void serveGroup(int kind, int group);
    void servePart(const codec::AcSendImgPart &req);
    void serveFrame();
    void queueFrame(std::vector<uint8_t> frame, int64_t dueMs);
    void receiveMaskFragment(const codec::PacketBuffer &buf);
    void captureLocked(int kind);
    // A capture the host started: the picture is taken and `endCode` answers
    // after the capture time.
    void startCapture(int kind, int32_t endCode);
    // The camera's work runs on the module's own thread, in the order it was
    // asked for: `render` without the lock, then `complete` with it (skipped
    // when the module was unplugged meanwhile). The host's write returns at once.
    // `endpoint` is where its answers go.
    void postCameraWork(uint8_t endpoint, std::function<void()> render, std::function<void()> complete);
    int &cameraPendingLocked(uint8_t endpoint) { return endpoint == kEpFrames ? m_cameraPendingFrames : m_cameraPendingIn; }
    void cameraLoop();
    const std::vector<uint8_t> &imageFor(int kind);
    void maybeReportLocked(int64_t nowMs);
    void maybeUserLocked(int64_t nowMs);
    // A target is asked: the person looks for its mark and touches it, where
    // `given` says (camera point) or where it sees the mark.
    void beginSeekingLocked(int index, std::optional<CameraPoint> given);
    bool userActiveLocked() const;
    // What the person sees of the board: the target mark in window pixels of
    // the watched display, or nothing; `seen` (may be null) gets the picture.
    std::optional<cv::Point2d> lookAtBoardLocked(QImage *seen);
    // Whether the sensor's picture reaches the host turned (see servesTurned).
    bool turnedLocked() const;
    // A camera point as it goes to the host: turned by 180 degrees while the
    // pictures are, like the images.
    cv::Point2d orientedLocked(cv::Point2d camera) const;
    bool maskedLocked(cv::Point2d camera) const;
    // Where the module reports a pen at a window point, or nothing.
    std::optional<TrackPoint> seePenLocked(cv::Point2d window) const;
    int sensorGainLocked() const;
    bool reportingLocked() const;
    int answerDelayLocked() const;

    ModuleVariant m_variant;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;

    // Bus attachment.
    bool m_plugged = false;
    uint64_t m_generation = 0;
    DetachHook m_onDetach;
    uint64_t m_nextHandleId = 1;
    int m_openHandles = 0;
    std::array<uint64_t, 4> m_claimOwner{{0, 0, 0, 0}};

    // Non-volatile memory.
    codec::EepromRecord m_eeprom;
    std::vector<uint8_t> m_mask;

    // Volatile state (reset at every plug-in).
    bool m_tracking = false;
    int m_transferMode = 0;
    int m_fingerMode = 0;
    bool m_imageReverse = false;
    bool m_manualMode = false;
    uint8_t m_exposure = 0;
    int32_t m_acArgument = 0;
    std::map<int, std::vector<uint8_t>> m_captures;
    uint64_t m_frameNumber = 0;
    uint64_t m_reportCycle = 0;
    int64_t m_nextReportMs = 0;
    std::vector<uint8_t> m_maskUpload;
    std::vector<bool> m_maskPartsIn;
    std::array<CameraPoint, 25> m_mcPoints{};
    std::map<uint16_t, uint8_t> m_registers;
    std::vector<codec::RegisterWrite> m_registerLog;
    std::optional<codec::CalibParamBlock> m_lastCalib;
    std::optional<codec::FixCoordRatio> m_fixCoord;
    std::deque<Outgoing> m_in;       // endpoint 0x83
    std::deque<Outgoing> m_frames;   // endpoint 0x84
    int m_extraDelayMs = 0;          // Delay rule of the command being carried out
    int m_inHaltsLeft = 0;           // halts of 0x83 still to come (FaultPlan::inHalts)
    bool m_inHalted = false;         // 0x83 is halted until the host clears it

    // Sources.
    std::shared_ptr<ImageSource> m_imageSource;
    PenScript m_penScript;
    ManualTouch m_manualTouch;
    std::shared_ptr<SyntheticCamera> m_camera;
    DisplaySource m_display;
    WindowPen m_windowPen;

    // The person at the board during manual calibration: what it was told
    // (the setup) and where it is in touching a target.
    enum class UserState { Idle, Seeking, Holding };
    UserSetup m_user;
    struct PersonState
    {
        std::mt19937_64 rng;
        UserState state = UserState::Idle;
        int index = 0;
        int64_t nextLookMs = 0;
        int64_t sinceMs = 0;
        int64_t downMs = 0;
        int64_t minHoldMs = 0;         // holding: the pen stays down at least this long
        std::optional<CameraPoint> givenPoint;   // the camera point of a supplied touch
        std::optional<cv::Point2d> answeredAt;   // where the window last answered a touch
        int64_t missingSinceMs = -1;   // holding: since when the mark has not been seen
        bool ringSeen = false;         // holding: the window has drawn its ring round the mark
        std::optional<cv::Point2d> stillAt;   // seeking: where the mark has stood in the pictures since
        int64_t stillSinceMs = 0;
        int stillPictures = 0;                // fresh pictures that have shown it there
        qint64 seenKey = 0;                  // picture of the last look and the mark in it
        bool freshPicture = false;           // the last look brought a picture not seen before
        int64_t pictureSinceMs = 0;          // since when the picture has been the same
        std::optional<cv::Point2d> seenMark;
        cv::Point2d markAt;
    };
    PersonState m_person;

    // The camera's own thread and the work it has yet to do.
    struct CameraJob
    {
        uint64_t generation = 0;
        uint8_t endpoint = 0;
        int extraDelayMs = 0;
        std::function<void()> render;
        std::function<void()> complete;
    };
    std::thread m_cameraThread;
    std::condition_variable m_cameraCv;
    std::deque<CameraJob> m_cameraJobs;
    int m_cameraPendingIn = 0;       // jobs whose answers go to 0x83
    int m_cameraPendingFrames = 0;   // to 0x84
    bool m_cameraStop = false;

    // Faults: the plan between the firmware and the host.
    AnswerFaults m_faults;

    // Observation.
    std::deque<ReceivedPacket> m_received;
    std::map<int32_t, int> m_receivedCounts;
    ModuleStats m_stats;
};

} // namespace tl::sim
