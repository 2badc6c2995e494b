#pragma once

// cv::parallel_for_ with hand-overs a race detector can see.
//
// OpenCV runs the stripes of a range on its own worker threads (TBB here),
// which are not built with ThreadSanitizer: it sees neither how the calling
// thread's writes reach a worker nor how a worker's results come back when
// parallel_for_ returns, and reports every such access as a race. The body
// runs here behind two atomics of our own: the caller publishes before the
// workers start and collects after they have all finished. They add nothing
// to the ordering OpenCV already gives (a few atomic operations per call);
// they only make it visible, so that what the detector still reports between
// a body and its caller, or between two stripes, is ours.
#include <opencv2/core/utility.hpp>

#include <atomic>

namespace tl {

template <class Body>
void parallelFor(const cv::Range &range, Body body)
{
    class Visible : public cv::ParallelLoopBody
    {
    public:
        explicit Visible(Body &b) : m_body(b) {}
        void operator()(const cv::Range &stripe) const override
        {
            m_published.load(std::memory_order_acquire);
            m_body(stripe);
            m_finished.fetch_add(1, std::memory_order_acq_rel);
        }
        void publish() { m_published.store(1, std::memory_order_release); }
        void collect() const { m_finished.load(std::memory_order_acquire); }

    private:
        Body &m_body;
        mutable std::atomic<int> m_published{0};
        mutable std::atomic<int> m_finished{0};
    };
    Visible visible(body);
    visible.publish();
    cv::parallel_for_(range, visible);
    visible.collect();
}

} // namespace tl
