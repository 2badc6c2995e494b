#include "sim/EmulatedModule.h"

#include "calibration/CalibModel.h"
#include "device/codec/Commands.h"
#include "device/codec/Image.h"

#include <algorithm>
#include <cmath>

// The pens on the board as the module reports them: the tracking reports of
// transfer mode 2, from the pen script and from window pens seen through the
// camera and the calibration the module holds.

namespace tl::sim {

using namespace tl::codec;

namespace {

// The sensor space a module reports in.
constexpr double kSensorWidth = 4800.0;
constexpr double kSensorHeight = 3000.0;
// How far past the sensor space's edge a position still counts as on the
// edge: the host's own tolerance for a point off the edge (sensor units).
constexpr double kEdgeBand = 30.0;

// The payload holds 84 tracking records of 6 bytes.
constexpr size_t kMaxTrackingRecords = kMaxPayload / kTrackingRecordSize;

} // namespace

bool EmulatedModule::reportingLocked() const
{
    return m_plugged && m_tracking && m_transferMode == 2 && !m_faults.silent();
}

void EmulatedModule::maybeReportLocked(int64_t nowMs)
{
    if (!reportingLocked() || nowMs < m_nextReportMs)
        return;
    std::vector<TrackPoint> points;
    if (m_penScript)
        points = m_penScript(m_reportCycle);
    if (m_windowPen && m_camera) {
        for (const cv::Point2d &w : m_windowPen(m_reportCycle))
            if (const std::optional<TrackPoint> seen = seePenLocked(w))
                points.push_back(*seen);
    }
    ++m_reportCycle;
    std::vector<TrackingRecord> records;
    for (const TrackPoint &tp : points) {
        if (records.size() >= kMaxTrackingRecords)
            break;
        TrackingRecord r;
        r.x = static_cast<uint16_t>(tp.x);
        r.y = static_cast<int16_t>(tp.y);
        r.weight = static_cast<int16_t>(tp.weight);
        records.push_back(r);
    }
    const std::vector<uint8_t> payload = encodeTracking(records);
    // A report is due at once, not after an answer's turnaround; cycles nobody
    // read are skipped, as the module keeps only its latest report.
    enqueue(kEpIn, makePacket(DAT_TC_DUAL_MODE, payload.data(), static_cast<int>(payload.size())), nowMs);
    ++m_stats.reportsSent;
    const int planned = m_faults.plan().reportPeriodMs;
    const int period = std::max(1, planned > 0 ? planned : m_variant.timing.reportPeriodMs);
    m_nextReportMs += period;
    if (m_nextReportMs <= nowMs)
        m_nextReportMs = nowMs + period;
}
std::optional<TrackPoint> EmulatedModule::seePenLocked(cv::Point2d window) const
{
    if (!m_camera || !m_eeprom.calibrated())
        return std::nullopt;
    // The pen's light, which is not on the screen plane.
    const cv::Point2d cam = m_camera->penToCamera(window, m_variant.penType);
    if (!std::isfinite(cam.x) || !std::isfinite(cam.y) || cam.x < -0.5 || cam.y < -0.5 ||
        cam.x > kAcImageWidth - 0.5 || cam.y > kAcImageHeight - 0.5)
        return std::nullopt;
    if (maskedLocked(cam))
        return std::nullopt;
    // The module's own use of its parameters: camera point -> window point of
    // the calibrated window -> sensor space.
    const cv::Point2d c = orientedLocked(cam);
    ModelPoint w = tl::cameraToWindow(m_eeprom.tp.data(), c.x, c.y);
    // The fit pairs each pattern element with the screen position of its own
    // number, and a mounted camera sees the elements turned (ceiling) or
    // mirrored (rear): the parameters map into that frame, and the module
    // brings the point back with the mounting flags uploaded with them.
    const double w1 = m_eeprom.windowWidth - 1.0;
    const double h1 = m_eeprom.windowHeight - 1.0;
    if (m_eeprom.rear)
        w.x = w1 - w.x;
    if (m_eeprom.ceiling)
        w = { w1 - w.x, h1 - w.y };
    double sx = w.x * kSensorWidth / m_eeprom.windowWidth;
    double sy = w.y * kSensorHeight / m_eeprom.windowHeight;
    if (!std::isfinite(sx) || !std::isfinite(sy))
        return std::nullopt;
    // A pen on the display's edge may be mapped a little past it (the
    // calibration extrapolates beyond its points): within the edge band it is
    // a touch on the edge and is reported there, as the host would take it.
    // Further out it is not on the display; what the record can carry is
    // reported (x is unsigned, y signed 16-bit), and the host leaves it.
    if (sx >= -kEdgeBand && sx < 0)
        sx = 0;
    else if (sx > kSensorWidth - 1 && sx <= kSensorWidth - 1 + kEdgeBand)
        sx = kSensorWidth - 1;
    if (sy >= -kEdgeBand && sy < 0)
        sy = 0;
    else if (sy > kSensorHeight - 1 && sy <= kSensorHeight - 1 + kEdgeBand)
        sy = kSensorHeight - 1;
    if (sx < 0 || sx > 65535 || sy < -32768 || sy > 32767)
        return std::nullopt;
    TrackPoint t;
    t.x = static_cast<int>(std::lround(sx));
    t.y = static_cast<int>(std::lround(sy));
    t.weight = 100;
    return t;
}
} // namespace tl::sim
