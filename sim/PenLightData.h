#pragma once

// Written by pen-identify (tools/accuracy/PenIdentify.cpp); do not edit. Made with
//   build/bin/pen-identify --seeds 8 --display 1920x1080 --out sim/PenLightData.h
// from the emulator's cameras of seeds 1..8 and the product's tweak tables. Per table: the
// light (lift, along x, along y: shares of the display width); the table's RMS and largest
// offset; what the light leaves unexplained (RMS, largest); what a plane leaves (camera px).
//   lens 1 (other codes), pen 0       0.001368 -0.000598  0.001557 |   1.64   2.67 |   0.62   1.61 |   0.60   1.23
//   lens 1 (other codes), pen 1       0.001368 -0.000598  0.001557 |   1.64   2.67 |   0.62   1.61 |   0.60   1.23
//   lens 2, pen 0                     0.004493 -0.000756  0.001503 |   1.98   3.91 |   0.53   1.20 |   0.39   0.81
//   lens 2, pen 1                     0.003539 -0.000510  0.000725 |   1.70   3.77 |   1.04   2.06 |   0.82   1.75
//   lens 3 fwParam >= 10, pen 0       0.000854 -0.000862  0.000762 |   1.38   2.85 |   0.66   1.47 |   0.35   0.63
//   lens 3 fwParam >= 10, pen 1       0.000703 -0.000859  0.000760 |   1.37   2.85 |   0.70   1.57 |   0.32   0.63

#include "sim/PenLight.h"

namespace tl::sim {

// Lens family 1, 2, 3 (rows) x pen type 0, 1: lift, along x, along y.
inline constexpr PenLight kPenLightTable[3][kPenTypes] = {
    { { 0.00136799636, -0.000597642231, 0.00155731095 }, { 0.00136799636, -0.000597642231, 0.00155731095 } },
    { { 0.00449298541, -0.000755925226, 0.00150324486 }, { 0.00353914596, -0.000510469756, 0.000725114672 } },
    { { 0.000854286769, -0.000862425602, 0.000761602778 }, { 0.000703010548, -0.000858559322, 0.000760260543 } },
};

} // namespace tl::sim
