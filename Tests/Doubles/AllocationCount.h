// Counting the calling thread's heap allocations, for tests of code that must not allocate.
//
// A test executable that wants the count replaces the global operator new with one that calls
// NoteAllocation(); the doubles wrap their own bookkeeping in an UncountedAllocations scope, so
// that only what the code under test allocates is counted.
#pragma once

#include <cstddef>

namespace Qx::Testing {

// Called by the replaced operator new.
void NoteAllocation() noexcept;

// Counts this thread's allocations from construction on.
class AllocationCount {
public:
    AllocationCount() noexcept;
    AllocationCount(const AllocationCount&) = delete;
    AllocationCount& operator=(const AllocationCount&) = delete;
    ~AllocationCount();

    [[nodiscard]] std::size_t Allocations() const noexcept;

private:
    std::size_t m_before;
    bool m_wasCounting;
};

// What this thread allocates while the scope lives is not counted.
class UncountedAllocations {
public:
    UncountedAllocations() noexcept;
    UncountedAllocations(const UncountedAllocations&) = delete;
    UncountedAllocations& operator=(const UncountedAllocations&) = delete;
    ~UncountedAllocations();
};

} // namespace Qx::Testing
