#pragma once

#include <QtGlobal>
#include <atomic>

namespace tl {

// The one clock of the process. Every wait of the driver (sleeps between device
// commands, read time-outs, resend intervals) goes through it. A wait's value is
// always the real protocol value; tests may only compress how long it takes.
class Clock
{
public:
    // Blocks the calling thread for ms milliseconds of driver time.
    static void sleepMs(int ms);

    // The driver time the calling thread has asked to sleep through sleepMs so
    // far: what a sequence of steps waits, whatever the scheduler does.
    static qint64 sleptMs();

    // Driver time in milliseconds since an arbitrary start. Advances `factor`
    // times faster than wall time when time is compressed.
    static qint64 nowMs();

    // Converts a driver-time time-out to the wall-time milliseconds a blocking
    // call (a USB read, a condition wait) should be given. Never returns less
    // than 1 for a positive value.
    static int wallMs(int ms);

    // 1 = real time. A factor of 20 makes a 200 ms wait take 10 ms.
    static void setCompression(double factor);
    static double compression();

private:
    static std::atomic<double> s_factor;
};

} // namespace tl
