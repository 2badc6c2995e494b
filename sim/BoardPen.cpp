#include "sim/BoardPen.h"

#include <cmath>
#include <memory>

namespace tl::sim {

namespace {
constexpr int kModuleWidth = 4800;
}

BoardScript boardStroke(BoardPoint from, BoardPoint to, int cycles)
{
    return [from, to, cycles](uint64_t cycle) -> std::vector<BoardPoint> {
        if (cycles <= 0 || cycle >= static_cast<uint64_t>(cycles))
            return {};
        const double t = cycles == 1 ? 0.0 : double(cycle) / double(cycles - 1);
        return {BoardPoint{from.x + (to.x - from.x) * t, from.y + (to.y - from.y) * t}};
    };
}

BoardScript twoFingerSpread(BoardPoint center, double startGap, double endGap, int cycles)
{
    return [center, startGap, endGap, cycles](uint64_t cycle) -> std::vector<BoardPoint> {
        if (cycles <= 0 || cycle >= static_cast<uint64_t>(cycles))
            return {};
        const double t = cycles == 1 ? 0.0 : double(cycle) / double(cycles - 1);
        const double half = (startGap + (endGap - startGap) * t) / 2;
        return {BoardPoint{center.x - half, center.y}, BoardPoint{center.x + half, center.y}};
    };
}

BoardScript sequence(std::vector<std::pair<BoardScript, int>> parts, int pause)
{
    auto shared = std::make_shared<const std::vector<std::pair<BoardScript, int>>>(std::move(parts));
    return [shared, pause](uint64_t cycle) -> std::vector<BoardPoint> {
        for (const auto &part : *shared) {
            const uint64_t length = uint64_t(part.second) + uint64_t(pause > 0 ? pause : 0);
            if (cycle < uint64_t(part.second))
                return part.first(cycle);
            if (cycle < length)
                return {};
            cycle -= length;
        }
        return {};
    };
}

PenScript moduleView(BoardScript board, int module, int modules, int overlap, int weight)
{
    return [board, module, modules, overlap, weight](uint64_t cycle) -> std::vector<TrackPoint> {
        std::vector<TrackPoint> out;
        for (const BoardPoint &p : board(cycle)) {
            const double left = module == 0 ? -1e9 : kModuleWidth - overlap;
            const double right = (modules < 2) ? 1e9 : (module == 0 ? kModuleWidth + overlap : 1e9);
            if (p.x < left || p.x >= right)
                continue;
            TrackPoint t;
            t.x = static_cast<int>(std::lround(p.x - module * kModuleWidth));
            t.y = static_cast<int>(std::lround(p.y));
            t.weight = weight;
            out.push_back(t);
        }
        return out;
    };
}

} // namespace tl::sim
