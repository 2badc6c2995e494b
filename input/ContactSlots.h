#pragma once

#include <QRect>

namespace tl::input {

// Sensor space of one module, in the units the module reports after its own
// calibration. Module 1 sits to the right of module 0: its x is moved by 4800.
constexpr int kSensorWidth = 4800;
constexpr int kSensorHeight = 3000;

constexpr int kContactSlots = 10;
// A cycle keeps at most nine points: the table has ten entries, but the count
// stops at nine.
constexpr int kPointTableSize = 10;
constexpr int kMaxPointsPerCycle = 9;

// Whether a slot holds a contact after a tracking cycle. The values are the
// slot's action numbers as diagnostics print them.
enum class Presence : int {
    None = 0,      // no contact (released, idle, or off the sensor)
    Present = 1,   // a contact, moved or new
    Replaced = 2,  // a contact, after another contact left this slot in the same cycle
};

// What the tracking path found in one slot: the contact's position in sensor
// units and whether it is there. The injector keeps its own state per slot
// (TouchInjector::SlotBinding).
struct TrackedContact
{
    int x = 0;
    int y = 0;
    Presence presence = Presence::None;

    bool present() const { return presence != Presence::None; }
};

// Euclidean distance between two sensor positions, truncated to an integer,
// without overflow for any pair of 16-bit positions.
int sensorDistance(int x0, int y0, int x1, int y1);

// The ten slots of one cycle, as the tracking path hands them to the injector.
struct ContactSlotTable
{
    TrackedContact slot[kContactSlots];
};

// The desktop rectangles the two modules' sensor halves map to: rectangle 0 for
// sensor x below 4800, rectangle 1 for x of 4800 and above.
struct DisplayMap
{
    QRect rect[2];

    // Sensor position -> desktop pixel.
    QPoint toScreen(int x, int y) const;
    // Whether sensor x falls on a display at all: false for the half of a
    // module whose rectangle is empty (two modules, one monitor).
    bool shows(int x) const { return !rect[x >= kSensorWidth ? 1 : 0].isEmpty(); }
};

// Rectangle choice for a module count and the monitor setting: one module
// uses the monitor of that index (left-to-right, falling back to the primary),
// any other count the two leftmost monitors.
DisplayMap selectDisplayRects(int numModules, int monitorSetting);

} // namespace tl::input
