#pragma once
// Counts the allocations of the whole test program through a replaced global operator new,
// so that a test can show that code under test allocates nothing. Any thread may read it.
#include <cstddef>

namespace tunewick::testing {

// Allocations made by operator new since the program started.
std::size_t allocationCount();

}  // namespace tunewick::testing
