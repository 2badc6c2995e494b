#include "calibration/PatternRecognition.h"

#include "calibration/PatternRecognitionSearch.h"

#include <QDebug>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdlib>

#include <time.h>

// The threshold levels a search works at, taken from the working image's
// histogram, and the clock the levels' CPU time is read from.

namespace tl {

using namespace pattern_search;

qint64 threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<qint64>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

std::vector<int> PatternFinder::makeThresholdList(const cv::Mat &image)
{
    std::vector<int> list;
    if (!isCapture(image))
        return list;
    cv::Mat hist;
    const int histSize = 255;
    const float range[] = { 0, 255 };
    const float *ranges[] = { range };
    const int channels[] = { 0 };
    cv::calcHist(&image, 1, channels, cv::Mat(), hist, 1, &histSize, ranges);
    auto count = [&hist](int i) { return static_cast<int>(hist.at<float>(i)); };

    const int minCount = image.cols / 10;
    std::vector<int> candidates;
    for (int i = 1; i <= 254; ++i)
        if (count(i) > minCount)
            candidates.push_back(i);
    if (candidates.size() <= 20)
        return candidates;

    struct Bin
    {
        int value;
        int count;
    };
    std::vector<Bin> sorted;
    for (int i = 1; i <= 254; ++i)
        sorted.push_back({ i, count(i) });
    // The exchange sort fixes the order of bins with equal counts, which
    // decides which of two close levels step 2 keeps.
    for (size_t i = 0; i + 1 < sorted.size(); ++i)
        for (size_t j = i + 1; j < sorted.size(); ++j)
            if (sorted[i].count < sorted[j].count)
                std::swap(sorted[i], sorted[j]);
    const int level = (sorted[19].count + sorted[20].count) / 2;
    qDebug() << "top 20 threshold =" << sorted[19].count << sorted[20].count << level;

    int lo = -1, hi = -1;
    for (int i = 1; i <= 254; ++i) {
        if (count(i) >= level) {
            if (lo < 0)
                lo = i;
            hi = i;
        }
    }
    candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                    [lo, hi](int v) { return v < lo || v > hi; }),
                     candidates.end());
    qDebug() << "after step 1:" << static_cast<int>(candidates.size());
    for (int v : candidates)
        qDebug() << v;

    for (const Bin &b : sorted) {
        if (std::find(candidates.begin(), candidates.end(), b.value) == candidates.end())
            continue;
        bool near = false;
        for (int taken : list)
            near = near || std::abs(taken - b.value) < 5;
        if (!near)
            list.push_back(b.value);
    }
    qDebug() << "after step 2:" << static_cast<int>(list.size());
    for (int v : list)
        qDebug() << v;
    return list;
}

} // namespace tl
