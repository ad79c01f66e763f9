// SPDX-License-Identifier: MIT
#include "allocationcounter.h"

#include <atomic>
#include <cstddef>

// Qt's containers allocate with malloc and libstdc++'s operator new ends in
// malloc too, so counting at malloc sees every heap allocation in the process.
// The definitions below take the place of the C library's for the whole
// program, shared libraries included, and hand the work to its allocator.

extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *pointer, std::size_t size);
}

namespace {

std::atomic<long long> allocations {0};

} // namespace

extern "C" void *malloc(std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}

extern "C" void *calloc(std::size_t count, std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}

extern "C" void *realloc(void *pointer, std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(pointer, size);
}

long long allocationCount()
{
    return allocations.load(std::memory_order_relaxed);
}
