#pragma once

#include "DemoOptions.h"

#include <QString>
#include <QTextStream>

#include <functional>
#include <memory>

class Corvane;

namespace tl {
class RecordingBackend;
}
namespace tl::sim {
class EmulatedBus;
class OutputGrab;
}

// What the camera of module `module` photographs in a window session: the
// output it watches, as the window system shows it. Null (headless runs): the
// scenarios photograph the calibration window's own painting.
void setWatchedOutput(int module, std::shared_ptr<tl::sim::OutputGrab> grab);
std::shared_ptr<tl::sim::OutputGrab> watchedOutput(int module);

// Runs the event loop, polling every `pollMs` of driver time, until `done`
// holds (true) or `driverMs` of driver time pass (false).
bool spinUntil(const std::function<bool()> &done, int driverMs, int pollMs = 10);

// Each scenario prints "name: value" lines and returns an empty text on success,
// or the reason it failed.
QString runConnect(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &bus, QTextStream &out);
QString runTransfer(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &bus, QTextStream &out);
// A pen stroke across the whole board and a two-finger spread, first with raw
// positions (the companion registered with its flag set), then smoothed; injected contacts are checked against the strokes.
// `companion` is the window of a companion application that is on screen.
// The alignment view: live frames of every module with the frame path's figures;
// with one module a mask stroke that is uploaded and compared with what the module stored.
QString runAlign(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &bus, QTextStream &out);
// Auto-calibration eyes: the calibration window on module 0's display, the
// module's synthetic camera photographs black, white and the pattern on
// command, the three images come over the bus, the pattern is found and
// checked against the camera's ground truth.
QString runPattern(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &bus, QTextStream &out);
QString runTrack(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &bus,
                 tl::RecordingBackend &backend, quintptr companion, QTextStream &out);
// The dialogs a user meets first, through the tray as a user reaches them:
// reports which dialog is visible after each step ("dialog.<step>: <name>").
QString runDialogs(const DemoOptions &opt, Corvane &driver, QTextStream &out);
// The engineer dialog of module 0, opened through the main window's slot as
// the driver opens it; reports where it is shown ("engineer.window"), then OK.
QString runEngineer(const DemoOptions &opt, Corvane &driver, QTextStream &out);
// Auto or manual calibration started as from the tray on every module, then a
// grid of pen taps on each display through the modules' own mapping, tracking
// and injection; the pointing error against the true pen positions.
QString runCalibrate(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &bus,
                     tl::RecordingBackend *backend, QTextStream &out);
