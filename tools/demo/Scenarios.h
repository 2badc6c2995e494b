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
// positions, then smoothed; injected contacts are checked against the strokes.
QString runTrack(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &bus,
                 tl::RecordingBackend &backend, QTextStream &out);
