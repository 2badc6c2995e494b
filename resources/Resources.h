#pragma once

namespace tl {
// Registers the embedded resources (":/Corvane/", ":/Language/"). Resources compiled
// into a static library are only registered when something calls this.
void initResources();
}
