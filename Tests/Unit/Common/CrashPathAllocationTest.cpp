// The way to a crash dump allocates nothing of its own: a dump is often written because the heap
// is broken. This executable replaces the global operator new to count what the dump path
// allocates on the calling thread; the doubles leave their own bookkeeping out of the count.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "AllocationCount.h"
#include "Common/DumpGenImpl.h"
#include "FakePlatform.h"
#include "RecordingLogger.h"
#include "ResKit/Logger/ExceptionHandlers.h"

void* operator new(std::size_t size)
{
    Qx::Testing::NoteAllocation();
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    return ::operator new(size);
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}

namespace {

using namespace Qx;
using namespace Qx::Platform;
using namespace Qx::Testing;

class CrashPathAllocationTest : public ::testing::Test {
protected:
    CrashPathAllocationTest() { platform.registry.CreateKey(L""); }

    // The allocations of one CreateDump, the log records left out: no level is enabled.
    static std::size_t AllocationsOfOneDump(DumpGenImpl& dumps, const ExceptionDescription* exception)
    {
        const AllocationCount count;
        EXPECT_TRUE(dumps.CreateDump(exception));
        return count.Allocations();
    }

    FakePlatform platform;
    RecordingLogger logger{0};
    ScopedLogger scopedLogger{logger};
};

TEST_F(CrashPathAllocationTest, CountsWhatItIsMeantToCount)
{
    const AllocationCount count;
    auto* counted = new int(1);
    {
        const UncountedAllocations bookkeeping;
        delete new int(2);
    }
    delete counted;
    EXPECT_EQ(count.Allocations(), 1u);
}

// Every way through CreateDump: the generator that succeeds, one that fails and one that cannot be
// started (each followed by the in-process dump), a command line that does not fit and a refused
// template, with and without exception, dumps in one second, and base names that have to be cleaned
// and cut.
TEST_F(CrashPathAllocationTest, CreateDumpAllocatesNothing)
{
    platform.registry.SetString(L"", L"UserDump", L"QxDumpGen.exe %u %s %p %u /m 2");
    DumpGenImpl generated;
    generated.SetDumpBaseName(L"My Service*?");
    ExceptionDescription crash;
    crash.code = kExceptionHeapCorruption;
    crash.nativePointers = &crash;
    EXPECT_EQ(AllocationsOfOneDump(generated, &crash), 0u);
    platform.dumps.generatorExitCode = 1;
    EXPECT_EQ(AllocationsOfOneDump(generated, nullptr), 0u);
    platform.dumps.launchError = 2;
    EXPECT_EQ(AllocationsOfOneDump(generated, &crash), 0u);
    generated.SetDumpBaseName(std::wstring(255, L'n'));
    EXPECT_EQ(AllocationsOfOneDump(generated, &crash), 0u) << "a path too long for the command line";

    platform.registry.SetString(L"", L"UserDump", L"QxDumpGen.exe %08u %s /m 2");
    DumpGenImpl refused;
    EXPECT_EQ(AllocationsOfOneDump(refused, &crash), 0u);

    EXPECT_EQ(platform.dumps.generatorRuns.size(), 3u);
    EXPECT_EQ(platform.dumps.miniDumps.size(), 4u);
}

// The dump of the handler test below, whose allocations the test above counts already.
LogUtils::CrashDumpResult DumpWrittenElsewhere(const ExceptionDescription*)
{
    return {L"C:\\Temp\\S_C0000005_2026_12_07__09_05_03.dmp", nullptr};
}

// The crash handlers' own part with the log at level 1: the module found by its address and the
// crash record. This process installs the handlers once, with this writer.
TEST_F(CrashPathAllocationTest, CrashRecordAllocatesNothing)
{
    RecordingLogger errors{1};
    ScopedLogger scopedErrors{errors};
    platform.crashHandling.moduleFiles[&platform] = L"M.dll";
    LogUtils::InstallCrashHandlers(&DumpWrittenElsewhere);
    ExceptionDescription crash;
    crash.code = kExceptionAccessViolation;
    crash.module = &platform;
    crash.address = reinterpret_cast<const char*>(&platform) + 0x10;
    const AllocationCount count;
    (void)platform.crashHandling.unhandledFilter(crash);
    EXPECT_EQ(count.Allocations(), 0u);
    ASSERT_EQ(errors.records.size(), 1u);
    EXPECT_TRUE(errors.records[0].text.starts_with(L"Crash 0xC0000005 at M.dll+0x10 on thread "));
}

} // namespace
