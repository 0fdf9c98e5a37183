// Win32Threads: what a thread started through the platform layer leaves behind when it ends.
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "Platform/Api/Platform.h"

namespace {

using namespace Qx::Platform;

constexpr std::size_t kPage = 0x1000;
constexpr std::size_t kTouchedStack = std::size_t{256} * 1024;

struct TouchedRange {
    std::uintptr_t low = 0;
    std::uintptr_t high = 0;
};

// Writes every page of a large block on its own stack, as a thread deep in its work would.
std::uint32_t TouchStack(void* argument)
{
    std::array<volatile char, kTouchedStack> block;
    for (std::size_t offset = 0; offset < block.size(); offset += kPage) {
        block[offset] = 1;
    }
    auto& range = *static_cast<TouchedRange*>(argument);
    range.low = reinterpret_cast<std::uintptr_t>(&block.front());
    range.high = reinterpret_cast<std::uintptr_t>(&block.back());
    return 0;
}

std::size_t ResidentPages(std::uintptr_t low, std::uintptr_t high)
{
    std::size_t resident = 0;
    for (std::uintptr_t page = low & ~(kPage - 1); page < high; page += kPage) {
        PSAPI_WORKING_SET_EX_INFORMATION info{};
        info.VirtualAddress = reinterpret_cast<void*>(page);
        EXPECT_TRUE(QueryWorkingSetEx(GetCurrentProcess(), &info, sizeof(info))) << GetLastError();
        resident += info.VirtualAttributes.Valid;
    }
    return resident;
}

// Windows frees an ended thread's stack; Wine keeps it until another thread ends, so the pages must
// have been handed back before the thread ended. The upper half of the block lies close below the
// thread start's own frame, which keeps a margin.
TEST(Win32Threads, AnEndedThreadLeavesNoneOfTheStackItUsedResident)
{
    TouchedRange range;
    Thread thread;
    ASSERT_EQ(0u, Threads().CreateThread(&TouchStack, &range, thread, nullptr));
    ASSERT_EQ(kWaitObject0, Threads().Wait(thread.get(), 10000));
    ASSERT_LT(range.low, range.high);
    EXPECT_EQ(0u, ResidentPages(range.low, range.low + kTouchedStack / 2));
}

} // namespace
