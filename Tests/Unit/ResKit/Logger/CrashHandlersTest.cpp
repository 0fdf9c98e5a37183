#include <algorithm>

#include <gtest/gtest.h>

#include "Common/DumpGenImpl.h"
#include "FakePlatform.h"
#include "LoggedPlatformTest.h"
#include "RecordingLogger.h"
#include "ResKit/Logger/ExceptionHandlers.h"

using namespace Qx;
using namespace Qx::Platform;
using namespace Qx::Testing;

namespace {

// The handlers are installed once for the platform services in use, and one crash gives one dump.
TEST(CrashHandlersTest, OneCrashGivesOneDumpWhicheverHandlersItPasses)
{
    FakePlatform platform;
    platform.registry.CreateKey(L"");
    LogUtils::InstallCrashHandlers(&WriteCrashDump);
    LogUtils::InstallCrashHandlers(&WriteCrashDump);
    auto& crash = platform.crashHandling;
    EXPECT_EQ(crash.stderrRequests, 1);
    EXPECT_EQ(crash.invalidParameterInstalls, 1);
    ASSERT_NE(crash.terminateAndAbort, nullptr);
    ASSERT_NE(crash.unhandledFilter, nullptr);
    ASSERT_EQ(crash.vectoredHandlers.size(), 1u);

    ExceptionDescription other;
    other.code = 0xC0000005;
    EXPECT_EQ(crash.vectoredHandlers[0](other), kExceptionContinueSearch);
    EXPECT_TRUE(platform.dumps.miniDumps.empty()) << "the first-chance handler dumps heap corruption only";

    ExceptionDescription thrown;
    thrown.code = kExceptionGccThrow;
    thrown.nativePointers = reinterpret_cast<const void*>(0x1000);
    crash.previousVerdict = -1;
    EXPECT_EQ(crash.unhandledFilter(thrown), kExceptionExecuteHandler)
        << "g++'s uncaught exception ends the process with its code, not through std::terminate";
    EXPECT_EQ(crash.unhandledFilter(other), -1) << "otherwise the previous filter's verdict counts";
    ASSERT_EQ(platform.dumps.miniDumps.size(), 1u);
    EXPECT_TRUE(platform.dumps.miniDumps[0].path.find(L"_20474343_") != std::wstring::npos);
    EXPECT_EQ(platform.dumps.miniDumps[0].exceptionPointers, thrown.nativePointers);

    crash.terminateAndAbort();
    crash.terminateAndAbort();
    ExceptionDescription heap;
    heap.code = kExceptionHeapCorruption;
    crash.vectoredHandlers[0](heap);
    EXPECT_EQ(platform.dumps.miniDumps.size(), 1u) << "terminate, SIGABRT and the rest of the crash add no dump";
}

// A module's own filter, as crash reporters install them: it counts its calls and hands the
// exception on to the filter it replaced, which is the host's.
int g_moduleFilterCalls = 0;
ExceptionHandlerFunction g_replacedFilter = nullptr;

std::int32_t ModuleFilter(const ExceptionDescription& exception)
{
    ++g_moduleFilterCalls;
    return g_replacedFilter(exception);
}

class CrashRecordTest : public LoggedPlatformTest {
protected:
    CrashRecordTest()
    {
        platform.registry.CreateKey(L"");
        platform.crashHandling.moduleFiles[kModule] = L"M.dll";
        LogUtils::InstallCrashHandlers(&WriteCrashDump);
    }

    static std::wstring RecordOf(const ExceptionDescription* exception, const LogUtils::CrashDumpResult& dump)
    {
        wchar_t text[512];
        EXPECT_TRUE(LogUtils::FormatCrashRecord(exception, 42, dump, text));
        return text;
    }

