#pragma once

namespace tl {

// Compressed time paced by wall time: driver time runs `factor` times as fast
// as wall time throughout, as if the work of every thread took `factor` times
// as long. For a test of what a time limit on work does. Waits then no longer
// wait for the threads they depend on; Clock::setCompression (or
// setCompression(1)) goes back to the clock's own pace.
void setWallPacedCompression(double factor);

} // namespace tl
