#pragma once

#include <QList>
#include <QRect>

// Display questions of the driver: the monitors in left-to-right order with
// inclusive edges, the monitor of an index, calibration target sizes, and the
// scale of a monitor's logical resolution. No state is kept between calls.
namespace NqUtils {

// The two leftmost monitors; with one monitor the second rectangle is null.
void getWindowRect(QRect rects[2]);

// Every monitor, left to right (cleared first).
void getWindowRectAll(QList<QRect> &rects);

// The monitor at index n of the left-to-right list; with one monitor that one;
// for an index outside the list the primary monitor (the window system's
// primary; in a list without one, the monitor at (0, 0), else the first). Null
// when there is no monitor at all.
void getMonitorRect(QRect &rect, int n);

// Index of the primary monitor in the left-to-right list (see getMonitorRect),
// 0 when there is none.
int primaryMonitorIndex();

// Target sizes A and B of the calibration display for a screen of w x h.
void getTargetSize(int w, int h, int &sizeA, int &sizeB);

// Spacing of the calibration targets from the screen edge. `mcPointCount` is the
// device layer's manual calibration point count.
double getTargetSpacing(int w, int h, bool flag, int mcPointCount);

// Logical DPI / 96 of the monitor whose geometry has exactly these edges
// (inclusive), 1.0 when none has.
double getMonitorScale(int left, int top, int right, int bottom);

} // namespace NqUtils