    static inline const void* const kModule = reinterpret_cast<const void*>(0x10000);
};

// A module replaced the host's filter: the host's goes in front again, writes the one dump and the
// one ERROR record, then gives the module's filter its turn; that one's call back into the host's
// reaches what the host replaced, without a second dump or an endless loop.
TEST_F(CrashRecordTest, ModulesOwnFilterRunsAfterTheDumpAndTheCrashIsRecordedOnce)
{
    auto& crash = platform.crashHandling;
    g_moduleFilterCalls = 0;
    g_replacedFilter = crash.unhandledFilter;
    LogUtils::ReassertCrashFilter();
    EXPECT_EQ(logger.records.size(), 0u) << "nothing to put back";
    crash.replacingFilter = &ModuleFilter;
    crash.replacingFilterImage = kModule;
    LogUtils::ReassertCrashFilter();
    ASSERT_EQ(logger.records.size(), 1u);
    EXPECT_EQ(logger.records[0].severity, L"WARN");
    EXPECT_TRUE(logger.records[0].text.starts_with(L"The unhandled-exception filter of M.dll had replaced the host's"));

    ExceptionDescription violation;
    violation.code = kExceptionAccessViolation;
    violation.module = kModule;
    violation.address = reinterpret_cast<const void*>(0x113F3);
    crash.previousVerdict = 1;
    EXPECT_EQ(crash.unhandledFilter(violation), 1);
    EXPECT_EQ(g_moduleFilterCalls, 1);
    EXPECT_EQ(crash.previousFilterCalls, 1);
    ASSERT_EQ(platform.dumps.miniDumps.size(), 1u);
    crash.terminateAndAbort();
    EXPECT_EQ(std::ranges::count_if(logger.records, [](const auto& record) { return record.severity == L"ERROR"; }), 1)
        << "one record per crash";
    const LoggedRecord* error = logger.Find(L"Crash ");
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->severity, L"ERROR");
    EXPECT_EQ(error->text, L"Crash 0xC0000005 at M.dll+0x13F3 on thread " +
                               std::to_wstring(platform.process.CurrentThreadId()) + L"; dump " +
                               platform.dumps.miniDumps[0].path);
}

TEST_F(CrashRecordTest, SaysWhatCrashedWhereAndWhyNoDumpWasWritten)
{
    ExceptionDescription thrown;
    thrown.code = kExceptionMsvcThrow;
    thrown.module = kModule;
    thrown.foreignThrownType = ".?AVruntime_error@std@@";
    EXPECT_EQ(RecordOf(&thrown, {L"C:\\d.dmp", nullptr}),
              L"Crash 0xE06D7363: C++ exception .?AVruntime_error@std@@ thrown in M.dll on thread 42; dump C:\\d.dmp");
    ExceptionDescription stray;
    stray.code = 0xC0000096;
    stray.address = reinterpret_cast<const void*>(0x7FF0);
    EXPECT_EQ(RecordOf(&stray, {nullptr, L"MiniDumpWriteDump failed"}),
              L"Crash 0xC0000096 at 0x0000000000007FF0 outside any module on thread 42; no dump written: "
              L"MiniDumpWriteDump failed");
    EXPECT_EQ(RecordOf(nullptr, {}),
              L"Crash: std::terminate or abort() on thread 42; no dump written: the dump writer gave no reason");

    platform.dumps.fileCanBeCreated = false;
    const LogUtils::CrashDumpResult none = WriteCrashDump(nullptr);
    EXPECT_EQ(none.path, nullptr);
    EXPECT_STREQ(none.failure, L"the dump file could not be created");
    platform.dumps.fileCanBeCreated = true;
    const LogUtils::CrashDumpResult written = WriteCrashDump(nullptr);
    ASSERT_NE(written.path, nullptr);
    const std::wstring crashDump = written.path;
    EXPECT_TRUE(DumpGenImpl::Instance().CreateDump(nullptr)) << "a worker's dump right after the crash's";
    EXPECT_NE(std::wstring(DumpGenImpl::Instance().DumpPath()), crashDump);
    EXPECT_EQ(std::wstring(written.path), crashDump) << "the crash record names the crash's own dump";
}

} // namespace
