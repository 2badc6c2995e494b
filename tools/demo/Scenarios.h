#pragma once

#include "DemoOptions.h"

#include <QString>
#include <QTextStream>

class Corvane;

namespace tl {
class RecordingBackend;
}
namespace tl::sim {
class EmulatedBus;
}

// Each scenario prints "name: value" lines and returns an empty text on success,
// or the reason it failed.
QString runConnect(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &bus, QTextStream &out);
QString runTransfer(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &bus, QTextStream &out);
// A pen stroke across the whole board and a two-finger spread, first with raw
// positions (the companion registered with its flag set), then smoothed; injected contacts are checked against the strokes.
// `companion` is the window of a companion application that is on screen.
// Auto-calibration eyes: the calibration window on module 0's display, the
// module's synthetic camera photographs black, white and the pattern on
// command, the three images come over the bus, the pattern is found and
// checked against the camera's ground truth.
QString runPattern(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &bus, QTextStream &out);
QString runTrack(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &bus,
                 tl::RecordingBackend &backend, quintptr companion, QTextStream &out);
// Auto or manual calibration started as from the tray on every module, then a
// grid of pen taps on each display through the modules' own mapping, tracking
// and injection; the pointing error against the true pen positions.
QString runCalibrate(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &bus,
                     tl::RecordingBackend *backend, QTextStream &out);
