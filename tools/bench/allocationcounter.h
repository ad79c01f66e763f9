// SPDX-License-Identifier: MIT
#ifndef ALLOCATIONCOUNTER_H
#define ALLOCATIONCOUNTER_H

// Heap allocations made so far by the whole process (malloc, calloc and
// realloc calls, which operator new and Qt's containers end in). Only
// meaningful in a program that links allocationcounter.cpp.
long long allocationCount();

#endif // ALLOCATIONCOUNTER_H
