#include <gtest/gtest.h>

#include "Common/DumpGenImpl.h"
#include "FakePlatform.h"
#include "RecordingLogger.h"
#include "ResKit/Logger/ExceptionHandlers.h"

using namespace Qx;
using namespace Qx::Platform;
using namespace Qx::Testing;

namespace {

// The writer the process hands in.
bool WriteDump(const ExceptionDescription* exception)
{
    return DumpGenImpl::Instance().CreateDump(exception);
}

// The handlers are installed once for the platform services in use, and one crash gives one dump.
TEST(CrashHandlersTest, OneCrashGivesOneDumpWhicheverHandlersItPasses)
{
    FakePlatform platform;
    platform.registry.CreateKey(L"");
    LogUtils::InstallCrashHandlers(&WriteDump);
    LogUtils::InstallCrashHandlers(&WriteDump);
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
    EXPECT_EQ(crash.unhandledFilter(thrown), -1) << "the previous filter's verdict counts";
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

} // namespace
