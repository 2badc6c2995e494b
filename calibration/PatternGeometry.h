#pragma once

// Geometry of the auto-calibration pattern shared by the calibration window,
// which draws it, and pattern recognition, which looks for it: the sizes of
// its dots and markers, the distance of its outer points from the window edge,
// which element goes where for each mounting, and the cells of the markers.

namespace tl {

constexpr int kPatternPoints = 20;   // 4 rows x 5 columns
constexpr int kPatternRows = 4;
constexpr int kPatternColumns = 5;
constexpr int kMarkerGrid = 6;       // a marker is 6 x 6 cells, the outer ring black

// Dot radius R (large dots) and S (small dots) for a window of w x h pixels:
// R = max(round(w*50/1280), round(h*50/800)), S the same with 40.
void patternCircleRadius(int w, int h, int &R, int &S);

// Distance of the outer pattern points (or manual targets) from the window
// edge. `bAuto` false with 25 manual targets gives the narrow manual margin.
double patternMargin(int w, int h, bool bAuto, int mcPointCount);

// True for the pattern elements drawn as markers (6, 7, 8, 11, 12, 13, 16, 17,
// 18); the marker's ID is its element number.
bool isMarkerIndex(int k);

// Element drawn at screen position (row a from the top, column b from the
// left) for the mounting: ceiling turns the pattern by 180 degrees, rear
// mirrors it left to right, so the camera always sees element 5*row + column.
int patternElement(int a, int b, bool ceiling, bool rear);

// Screen position (5 * row + column) at which element k is drawn for the
// mounting; -1 for k outside the pattern.
int patternPositionOf(int k, bool ceiling, bool rear);

// First pixel (left or top) of a marker's cell grid drawn around the integer
// centre `centre` with cells of m pixels: the grid covers centre - 3m ..
// centre + 3m - 1, so its middle lies half a pixel before the centre.
int markerCellOrigin(int centre, int m);

// The window point to pair with pattern element k: the middle of the element
// as the window draws it (the dot's centre, the middle of the marker's cell
// grid), with the window's positions `positions` (row-major, 20), in the
// frame the fit works in: turned (ceiling) or mirrored (rear) about the
// window's pixel centres (x -> w - 1 - x, y -> h - 1 - y), as the module
// brings its points back. (-1, -1) for k outside the pattern.
void patternDrawnPoint(const float *positionsXY, int k, int w, int h, bool ceiling, bool rear, double *x,
                       double *y);

// Cell (row i, column j) of marker `id` on a 6 x 6 grid: true = black.
// The outer ring is always black. False for an id that is not a marker.
bool markerCellBlack(int id, int i, int j);

} // namespace tl
