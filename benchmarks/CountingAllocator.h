#pragma once
// Counts the heap allocations of the whole program (operator new replaced),
// for benchmarks that must show a path allocates nothing.
#include <cstdint>

uint64_t AllocationCount();
