#pragma once

// Written by pen-identify (tools/accuracy/PenIdentify.cpp); do not edit. Made with
//   build/bin/pen-identify --seeds 8 --display 1920x1080 --out sim/PenLightData.h
// from the emulator's cameras of seeds 1..8 and the product's tweak tables. Per table: the
// light (lift, along x, along y: shares of the display width); the table's RMS and largest
// offset; what the light leaves unexplained (RMS, largest); what a plane leaves (camera px).
//   lens 1 (other codes), pen 0       0.002133 -0.000575 -0.000187 |   1.64   2.67 |   0.69   1.46 |   0.60   1.19
//   lens 1 (other codes), pen 1       0.002133 -0.000575 -0.000187 |   1.64   2.67 |   0.69   1.46 |   0.60   1.19
//   lens 2, pen 0                     0.004638 -0.000754 -0.000645 |   1.98   3.91 |   0.62   1.52 |   0.46   1.01
//   lens 2, pen 1                     0.003488 -0.000500 -0.000900 |   1.70   3.77 |   1.03   2.17 |   0.84   1.76
//   lens 3 fwParam >= 10, pen 0       0.000847 -0.000844 -0.000674 |   1.38   2.85 |   0.74   1.85 |   0.42   0.93
//   lens 3 fwParam >= 10, pen 1       0.000906 -0.000844 -0.000540 |   1.37   2.85 |   0.72   1.87 |   0.38   0.93

#include "sim/PenLight.h"

namespace tl::sim {

// Lens family 1, 2, 3 (rows) x pen type 0, 1: lift, along x, along y.
inline constexpr PenLight kPenLightTable[3][kPenTypes] = {
    { { 0.00213324156, -0.000575015093, -0.000186752117 }, { 0.00213324156, -0.000575015093, -0.000186752117 } },
    { { 0.00463845326, -0.00075391496, -0.000645222667 }, { 0.0034878146, -0.000500234642, -0.000900452628 } },
    { { 0.000846643264, -0.000844137821, -0.00067415326 }, { 0.000905764369, -0.000844359441, -0.000539744319 } },
};

} // namespace tl::sim
