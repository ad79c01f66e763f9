// SPDX-License-Identifier: MIT
#ifndef STREAMROWS_H
#define STREAMROWS_H

#include <QString>

class Table;

// Rows from the stream benchmark's JSON output (Google Benchmark's format):
// the recogniser's speed against memcpy, the cost of a frame end, and its
// heap allocations, each with the view's copy of a frame taken out.
void addStreamRows(Table &table, const QString &jsonPath);

#endif // STREAMROWS_H
