// Many start and stop cycles of one service with three test modules: every cycle starts, runs, stops
// and ends its process cleanly, leaves no WatchDogGuard key behind, and the host holds no more
// handles at RUNNING in the last cycles than in the first. QX_SOAK_CYCLES sets the number of cycles.
#include "ProcessHandles.h"
#include "ServiceHarness.h"

#include <algorithm>
#include <cwchar>
#include <iostream>
#include <iterator>

using namespace Qx::Testing;

namespace {

constexpr DWORD kDefaultCycles = 50;
constexpr DWORD kDisplayNameMessage = 7;

// The handle counts of the first and of the last kWindow cycles are compared; with fewer than two
// windows of cycles the two would overlap.
constexpr std::size_t kWindow = 10;
constexpr DWORD kMinimumCycles = 2 * kWindow;

constexpr const wchar_t* kModules = L"QxTestModuleA.dll;QxTestModuleB.dll;QxTestModuleC.dll";

// QX_SOAK_CYCLES: decimal digits only; nullopt when it is set to anything else.
std::optional<DWORD> CyclesFromEnvironment()
{
    wchar_t text[16] = {};
    const DWORD length = GetEnvironmentVariableW(L"QX_SOAK_CYCLES", text, static_cast<DWORD>(std::size(text)));
    if (length == 0) {
        return kDefaultCycles;
    }
    if (length >= std::size(text) || !Qx::Testing::IsNumber(ToUtf8(text))) {
        return std::nullopt;
    }
    return static_cast<DWORD>(std::wcstoul(text, nullptr, 10));
}

// The trace file collects the lines of every cycle; these are the lines of one host process.
std::vector<TraceLine> TraceOf(const std::vector<TraceLine>& trace, DWORD processId)
{
    std::vector<TraceLine> lines;
    std::copy_if(trace.begin(), trace.end(), std::back_inserter(lines),
                 [&](const TraceLine& line) { return line.processId == processId; });
    return lines;
}

std::size_t Median(std::vector<std::size_t> counts)
{
    const auto middle = counts.begin() + static_cast<std::ptrdiff_t>(counts.size() / 2);
    std::nth_element(counts.begin(), middle, counts.end());
    return *middle;
}

class ServiceSoak : public ServiceTest {
protected:
    // One start and stop; the host's handle count at RUNNING goes to m_handleCounts.
    void RunCycle()
    {
        const DWORD processId = StartRunning();
        ASSERT_NE(0u, processId);
        const std::optional<std::size_t> handles = Qx::Testing::CountProcessHandles(processId);
        ASSERT_TRUE(handles) << "the system handle table cannot be read";
        m_handleCounts.push_back(*handles);

        ASSERT_NO_FATAL_FAILURE(StopCleanly(kAcceptedWhileRunning));
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKeyStatus(WatchDogGuardPath(m_service)));
        EXPECT_TRUE(HasTraceLines(TraceOf(ReadTrace(), processId), processId,
                                  {{"QxTestModuleA", "SmInitialize flags=non-null"},
                                   {"QxTestModuleB", "SmInitialize flags=non-null"},
                                   {"QxTestModuleC", "SmInitialize flags=non-null"},
                                   {"QxTestModuleC", "SmShutdown"},
                                   {"QxTestModuleB", "SmShutdown"},
                                   {"QxTestModuleA", "SmShutdown"}}));
    }

    // The figures of the run, for the CI log and for comparing runs.
    void PrintSummary(DWORD cycles, ULONGLONG elapsedMs) const
    {
        const auto [min, max] = std::minmax_element(m_handleCounts.begin(), m_handleCounts.end());
        std::cout << "[   SOAK   ] " << cycles << " cycles in " << elapsedMs << " ms; handles at RUNNING: first "
                  << m_handleCounts.front() << ", last " << m_handleCounts.back() << ", min " << *min << ", max "
                  << *max << "\n[   SOAK   ] handles per cycle:";
        for (const std::size_t count : m_handleCounts) {
            std::cout << " " << count;
        }
        std::cout << "\n";
    }

    std::vector<std::size_t> m_handleCounts;
};

// The counter reads this process's handles from the same table as the host's: it sees a new handle
// come and go, and agrees with GetProcessHandleCount, which Windows answers for the calling process.
// Everything is counted before anything is printed, since the first output may open handles.
TEST(ProcessHandleCount, CountsTheHandlesOfAProcess)
{
    const std::optional<std::size_t> before = Qx::Testing::CountProcessHandles(GetCurrentProcessId());
    Qx::Platform::UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_NE(nullptr, event.get());
    const std::optional<std::size_t> withEvent = Qx::Testing::CountProcessHandles(GetCurrentProcessId());
    event.reset();
    const std::optional<std::size_t> after = Qx::Testing::CountProcessHandles(GetCurrentProcessId());
    DWORD own = 0;
    const BOOL ownCounted = GetProcessHandleCount(GetCurrentProcess(), &own);

    ASSERT_TRUE(before && withEvent && after) << "the system handle table cannot be read";
    EXPECT_EQ(*before + 1, *withEvent);
    EXPECT_EQ(*before, *after);
    ASSERT_TRUE(ownCounted) << GetLastError();
    ExpectWindowsBehaviour(::testing::AssertionResult(own == *after)
                               << own << " handles counted, " << *after << " seen",
                           "GetProcessHandleCount answers 0 even for the calling process");
    if (RunningOnWine()) {
        EXPECT_EQ(0u, own);
    }
}

// Each cycle is a new host process, so a leak shows as a count at RUNNING that grows from cycle to
// cycle, not within one process. The rule: the median count of the last ten cycles is no higher
// than the median of the first ten. A single cycle that caught a thread or a handle in passing moves
// neither median; a leak of one handle in every ten cycles or more raises the later one.
TEST_F(ServiceSoak, StartsAndStopsCleanlyCycleAfterCycle)
{
    const std::optional<DWORD> cycles = CyclesFromEnvironment();
    ASSERT_TRUE(cycles) << "QX_SOAK_CYCLES must be a decimal number";
    ASSERT_GE(*cycles, kMinimumCycles) << "QX_SOAK_CYCLES";
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_NO_FATAL_FAILURE(WriteParameters(kModules, kDisplayNameMessage));

    const ULONGLONG started = GetTickCount64();
    for (DWORD cycle = 1; cycle <= *cycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        ASSERT_NO_FATAL_FAILURE(RunCycle());
    }
    PrintSummary(*cycles, GetTickCount64() - started);

    const std::vector<std::size_t> first(m_handleCounts.begin(), m_handleCounts.begin() + kWindow);
    const std::vector<std::size_t> last(m_handleCounts.end() - kWindow, m_handleCounts.end());
    EXPECT_LE(Median(last), Median(first)) << "the host's handle count at RUNNING grows from cycle to cycle";
}

} // namespace
