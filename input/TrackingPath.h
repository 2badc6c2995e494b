#pragma once

#include "input/ContactSlots.h"

#include <QRect>
#include <cstdint>

namespace tl::input {

// From DAT_TC_DUAL_MODE payloads to the ten contact slots: decoding (module 1
// moved right by 4800), snapping to the merged sensor rectangle, joining the
// points two modules see near their common edge, and following up to ten
// contacts from report to report.
//
// Not thread-safe by itself: its owner holds the tracking mutex around every
// call. Nothing here allocates.
class TrackingPath
{
public:
    struct Point
    {
        int x = 0;
        int y = 0;
        int weight = 0;
        int module = 0;
    };

    // Snap tolerance at the sensor edges, and the distance at which two
    // positions are no longer the same contact (sensor units).
    static constexpr int kSnapTolerance = 30;
    static constexpr int kSameContactDistance = 240;

    TrackingPath();

    // Connected modules (1 or 2); the cycle waits for each of them, and the
    // merged sensor rectangle is sized for them at the next reset.
    void setNumModules(int n);
    int numModules() const { return m_numModules; }

    // Empties the slots, the matching memory, the point table and the reported
    // flags, and sizes the merged sensor rectangle for the module count.
    void reset(int nDevNum);

    enum class Result {
        Dropped,     // malformed packet (length, module index): nothing changed
        Collecting,  // the module's report is in, waiting for the other one
        CycleDone,   // every connected module reported: the slots are new
    };

    // One DAT_TC_DUAL_MODE payload of module nDevNum, its records read in place
    // (codec::TrackingRecords). When the result is CycleDone the caller
    // injects the slots, then calls endCycle().
    Result addReport(const uint8_t *payload, int length, int nDevNum);
    void endCycle();
    // Forgets what module nDevNum reported in the cycle being collected (a
    // module that has fallen silent since: its points are no longer there).
    void forgetReport(int nDevNum);

    // What the last complete cycle found in each slot.
    const ContactSlotTable &contacts() const { return m_slots; }
    const QRect &mergedSensor() const { return m_rcMergedSensor; }

    // Exposed for tests: the point table of the cycle being collected.
    int pointCount() const { return m_nPoints; }
    const Point &point(int i) const { return m_points[i]; }

    // The steps of one cycle, public so that tests can drive each on its own.
    void decodeRecord(int rawX, int rawY, int weight, int module);
    void mergeModules();
    void matchSlots();

    // Mean of a and b weighted by wa and wb (integer division). Weights that
    // sum to zero (a module may send anything) give the plain mean.
    static int weightedMean(int a, int wa, int b, int wb);

private:
    // Removes the points a module reported earlier in the current cycle.
    void dropPointsOf(int module);
    bool insideSensor(int x, int y) const;

    Point m_points[kPointTableSize];
    int m_nPoints = 0;
    bool m_reported[2] = {false, false};
    int m_numModules = 1;
    QRect m_rcMergedSensor;

    ContactSlotTable m_slots;
    // Matching memory: where each slot was last seen and whether it was active.
    int m_lastX[kContactSlots] = {};
    int m_lastY[kContactSlots] = {};
    bool m_lastActive[kContactSlots] = {};
};

} // namespace tl::input
