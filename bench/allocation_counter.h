// Heap allocation counting for benchmark programs: linking allocation_counter.cc into a program
// replaces its global operator new and delete with ones that count every allocation.
#pragma once

#include <cstdint>

namespace qn::bench {

// Allocations made by the whole process since it started (every thread).
uint64_t allocations_so_far();

}  // namespace qn::bench
