// SPDX-License-Identifier: MIT
#include "stats.h"

#include <QElapsedTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>

double threadCpuMs()
{
    rusage usage {};
    getrusage(RUSAGE_THREAD, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t rank = size_t(std::ceil(p * double(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

double medianMicros(int rounds, const std::function<void()> &work)
{
    std::vector<double> times;
    times.reserve(size_t(rounds));
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(double(timer.nsecsElapsed()) / 1000.0);
    }
    return median(std::move(times));
}
