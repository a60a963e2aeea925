#pragma once
// Timing for the benchmarks.
#include <QElapsedTimer>

#include <algorithm>
#include <functional>
#include <vector>

// Median of several runs of work, in milliseconds.
inline double medianMs(int runs, const std::function<void()> &work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        times.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}
