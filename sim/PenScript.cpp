#include "sim/PenScript.h"

#include <cmath>
#include <memory>

namespace tl::sim {

PenScript scriptFromCycles(std::vector<std::vector<TrackPoint>> cycles, bool loop)
{
    auto shared = std::make_shared<const std::vector<std::vector<TrackPoint>>>(std::move(cycles));
    return [shared, loop](uint64_t cycle) -> std::vector<TrackPoint> {
        if (shared->empty())
            return {};
        if (loop)
            return (*shared)[cycle % shared->size()];
        return cycle < shared->size() ? (*shared)[cycle] : std::vector<TrackPoint>{};
    };
}

PenScript penStroke(TrackPoint from, TrackPoint to, int cycles)
{
    return [from, to, cycles](uint64_t cycle) -> std::vector<TrackPoint> {
        if (cycles <= 0 || cycle >= static_cast<uint64_t>(cycles))
            return {};
        const double t = cycles == 1 ? 0.0 : static_cast<double>(cycle) / (cycles - 1);
        TrackPoint p;
        p.x = static_cast<int>(std::lround(from.x + (to.x - from.x) * t));
        p.y = static_cast<int>(std::lround(from.y + (to.y - from.y) * t));
        p.weight = from.weight;
        return {p};
    };
}

} // namespace tl::sim
