#pragma once

// Written by pen-identify (tools/accuracy/PenIdentify.cpp); do not edit. Made with
//   build/bin/pen-identify --seeds 8 --display 1920x1080 --out sim/PenLightData.h
// from the emulator's cameras of seeds 1..8 and the product's tweak tables. Per table: the
// light (lift, along x, along y: shares of the display width); the table's RMS and largest
// offset; what the light leaves unexplained (RMS, largest); what a plane leaves (camera px);
// the lens's infrared scale and radial term; what the light leaves in window px (RMS, largest).
//   lens 1 (other codes), pen 0       0.000000 -0.000602  0.000893 |   1.64   2.67 |   0.61   1.54 |   0.60   1.23 |  0.00145  0.00198 |   1.03   2.34
//   lens 1 (other codes), pen 1       0.000000 -0.000602  0.000893 |   1.64   2.67 |   0.61   1.54 |   0.60   1.23 |  0.00145  0.00198 |   1.03   2.34
//   lens 2, pen 0                     0.002077 -0.000875  0.000985 |   1.98   3.91 |   0.49   0.90 |   0.39   0.81 |  0.00213  0.00117 |   0.98   2.27
//   lens 2, pen 1                     0.001142 -0.000693  0.000232 |   1.70   3.77 |   1.03   2.03 |   0.82   1.75 |  0.00213  0.00117 |   1.86   3.95
//   lens 3 fwParam >= 10, pen 0       0.000798 -0.001293  0.000826 |   1.38   2.85 |   0.78   2.14 |   0.35   0.63 | -0.00064  0.00176 |   1.51   4.73
//   lens 3 fwParam >= 10, pen 1       0.000618 -0.001233  0.000911 |   1.37   2.85 |   0.79   2.09 |   0.32   0.63 | -0.00064  0.00176 |   1.39   3.92

#include "sim/PenLight.h"

namespace tl::sim {

// Lens family 1, 2, 3 (rows) x pen type 0, 1: lift, along x, along y, infrared scale,
// infrared radial term.
inline constexpr PenLight kPenLightTable[3][kPenTypes] = {
    {
      { 0, -0.000601706074, 0.000893237036, 0.00145043523, 0.00198134713 },
      { 0, -0.000601706074, 0.000893237036, 0.00145043523, 0.00198134713 } },
    {
      { 0.00207666619, -0.000874930606, 0.000985095215, 0.00213270295, 0.00116554595 },
      { 0.00114181891, -0.000692715591, 0.00023184054, 0.00213270295, 0.00116554595 } },
    {
      { 0.000798414107, -0.00129252157, 0.000825854555, -0.000643952305, 0.00175860592 },
      { 0.000618456893, -0.00123346292, 0.000911289544, -0.000643952305, 0.00175860592 } },
};

} // namespace tl::sim
