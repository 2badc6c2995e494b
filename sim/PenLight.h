#pragma once

namespace tl::sim {

// Where a pen's light sits against the screen point its tip touches: lifted
// off the screen plane towards the camera's side and offset along the screen
// (the pen's light is not in its tip, and the pen is held tilted), each as a
// share of the display's width, so that a camera that sees the whole display
// sees the same offset in camera pixels at every resolution. The offsets are
// in the camera's own view of the screen (as it sees it, turned or mirrored
// by its mounting).
struct PenLight
{
    double lift = 0;     // off the screen, towards the camera
    double alongX = 0;   // along the screen, to the right of the camera's view
    double alongY = 0;   // along the screen, downwards in the camera's view
};

// Pen types the module can be set up with (0 = normal pen, 1 = plus pen).
constexpr int kPenTypes = 2;

// The light of pen type `penType` with a module of lens family `lens` (1, 2,
// 3; any other code as 1). A pen type outside 0..1 glows in its tip, on the
// screen plane.
PenLight penLightFor(int lens, int penType);

} // namespace tl::sim
