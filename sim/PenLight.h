#pragma once

namespace tl::sim {

// Where a pen's light sits against the screen point its tip touches, and how
// the camera's lens passes it.
//
// The light is lifted off the screen plane towards the camera's side and
// offset along the screen (the pen's light is not in its tip, and the pen is
// held tilted), each as a share of the display's width, so that a camera that
// sees the whole display sees the same offset in camera pixels at every
// resolution. The offsets are in the camera's own view of the screen (as it
// sees it, turned or mirrored by its mounting).
//
// The light is infrared, the pattern visible: a lens's focal length differs
// with the wavelength (longer or shorter as its design corrects its colour),
// so it images the light at a slightly other scale about its principal point
// than the pattern, and bends it slightly differently towards the image's edge
// (lateral colour). Both belong to the lens, the same for every pen type of a
// lens family (`irScale`: relative change of the image scale; `irRadial`: the
// change of the radial term, per squared normalised radius, both applied to
// the lens's distorted point before the focal length).
struct PenLight
{
    double lift = 0;     // off the screen, towards the camera
    double alongX = 0;   // along the screen, to the right of the camera's view
    double alongY = 0;   // along the screen, downwards in the camera's view
    double irScale = 0;  // image scale of the light against the pattern's, minus 1
    double irRadial = 0; // radial term of the light's image against the pattern's
};

// Pen types the module can be set up with (0 = normal pen, 1 = plus pen).
constexpr int kPenTypes = 2;

// The light of pen type `penType` with a module of lens family `lens` (1, 2,
// 3; any other code as 1). A pen type outside 0..1 glows in its tip, on the
// screen plane.
PenLight penLightFor(int lens, int penType);

} // namespace tl::sim
