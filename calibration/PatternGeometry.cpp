#include "calibration/PatternGeometry.h"

#include "input/NqUtils.h"

#include <cmath>

namespace tl {

namespace {

// Inner 4 x 4 cells of each marker, rows top to bottom, most significant bit
// = left cell, 1 = black. They are the inverted 16-bit codes of the same IDs
// of the TAG16h5 family (a code bit 1 is a white cell).
struct MarkerBits
{
    int id;
    unsigned char rows[4];
};

constexpr MarkerBits kMarkers[] = {
    { 6, { 0x4, 0xC, 0xA, 0x7 } },
    { 7, { 0x1, 0x8, 0xB, 0xA } },
    { 8, { 0x0, 0x1, 0xA, 0x6 } },
    { 11, { 0x0, 0xF, 0x5, 0x4 } },
    { 12, { 0xF, 0x2, 0x7, 0xB } },
    { 13, { 0xB, 0x8, 0xC, 0x9 } },
    { 16, { 0xF, 0x6, 0xC, 0x3 } },
    { 17, { 0x6, 0xC, 0x4, 0xB } },
    { 18, { 0x5, 0xA, 0xF, 0xC } },
};

} // namespace

void patternCircleRadius(int w, int h, int &R, int &S)
{
    NqUtils::getTargetSize(w, h, R, S);
}

double patternMargin(int w, int h, bool bAuto, int mcPointCount)
{
    return NqUtils::getTargetSpacing(w, h, bAuto, mcPointCount);
}

bool isMarkerIndex(int k)
{
    switch (k) {
    case 6: case 7: case 8: case 11: case 12: case 13: case 16: case 17: case 18:
        return true;
    default:
        return false;
    }
}

int patternElement(int a, int b, bool ceiling, bool rear)
{
    if (!ceiling)
        return rear ? 5 * a + 4 - b : 5 * a + b;
    return rear ? 15 - 5 * a + b : 19 - 5 * a - b;
}

int patternPositionOf(int k, bool ceiling, bool rear)
{
    for (int q = 0; q < kPatternPoints; ++q)
        if (patternElement(q / kPatternColumns, q % kPatternColumns, ceiling, rear) == k)
            return q;
    return -1;
}

int markerCellOrigin(int centre, int m)
{
    return centre - (kMarkerGrid / 2) * m;
}

void patternDrawnPoint(const float *positionsXY, int k, int w, int h, bool ceiling, bool rear, double *x,
                       double *y)
{
    *x = -1;
    *y = -1;
    const int q = patternPositionOf(k, ceiling, rear);
    if (q < 0)
        return;
    // The window draws around the rounded position (halves upward).
    const int cx = static_cast<int>(std::floor(positionsXY[2 * q] + 0.5));
    const int cy = static_cast<int>(std::floor(positionsXY[2 * q + 1] + 0.5));
    double mx = cx, my = cy;
    if (isMarkerIndex(k)) {
        // Pixels markerCellOrigin(c, m) .. c + 3m - 1 whatever the cell size:
        // the middle is c - 1/2.
        mx -= 0.5;
        my -= 0.5;
    }
    if (ceiling) {
        mx = (w - 1) - mx;
        my = (h - 1) - my;
    }
    if (rear)
        mx = (w - 1) - mx;
    *x = mx;
    *y = my;
}

bool markerCellBlack(int id, int i, int j)
{
    for (const MarkerBits &m : kMarkers) {
        if (m.id != id)
            continue;
        if (i < 0 || i >= kMarkerGrid || j < 0 || j >= kMarkerGrid)
            return false;
        if (i == 0 || j == 0 || i == kMarkerGrid - 1 || j == kMarkerGrid - 1)
            return true;
        return (m.rows[i - 1] >> (4 - j)) & 1;
    }
    return false;
}

} // namespace tl
