#pragma once
// Linked into a test program, FailingAllocation.cpp replaces operator new:
// it fails the Nth allocation from when it is told, on any thread, but for
// what a read-back reader's end asks, which blocks it held back serve.
#include <cstdint>

namespace testsupport::allocation {

// From now on, the `n`th allocation fails, once; 0: none.
void failNth(std::uint64_t n);
// Whether the allocation failNth named was reached.
bool reached();

} // namespace testsupport::allocation
