#pragma once

#include "DemoOptions.h"

#include <QString>
#include <QTextStream>

class Corvane;

namespace tl::sim {
class EmulatedBus;
}

// Each scenario prints "name: value" lines and returns an empty text on success,
// or the reason it failed.
QString runConnect(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &bus, QTextStream &out);
QString runTransfer(const DemoOptions &opt, Corvane &driver, tl::sim::EmulatedBus &bus, QTextStream &out);
