#pragma once

#include <QString>

#include <algorithm>
#include <cmath>
#include <vector>

// Error figures the demo scenarios report: RMS, 95th percentile and largest of
// a list of distances, printed with a fixed number of decimals.
namespace demo {

struct Stats
{
    double rms = 0, p95 = 0, max = 0;
    int n = 0;
};

inline Stats stats(std::vector<double> e)
{
    Stats s;
    s.n = static_cast<int>(e.size());
    if (e.empty())
        return s;
    double sq = 0;
    for (double v : e)
        sq += v * v;
    s.rms = std::sqrt(sq / e.size());
    std::sort(e.begin(), e.end());
    s.max = e.back();
    s.p95 = e[std::min(e.size() - 1, static_cast<size_t>(std::ceil(0.95 * e.size())) - 1)];
    return s;
}

inline QString num(double v, int decimals = 3)
{
    return QString::number(v, 'f', decimals);
}

} // namespace demo
