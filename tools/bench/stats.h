// SPDX-License-Identifier: MIT
#ifndef STATS_H
#define STATS_H

#include <functional>
#include <vector>

// CPU time used so far by the calling thread, in milliseconds. All of the
// viewer's work happens on the GUI thread, and so does the kernel's copy of
// received bytes, which is charged to the reading thread.
double threadCpuMs();

double median(std::vector<double> values);

// Wall time of work, median of rounds runs, in microseconds.
double medianMicros(int rounds, const std::function<void()> &work);

// Nearest rank: the smallest value with at least p (0 to 1) of the samples
// at or below it.
double percentile(std::vector<double> values, double p);

// The median of one field over a list of records.
template<typename Record, typename Field>
double medianOf(const std::vector<Record> &records, Field Record::*field)
{
    std::vector<double> values;
    values.reserve(records.size());
    for (const Record &record : records)
        values.push_back(double(record.*field));
    return median(std::move(values));
}

#endif // STATS_H
