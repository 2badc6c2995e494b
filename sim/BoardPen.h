#pragma once

#include "sim/PenScript.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace tl::sim {

// A position on the whole board in the joined sensor space: module 0 covers x
// 0..4799, module 1 (when there are two) x 4800..9599; y 0..2999. What a pen or
// finger does is written once for the board; each module then reports its own
// view of it.
struct BoardPoint
{
    double x = 0;
    double y = 0;
};

// The contacts on the board in report cycle `cycle` (empty: nothing touches).
using BoardScript = std::function<std::vector<BoardPoint>(uint64_t cycle)>;

// One pen: down at `from`, a straight line to `to` over `cycles` reports, then
// lifted.
BoardScript boardStroke(BoardPoint from, BoardPoint to, int cycles);

// Two fingers on a horizontal line through `center`, moving apart from `startGap`
// to `endGap` (sensor units between them) over `cycles` reports, then lifted.
BoardScript twoFingerSpread(BoardPoint center, double startGap, double endGap, int cycles);

// Several scripts one after another, each followed by `pause` reports of nothing.
BoardScript sequence(std::vector<std::pair<BoardScript, int /*cycles*/>> parts, int pause);

// What module `module` of `modules` reports of the board: positions in its own
// 4800 x 3000 space, rounded. Two modules both see a contact within `overlap`
// sensor units of their common edge, as two cameras watching overlapping areas do.
PenScript moduleView(BoardScript board, int module, int modules, int overlap = 150, int weight = 100);

} // namespace tl::sim
