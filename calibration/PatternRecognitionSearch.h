#pragma once

// What the steps of the pattern search share: the captures' size and check,
// rounding, and the loop over threshold levels. Only the search's own files
// include this.

#include "platform/Clock.h"
#include "platform/ParallelFor.h"

#include <QDebug>
#include <QString>
#include <QtGlobal>

#include <opencv2/core.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace tl::pattern_search {

constexpr int kCaptureWidth = 1280;
constexpr int kCaptureHeight = 720;

inline int roundHalfUp(double v)
{
    return static_cast<int>(std::floor(v + 0.5));
}

inline bool isCapture(const cv::Mat &m)
{
    return !m.empty() && m.type() == CV_8UC1 && m.dims == 2;
}

// Runs `detect` at each threshold level and hands each level's result to
// `take` in level order. With `parallel`, a batch of levels (one per OpenCV
// thread) is detected at once; the results are taken in the same order, and
// the CPU time the levels spend on threads other than the caller's is added
// to `workerCpuNs`. Stops after the level at which more than `limitMs` of
// clock time have passed.
template <typename Detect, typename Take>
void overThresholds(const std::vector<int> &levels, bool parallel, int limitMs, std::atomic<qint64> &workerCpuNs,
                    Detect detect, Take take)
{
    using Result = decltype(detect(0));
    const qint64 start = Clock::nowMs();
    const int batch = parallel ? std::max(1, cv::getNumThreads()) : 1;
    const std::thread::id caller = std::this_thread::get_id();
    for (size_t first = 0; first < levels.size(); first += batch) {
        const size_t n = std::min(levels.size() - first, static_cast<size_t>(batch));
        std::vector<Result> found(n);
        if (n > 1) {
            parallelFor(cv::Range(0, static_cast<int>(n)), [&](const cv::Range &r) {
                // The caller's own share is in the caller's thread time.
                const bool worker = std::this_thread::get_id() != caller;
                const qint64 cpuStart = worker ? threadCpuNs() : 0;
                for (int i = r.start; i < r.end; ++i)
                    found[i] = detect(levels[first + i]);
                if (worker)
                    workerCpuNs += threadCpuNs() - cpuStart;
            });
        } else {
            found[0] = detect(levels[first]);
        }
        for (size_t i = 0; i < n; ++i) {
            take(levels[first + i], found[i]);
            const qint64 elapsed = Clock::nowMs() - start;
            if (elapsed > limitMs) {
                qDebug().noquote() << QString::asprintf("timeout: %d", static_cast<int>(elapsed));
                return;
            }
        }
    }
}

} // namespace tl::pattern_search
