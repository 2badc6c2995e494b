#include "sim/EmulatedModule.h"

#include "device/codec/Commands.h"
#include "device/codec/Image.h"
#include "platform/Clock.h"

#include <algorithm>
#include <cstring>

// The module's camera: the pictures it takes for the host (captures, image
// groups and pieces, alignment frames), its own thread that develops them, and
// how the sensor's registers, the mounting and the mask shape what it sees.

namespace tl::sim {

using namespace tl::codec;

namespace {

// Sensor registers of the analog gain (10 bits, high byte first).
constexpr uint16_t kGainHigh = 0x350A;
constexpr uint16_t kGainLow = 0x350B;

std::vector<uint8_t> toBytes(const cv::Mat &img, size_t size)
{
    std::vector<uint8_t> out(size, 0);
    if (img.isContinuous() && img.type() == CV_8UC1)
        std::memcpy(out.data(), img.data, std::min(size, img.total()));
    return out;
}

} // namespace

void EmulatedModule::captureLocked(int kind)
{
    CaptureContext ctx;
    ctx.kind = kind;
    ctx.exposure = m_exposure;
    ctx.argument = m_acArgument;
    ctx.frameNumber = m_frameNumber;
    ctx.registers = m_registers;
    std::vector<uint8_t> img;
    if (m_camera)
        img = toBytes(m_camera->capture(m_display ? m_display() : QImage()), kAcImageBytes);
    else
        img = m_imageSource->capture(ctx);
    img.resize(kAcImageBytes, 0);
    // A turned image is turned by 180 degrees: for a row-major image that is
    // the byte order reversed.
    if (turnedLocked())
        std::reverse(img.begin(), img.end());
    m_captures[kind] = std::move(img);
}

void EmulatedModule::startCapture(int kind, int32_t endCode)
{
    // Taken at once, on the caller's thread: the host's waits for the answer
    // start when its write returns, and the photograph must show what the
    // display showed when the command came.
    captureLocked(kind);
    send(kEpIn, makePacket(endCode), m_variant.timing.captureMs);
}

const std::vector<uint8_t> &EmulatedModule::imageFor(int kind)
{
    auto it = m_captures.find(kind);
    if (it == m_captures.end()) {
        captureLocked(kind);
        it = m_captures.find(kind);
    }
    return it->second;
}

void EmulatedModule::serveGroup(int kind, int group)
{
    // Group 80 (one past the last) is the host's way of finishing an image: the
    // end packet alone answers it, as does any group beyond.
    if (group < kAcGroups) {
        const std::vector<uint8_t> &img = imageFor(kind);
        for (int d = group * kGroupPieces; d < (group + 1) * kGroupPieces; ++d)
            send(kEpIn, buildImagePiece(DAT_AC_IMAGE, d, img.data(), kAcImageBytes), 0, kind, d);
        ++m_stats.groupsServed;
    }
    send(kEpIn, makePacket(DAT_AC_IMGEND), 0, kind, group);
}

void EmulatedModule::servePart(const AcSendImgPart &req)
{
    const int first = std::max(0, req.first);
    const int last = std::min(kAcPieces - 1, req.last);
    if (first <= last) {
        const std::vector<uint8_t> &img = imageFor(req.kind);
        for (int d = first; d <= last; ++d) {
            send(kEpIn, buildImagePiece(DAT_AC_IMAGE_PART, d, img.data(), kAcImageBytes), 0, req.kind, d);
            ++m_stats.piecesResent;
        }
    }
    ++m_stats.partialResends;
    send(kEpIn, makePacket(DAT_AC_IMAGE_PART_END), 0, req.kind, -1);
}

namespace {

// A frame as it goes on the wire: turned with the image, and dark where the
// module's mask (when given) covers it.
void finishFrame(std::vector<uint8_t> &frame, bool reverse, const std::vector<uint8_t> &mask)
{
    frame.resize(kFrameBytes, 0);
    if (reverse)
        std::reverse(frame.begin(), frame.end());
    if (!mask.empty()) {
        for (int i = 0; i < kFrameBytes; ++i)
            if (mask[static_cast<size_t>(i / 8)] & (0x80 >> (i % 8)))
                frame[static_cast<size_t>(i)] = 0;
    }
}

} // namespace

void EmulatedModule::serveFrame()
{
    // The pieces are readable a frame time after the request, or once the
    // frame exists if it takes longer.
    const int64_t dueMs = Clock::nowMs() + answerDelayLocked() + m_variant.timing.frameMs;
    if (m_camera) {
        // The module ignores what its mask covers: those pixels stay dark. The
        // mask is drawn on the frames as the host shows them.
        std::vector<uint8_t> mask;
        if (m_mask.size() == static_cast<size_t>(kMaskSize) && m_mask[kMaskEnableOffset] != 0)
            mask = m_mask;
        const QImage display = m_display ? m_display() : QImage();
        const std::shared_ptr<SyntheticCamera> camera = m_camera;
        const int gain = sensorGainLocked();
        const bool reverse = turnedLocked();
        ++m_frameNumber;
        auto frame = std::make_shared<std::vector<uint8_t>>();
        postCameraWork(kEpFrames,
            [frame, camera, display, gain, reverse, mask] {
                *frame = toBytes(camera->frame(display, gain), kFrameBytes);
                finishFrame(*frame, reverse, mask);
            },
            [this, frame, dueMs] { queueFrame(std::move(*frame), dueMs); });
        return;
    }
    CaptureContext ctx;
    ctx.exposure = m_exposure;
    ctx.frameNumber = m_frameNumber;
    ctx.registers = m_registers;
    std::vector<uint8_t> frame = m_imageSource->alignmentFrame(ctx);
    finishFrame(frame, turnedLocked(), {});
    ++m_frameNumber;
    queueFrame(std::move(frame), dueMs);
}

void EmulatedModule::queueFrame(std::vector<uint8_t> frame, int64_t dueMs)
{
    const int pieces = piecesForImage(kFrameBytes);
    for (int d = 0; d < pieces; ++d)
        enqueue(kEpFrames, buildImagePiece(DAT_IMG, d, frame.data(), kFrameBytes), dueMs, -1, d);
    enqueue(kEpFrames, makePacket(DAT_IMGEND), dueMs, -1, -1);
    ++m_stats.framesServed;
}

// ---- the camera's thread -------------------------------------------------------------

void EmulatedModule::postCameraWork(uint8_t endpoint, std::function<void()> render, std::function<void()> complete)
{
    CameraJob job;
    job.generation = m_generation;
    job.endpoint = endpoint;
    ++cameraPendingLocked(endpoint);
    job.extraDelayMs = m_extraDelayMs;
    job.render = std::move(render);
    job.complete = std::move(complete);
    m_cameraJobs.push_back(std::move(job));
    if (!m_cameraThread.joinable())
        m_cameraThread = std::thread([this] { cameraLoop(); });
    m_cameraCv.notify_all();
}

void EmulatedModule::cameraLoop()
{
    std::unique_lock<std::mutex> lk(m_mutex);
    for (;;) {
        m_cameraCv.wait(lk, [&] { return m_cameraStop || !m_cameraJobs.empty(); });
        if (m_cameraStop) {
            // Work left undone answers nobody: no read waits for it.
            m_cameraJobs.clear();
            m_cameraPendingIn = m_cameraPendingFrames = 0;
            m_cv.notify_all();
            return;
        }
        CameraJob job = std::move(m_cameraJobs.front());
        m_cameraJobs.pop_front();
        if (job.render) {
            lk.unlock();
            {
                // One camera develops at a time: OpenCV's worker pool serves one
                // caller, and a second camera at work beside it would run alone
                // on one core and fall far behind the first.
                static std::mutex developing;
                std::lock_guard<std::mutex> one(developing);
                job.render();
            }
            lk.lock();
        }
        if (alive(job.generation) && job.complete) {
            // Answers leave as if the command were being carried out now.
            m_extraDelayMs = job.extraDelayMs;
            job.complete();
            m_extraDelayMs = 0;
        }
        --cameraPendingLocked(job.endpoint);
        m_cv.notify_all();
    }
}

// ---- the camera's side ---------------------------------------------------------------

int EmulatedModule::sensorGainLocked() const
{
    const auto hi = m_registers.find(kGainHigh);
    const auto lo = m_registers.find(kGainLow);
    if (hi == m_registers.end() || lo == m_registers.end())
        return SyntheticCamera::kUnityGain;
    return ((hi->second << 8) | lo->second) & 0x3FF;
}

bool EmulatedModule::turnedLocked() const
{
    // A module mounted turned sees the board upside down; reversal turns its
    // pictures once more.
    return m_imageReverse != m_variant.mountedTurned();
}

cv::Point2d EmulatedModule::orientedLocked(cv::Point2d c) const
{
    if (turnedLocked())
        return { kAcImageWidth - 1 - c.x, kAcImageHeight - 1 - c.y };
    return c;
}

bool EmulatedModule::maskedLocked(cv::Point2d camera) const
{
    if (m_mask.size() != static_cast<size_t>(kMaskSize) || m_mask[kMaskEnableOffset] == 0)
        return false;
    // The mask covers the frames as sent: half the camera's resolution, turned
    // with the image.
    const cv::Point2d c = orientedLocked(camera);
    const int x = static_cast<int>(std::floor((c.x + 0.5) / 2));
    const int y = static_cast<int>(std::floor((c.y + 0.5) / 2));
    if (x < 0 || y < 0 || x >= kFrameWidth || y >= kFrameHeight)
        return false;
    const int bit = y * kFrameWidth + x;
    return (m_mask[static_cast<size_t>(bit / 8)] & (0x80 >> (bit % 8))) != 0;
}
} // namespace tl::sim
