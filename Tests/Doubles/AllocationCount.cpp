#include "AllocationCount.h"

namespace Qx::Testing {

namespace {

thread_local bool t_counting = false;
thread_local int t_uncountedDepth = 0;
thread_local std::size_t t_allocations = 0;

} // namespace

void NoteAllocation() noexcept
{
    if (t_counting && t_uncountedDepth == 0) {
        ++t_allocations;
    }
}

AllocationCount::AllocationCount() noexcept : m_before(t_allocations), m_wasCounting(t_counting)
{
    t_counting = true;
}

AllocationCount::~AllocationCount()
{
    t_counting = m_wasCounting;
}

std::size_t AllocationCount::Allocations() const noexcept
{
    return t_allocations - m_before;
}

UncountedAllocations::UncountedAllocations() noexcept
{
    ++t_uncountedDepth;
}

UncountedAllocations::~UncountedAllocations()
{
    --t_uncountedDepth;
}

} // namespace Qx::Testing
