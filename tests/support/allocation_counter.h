#pragma once

namespace planexor::testing {

// How many times this program has called operator new so far, so that a test
// can prove a loop allocates nothing. Counted only in programs that link
// allocation_counter.cpp; a sanitizer build keeps its own allocator and counts
// nothing (the value never changes there).
long allocationCount();

}  // namespace planexor::testing
