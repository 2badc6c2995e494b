#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace tl::sim {

// One spot the module reports in a tracking record, already in its 4800 x 3000
// sensor space. x goes out as uint16, y and weight as int16.
struct TrackPoint
{
    int x = 0;
    int y = 0;
    int weight = 100;
};

// The points the module sees in report cycle `cycle` (0, 1, 2, ... counted from
// tracking start). An empty list is a report without points.
using PenScript = std::function<std::vector<TrackPoint>(uint64_t cycle)>;

// A script that plays the given cycles once (or over and over with `loop`) and
// then reports nothing.
PenScript scriptFromCycles(std::vector<std::vector<TrackPoint>> cycles, bool loop = false);

// A single pen that goes down at `from`, moves in a straight line to `to` over
// `cycles` reports and lifts (reports nothing) afterwards.
PenScript penStroke(TrackPoint from, TrackPoint to, int cycles);

// Manual calibration: where the module sees the pen for target `index` (camera
// pixels), or nothing when the user does not touch that target.
struct CameraPoint
{
    float x = 0;
    float y = 0;
};
using ManualTouch = std::function<std::optional<CameraPoint>(int index)>;

} // namespace tl::sim
