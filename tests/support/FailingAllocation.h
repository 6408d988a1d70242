#pragma once
// A test program that links FailingAllocation.cpp replaces the C++
// allocation functions with ones that count, and can be told to fail the
// Nth allocation from now on (std::bad_alloc, or null for the nothrow
// forms), on whichever thread it falls: so a test makes each single
// allocation of a piece of work fail in turn. What a read-back reader's
// destruction asks for, which the blocks it held back serve, never fails.
#include <cstdint>

namespace testsupport::allocation {

// From now on, the `n`th allocation (1 the next one) fails, once; 0: none.
void failNth(std::uint64_t n);
// Whether the allocation failNth named was reached (and failed).
bool failed();
// Allocations counted since failNth.
std::uint64_t counted();

// Fails the `n`th allocation while it lives, then stops counting.
class FailingNth {
public:
    explicit FailingNth(std::uint64_t n) { failNth(n); }
    ~FailingNth() { failNth(0); }
    FailingNth(const FailingNth&) = delete;
    FailingNth& operator=(const FailingNth&) = delete;
};

} // namespace testsupport::allocation
