#include "sim/EmulatedModule.h"

#include "device/codec/Commands.h"
#include "device/codec/Image.h"
#include "platform/Clock.h"

#include <algorithm>
#include <cmath>

// The person at the board during manual calibration: looks at the display the
// module watches, puts the pen on the target mark once it stands still, and
// lifts it when the window has answered the touch.

namespace tl::sim {

using namespace tl::codec;

bool EmulatedModule::userActiveLocked() const
{
    return m_person.state != UserState::Idle && m_manualMode && m_camera && m_display;
}

namespace {
// How long the mark must be out of sight (and no ring drawn where it stood)
// before a person holding the pen on it takes it for gone (driver milliseconds).
constexpr int64_t kUserGoneMs = 1000;
// How long a person waits for the mark to leave the place of a touch the
// window has answered before taking it that the same target is asked again.
constexpr int64_t kUserRepeatMs = 3000;
// A mark stands still once it has been seen in one place this long, in at
// least kUserStillPictures new pictures of the board. The pictures lag the
// window: it is grabbed now and then, and on a busy machine its animation
// steps less often than it is grabbed, so a mark on its way may show in one
// place in two pictures running, or in one picture for a long while when the
// window does not repaint at all.
constexpr int64_t kUserStillMs = 600;
constexpr int kUserStillPictures = 3;
// A board whose picture has not changed at all this long shows a mark at rest
// (a display painted once and left): long beside a busy window's stalls.
constexpr int64_t kUserUnchangedMs = 3000;
} // namespace

void EmulatedModule::beginSeekingLocked(int index, std::optional<CameraPoint> given)
{
    m_person.state = UserState::Seeking;
    m_person.index = index;
    m_person.givenPoint = given;
    m_person.sinceMs = Clock::nowMs();
    m_person.nextLookMs = m_person.sinceMs;
    m_person.stillAt.reset();
    m_person.stillPictures = 0;
    m_cv.notify_all();
}

std::optional<cv::Point2d> EmulatedModule::lookAtBoardLocked(QImage *seenOut)
{
    const QImage seen = m_display();
    // A picture that has not changed since the last look shows the mark where it was.
    if (seen.isNull() || seen.cacheKey() != m_person.seenKey) {
        m_person.seenKey = seen.isNull() ? 0 : seen.cacheKey();
        m_person.seenMark = findTargetMark(seen);
        m_person.freshPicture = true;
        m_person.pictureSinceMs = Clock::nowMs();
    }
    std::optional<cv::Point2d> mark = m_person.seenMark;
    if (mark && !seen.isNull()) {
        // The picture may be of another size than the window the camera watches.
        const CameraSetup &cs = m_camera->setup();
        mark->x = (mark->x + 0.5) * cs.displayWidth / seen.width() - 0.5;
        mark->y = (mark->y + 0.5) * cs.displayHeight / seen.height() - 0.5;
    }
    if (seenOut)
        *seenOut = seen;
    return mark;
}

void EmulatedModule::maybeUserLocked(int64_t nowMs)
{
    if (!userActiveLocked() || nowMs < m_person.nextLookMs)
        return;
    m_person.nextLookMs = nowMs + std::max(1, m_user.lookMs);
    QImage seen;
    const std::optional<cv::Point2d> mark = lookAtBoardLocked(&seen);
    const ModuleTiming &t = m_variant.timing;
    if (m_person.state == UserState::Seeking) {
        // Wait until the mark stands still (it may still be moving there), then
        // put the pen on it, as well as a hand can.
        if (m_person.freshPicture) {
            m_person.freshPicture = false;
            if (mark && m_person.stillAt && cv::norm(*mark - *m_person.stillAt) < 1.0) {
                ++m_person.stillPictures;
            } else {
                m_person.stillAt = mark;
                m_person.stillSinceMs = nowMs;
                m_person.stillPictures = mark ? 1 : 0;
            }
        }
        const bool still = mark && m_person.stillAt && m_person.stillPictures >= kUserStillPictures &&
                           nowMs - m_person.stillSinceMs >= kUserStillMs;
        const bool unchanged = mark && nowMs - m_person.pictureSinceMs >= kUserUnchangedMs;
        if (!still && !unchanged)
            return;
        // A mark still where the window has just answered a touch has not set
        // off for the next target yet (on a busy machine it may stand a while
        // before it moves); only if it stays there is that target asked again.
        if (m_person.answeredAt && cv::norm(*mark - *m_person.answeredAt) <= 3.0 && nowMs - m_person.sinceMs < kUserRepeatMs)
            return;
        if (m_person.givenPoint) {
            // The test says where the camera sees this touch.
            m_mcPoints[static_cast<size_t>(m_person.index)] = *m_person.givenPoint;
            m_person.minHoldMs = t.touchMs + t.holdMs;
        } else {
            cv::Point2d aim = *mark;
            if (m_user.sigma > 0) {
                std::normal_distribution<double> err(0.0, m_user.sigma);
                aim.x += err(m_person.rng);
                aim.y += err(m_person.rng);
            }
            const cv::Point2d cam = m_camera->penToCamera(aim, m_variant.penType);
            if (!std::isfinite(cam.x) || !std::isfinite(cam.y) || cam.x < 0 || cam.y < 0 ||
                cam.x > kAcImageWidth - 1 || cam.y > kAcImageHeight - 1 || maskedLocked(cam))
                return;   // the camera does not see the pen there: the person keeps trying
            const cv::Point2d c = orientedLocked(cam);
            m_mcPoints[static_cast<size_t>(m_person.index)] = { static_cast<float>(c.x), static_cast<float>(c.y) };
            m_person.minHoldMs = t.touchMs;
        }
        m_person.markAt = *mark;
        m_person.downMs = nowMs;
        m_person.missingSinceMs = -1;
        m_person.ringSeen = false;
        m_person.state = UserState::Holding;
        send(kEpIn, makePacket(RES_MC_PATTERN_DONE), t.touchMs);
        return;
    }
    // Holding: the pen stays until the person sees the window answer the
    // touch: the ring drawn around the mark has come and gone, the mark has
    // moved on, or it has gone away. However long the window takes to draw
    // its ring, the person waits; only a touch that is never answered at all
    // is given up (maxHoldMs). Lifting the pen ends the target.
    if (nowMs < m_person.downMs + m_person.minHoldMs)
        return;
    bool ring = false;
    if (!seen.isNull()) {
        const CameraSetup &cs = m_camera->setup();
        const cv::Point2d inPicture((m_person.markAt.x + 0.5) * seen.width() / cs.displayWidth - 0.5,
                                    (m_person.markAt.y + 0.5) * seen.height() / cs.displayHeight - 0.5);
        ring = markRingShown(seen, inPicture);
    }
    if (ring)
        m_person.ringSeen = true;
    // While the ring is drawn the mark is partly hidden: where it is found then
    // says nothing about where it stands.
    const bool ringDone = m_person.ringSeen && !ring;
    const bool movedAway = !ring && mark && cv::norm(*mark - m_person.markAt) > 3.0;
    if (mark || ring)
        m_person.missingSinceMs = -1;
    else if (m_person.missingSinceMs < 0)
        m_person.missingSinceMs = nowMs;
    const bool gone = !mark && !ring && nowMs - m_person.missingSinceMs >= kUserGoneMs;
    if (ringDone || movedAway || gone || nowMs - m_person.downMs >= m_user.maxHoldMs) {
        if (ringDone || movedAway)
            m_person.answeredAt = m_person.markAt;
        else
            m_person.answeredAt.reset();
        m_person.state = UserState::Idle;
        m_person.missingSinceMs = -1;
        m_person.ringSeen = false;
        send(kEpIn, makePacketI32(RES_MC_PATTERN_END, m_person.index), 0);
    }
}

} // namespace tl::sim
