#include "input/TrackingPath.h"

#include "device/codec/Image.h"

#include <QDebug>
#include <cstdint>

namespace tl::input {

namespace {

// Marks a point that a merge removed.
constexpr int kRemoved = -1000000;

// The band around the common edge of two modules (x 4800) where both see the
// same pen and their positions are blended by distance to the edge.
constexpr int kSeamLow = 4561;
constexpr int kSeamHigh = 5039;

bool inSeam(int x)
{
    return x >= kSeamLow && x <= kSeamHigh;
}

int roundHalfUp(double v)
{
    return static_cast<int>(v + 0.5);
}

} // namespace

TrackingPath::TrackingPath()
{
    reset(0);
}

void TrackingPath::setNumModules(int n)
{
    m_numModules = n == 2 ? 2 : 1;
}

void TrackingPath::reset(int nDevNum)
{
    Q_UNUSED(nDevNum);
    m_slots = ContactSlotTable();
    for (int i = 0; i < kContactSlots; ++i) {
        m_lastX[i] = 0;
        m_lastY[i] = 0;
        m_lastActive[i] = false;
    }
    for (Point &p : m_points)
        p = Point();
    m_nPoints = 0;
    m_reported[0] = m_reported[1] = false;
    m_rcMergedSensor = QRect(0, 0, kSensorWidth * m_numModules, kSensorHeight);
    qDebug() << "m_rcMergedSensor:" << m_rcMergedSensor.right() << m_rcMergedSensor.bottom();
}

bool TrackingPath::insideSensor(int x, int y) const
{
    return x >= m_rcMergedSensor.left() && x <= m_rcMergedSensor.right() && y >= m_rcMergedSensor.top() &&
           y <= m_rcMergedSensor.bottom();
}

TrackingPath::Result TrackingPath::addReport(const uint8_t *payload, int length, int nDevNum)
{
    if (nDevNum < 0 || nDevNum > 1)
        return Result::Dropped;
    // A length that is not a whole number of records, or more than a packet
    // can carry, is not a tracking report.
    const codec::TrackingRecords records(payload, length);
    if (!records.ok())
        return Result::Dropped;

    // A module that reports again before the other module's report closed the
    // cycle replaces its own earlier points: keeping both would put two
    // positions of one pen into the cycle and make a phantom contact. Module
    // report clocks are not synchronised, so this happens in normal use.
    if (m_reported[nDevNum])
        dropPointsOf(nDevNum);
    m_reported[nDevNum] = true;
    for (const codec::TrackingRecord &r : records)
        decodeRecord(r.x, r.y, r.weight, nDevNum);

    const bool complete = m_numModules == 2 ? (m_reported[0] && m_reported[1]) : m_reported[0];
    if (!complete)
        return Result::Collecting;

    if (m_nPoints == 0) {
        for (int i = 0; i < kContactSlots; ++i) {
            m_slots.slot[i] = TrackedContact();
            m_lastX[i] = m_lastY[i] = 0;
            m_lastActive[i] = false;
        }
    } else {
        if (m_numModules == 2)
            mergeModules();
        matchSlots();
    }
    return Result::CycleDone;
}

void TrackingPath::dropPointsOf(int module)
{
    int kept = 0;
    for (int i = 0; i < m_nPoints; ++i)
        if (m_points[i].module != module)
            m_points[kept++] = m_points[i];
    m_nPoints = kept;
}

void TrackingPath::forgetReport(int nDevNum)
{
    if (nDevNum < 0 || nDevNum > 1)
        return;
    dropPointsOf(nDevNum);
    m_reported[nDevNum] = false;
}

void TrackingPath::endCycle()
{
    m_reported[0] = m_reported[1] = false;
    m_nPoints = 0;
}

void TrackingPath::decodeRecord(int rawX, int rawY, int weight, int module)
{
    int x;
    if (module == 1) {
        // The module reports 0..4799; moved right by 4800 the sum is kept in
        // 16 bits, so a wild 30000 reads back as -30736 and falls outside.
        x = static_cast<int16_t>(static_cast<uint16_t>((rawX & 0xFFFF) + kSensorWidth));
    } else {
        x = static_cast<int16_t>(static_cast<uint16_t>(rawX & 0xFFFF));
    }
    int y = static_cast<int16_t>(static_cast<uint16_t>(rawY & 0xFFFF));
    const int w = static_cast<int16_t>(static_cast<uint16_t>(weight & 0xFFFF));

    if (m_nPoints >= kMaxPointsPerCycle)
        return;

    const int left = m_rcMergedSensor.left();
    const int right = m_rcMergedSensor.right();
    const int top = m_rcMergedSensor.top();
    const int bottom = m_rcMergedSensor.bottom();
    if (x < left && x >= left - kSnapTolerance)
        x = left;
    if (x > right && x <= right + kSnapTolerance)
        x = right;
    if (y < top && y >= top - kSnapTolerance)
        y = top;
    if (y > bottom && y <= bottom + kSnapTolerance)
        y = bottom;

    m_points[m_nPoints++] = Point{x, y, w, module};
}

int TrackingPath::weightedMean(int a, int wa, int b, int wb)
{
    const int64_t sw = int64_t(wa) + wb;
    if (sw == 0)
        return static_cast<int>((int64_t(a) + b) / 2);
    return static_cast<int>((int64_t(a) * wa + int64_t(b) * wb) / sw);
}

void TrackingPath::mergeModules()
{
    for (int i = 0; i < m_nPoints; ++i) {
        for (int j = i + 1; j < m_nPoints; ++j) {
            Point &a = m_points[i];
            Point &b = m_points[j];
            if (a.x == kRemoved || b.x == kRemoved || a.module == b.module)
                continue;
            // A spot off the sensor space never becomes a contact; blended
            // into a real one near the seam it would move that one.
            if (!insideSensor(a.x, a.y) || !insideSensor(b.x, b.y))
                continue;
            if (sensorDistance(a.x, a.y, b.x, b.y) >= kSameContactDistance)
                continue;

            Point *stay;
            Point *gone;
            if (inSeam(a.x) && inSeam(b.x)) {
                // Each module is trusted in proportion to how far the pen is
                // from the other module's side of the band.
                Point &p0 = a.module == 0 ? a : b;
                Point &p1 = a.module == 0 ? b : a;
                const double u = p1.x / 480.0 - 9.5;
                const double v = 10.5 - p0.x / 480.0;
                const int nx = roundHalfUp((p1.x * u + p0.x * v) / (u + v));
                const int ny = roundHalfUp((p1.y * u + p0.y * v) / (u + v));
                p0.weight = (p0.weight + p1.weight) / 2;
                p0.x = nx;
                p0.y = ny;
                stay = &p0;
                gone = &p1;
            } else if (a.x < kSensorWidth && b.x < kSensorWidth) {
                stay = a.module == 0 ? &a : &b;
                gone = a.module == 0 ? &b : &a;
            } else if (a.x >= kSensorWidth && b.x >= kSensorWidth) {
                stay = a.module == 1 ? &a : &b;
                gone = a.module == 1 ? &b : &a;
            } else {
                // Weighted by the spot magnitude.
                a.x = weightedMean(a.x, a.weight, b.x, b.weight);
                a.y = weightedMean(a.y, a.weight, b.y, b.weight);
                stay = &a;
                gone = &b;
            }
            gone->x = kRemoved;
            gone->y = kRemoved;
            stay->module = stay->x >= kSensorWidth ? 1 : 0;
        }
    }

    int n = 0;
    for (int i = 0; i < m_nPoints; ++i) {
        const Point &p = m_points[i];
        if (p.x == kRemoved)
            continue;
        const bool ownSide = p.module == 0 ? p.x < kSensorWidth : p.x >= kSensorWidth;
        if (!ownSide)
            continue;
        m_points[n++] = p;
    }
    m_nPoints = n;
}

void TrackingPath::matchSlots()
{
    bool assigned[kContactSlots] = {};
    bool matched[kContactSlots] = {};
    bool used[kPointTableSize] = {};
    int newX[kContactSlots] = {};
    int newY[kContactSlots] = {};
    bool inside[kPointTableSize] = {};
    for (int p = 0; p < m_nPoints; ++p)
        inside[p] = insideSensor(m_points[p].x, m_points[p].y);

    // Distances of every slot's last position to every point, once: the
    // pairing below scans this table instead of measuring again each round.
    int dist[kContactSlots][kPointTableSize];
    for (int s = 0; s < kContactSlots; ++s)
        for (int p = 0; p < m_nPoints; ++p)
            dist[s][p] = inside[p] ? sensorDistance(m_lastX[s], m_lastY[s], m_points[p].x, m_points[p].y)
                                   : kSameContactDistance;

    // Nearest pair first, until no slot is closer than the contact distance to
    // any free point. Only slots that held a contact follow one: an idle
    // slot's last position is (0, 0), and a pen near the board's top-left
    // corner would jump to it from its own slot (an up and a down each time).
    for (;;) {
        int bestSlot = -1;
        int bestPoint = -1;
        int bestDist = kSameContactDistance;
        for (int s = 0; s < kContactSlots; ++s) {
            if (matched[s] || !m_lastActive[s])
                continue;
            for (int p = 0; p < m_nPoints; ++p) {
                if (used[p])
                    continue;
                if (dist[s][p] < bestDist) {
                    bestDist = dist[s][p];
                    bestSlot = s;
                    bestPoint = p;
                }
            }
        }
        if (bestSlot < 0)
            break;
        assigned[bestSlot] = matched[bestSlot] = true;
        used[bestPoint] = true;
        newX[bestSlot] = m_points[bestPoint].x;
        newY[bestSlot] = m_points[bestPoint].y;
    }

    // What is left starts a contact in the lowest free slot.
    for (int p = 0; p < m_nPoints; ++p) {
        if (used[p] || !inside[p])
            continue;
        for (int s = 0; s < kContactSlots; ++s) {
            if (!assigned[s]) {
                assigned[s] = true;
                used[p] = true;
                newX[s] = m_points[p].x;
                newY[s] = m_points[p].y;
                break;
            }
        }
    }

    for (int s = 0; s < kContactSlots; ++s) {
        TrackedContact &slot = m_slots.slot[s];
        const bool present = assigned[s] && insideSensor(newX[s], newY[s]);
        if (!present)
            slot.presence = Presence::None;      // released, idle, or off the sensor
        else if (!matched[s] && m_lastActive[s])
            slot.presence = Presence::Replaced;  // another contact left this slot in the same cycle
        else
            slot.presence = Presence::Present;   // moved or new
        slot.x = slot.present() ? newX[s] : 0;
        slot.y = slot.present() ? newY[s] : 0;
        m_lastX[s] = newX[s];
        m_lastY[s] = newY[s];
        m_lastActive[s] = assigned[s];
    }
}

} // namespace tl::input
