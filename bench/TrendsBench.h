// Shared pieces of the Trends benchmark: CPU time and a summary of runs.
#pragma once

#include "SampleStore.h"

#include <algorithm>
#include <ctime>
#include <functional>
#include <vector>

struct Cost {
    double mean = 0;
    double p95 = 0;
};

inline double CpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

inline Cost Summarise(std::vector<double> runs)
{
    Cost c;
    if (runs.empty())
        return c;
    for (double r : runs)
        c.mean += r;
    c.mean /= double(runs.size());
    std::sort(runs.begin(), runs.end());
    c.p95 = runs[std::min(runs.size() - 1, runs.size() * 95 / 100)];
    return c;
}

#ifdef BENCH_WITH_QTCHARTS
// The same four charts drawn with Qt Charts from the same envelopes: CPU per
// appended sample (`append` adds one), "All" or the last 10 min.
Cost QtChartsCost(const bms::trends::SampleStore& store, bool all, int runs, const std::function<void()>& append);
#endif
