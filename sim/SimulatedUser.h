#pragma once

#include <opencv2/core.hpp>

#include <QImage>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace tl::sim {

// What the display a module watches shows right now: the projector's light, as
// an image of the window the module is calibrated against (any size; it is
// scaled to the camera's display size). The module calls it when it takes a
// picture and when its simulated user looks at the board, on the thread of the
// host call that made it do so, with the module's lock held: it must not call
// back into the module and must not wait for a thread that may be talking to
// the module. A lambda painting a QImage is fine; for a widget, grab it on the
// GUI thread into a ProjectedDisplay and hand out its current() here.
// The person tells a new view of the board by a new image (QImage::cacheKey()):
// the same image handed out again is a board not repainted since. A mark is
// taken to stand still once several new views show it in one place, or when
// the picture has not changed at all for seconds; a display that is lit all
// the time hands out a new image (a copy) on each call.
using DisplaySource = std::function<QImage()>;

// The latest picture of a display, handed from the GUI thread (which grabs the
// window whenever it has painted) to the module threads that photograph it.
class ProjectedDisplay
{
public:
    void update(const QImage &image)
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_image = image.copy();
    }
    QImage current() const
    {
        std::lock_guard<std::mutex> lk(m_mutex);
        return m_image;
    }
    DisplaySource source() const
    {
        return [this] { return current(); };
    }

private:
    mutable std::mutex m_mutex;
    QImage m_image;
};

// Window positions of the pens on the board in report cycle `cycle` (window
// pixels of the display the module watches; empty: nothing touches).
using WindowPen = std::function<std::vector<cv::Point2d>(uint64_t cycle)>;

// A pen that goes down at `from`, moves in a straight line to `to` over
// `cycles` reports and lifts.
WindowPen windowStroke(cv::Point2d from, cv::Point2d to, int cycles);
// One pen held at each point in turn for `hold` reports, with `gap` reports
// of nothing between them; then nothing.
WindowPen windowTaps(std::vector<cv::Point2d> points, int hold, int gap);

// The person at the board during manual calibration.
struct UserSetup
{
    double sigma = 2.0;       // error of each touch, window pixels (normal, per axis)
    uint64_t seed = 1;
    int lookMs = 100;         // how often the person looks at the board
    // A person holds the pen until the window answers the touch (the ring drawn
    // around the mark comes and goes, the mark moves on or goes away). Someone
    // whose touch is never answered gives up after this long.
    int maxHoldMs = 60000;
};

// Where the target mark is on a displayed calibration window: the centre of
// its red dot, the one compact red spot of the picture (window pixels, pixel
// (i, j) centred at (i, j)). Nothing when no such spot is shown.
std::optional<cv::Point2d> findTargetMark(const QImage &display);

// Whether the mark centred at `mark` (picture pixels) is circled by red: the
// calibration window draws rings around the mark while it takes a touch.
// The mark alone (a red dot on grey) is not.
bool markRingShown(const QImage &display, cv::Point2d mark);

// A picture as 32-bit RGB, converted pixel by pixel on the calling thread.
// QImage's own conversion of a large picture waits for Qt's global thread pool,
// which the host's receive loops may fill while they wait for this module: a
// module must never convert through it.
QImage toRgb32(const QImage &display);

} // namespace tl::sim
