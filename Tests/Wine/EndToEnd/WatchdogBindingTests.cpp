// The host binds the watchdog agent QxWatchdogAgent.dll at process start, from its own folder, and
// only when all four of its exports are there. An agent it cannot bind leaves the service unaffected.
//
// The bin folder holds the stand-in agent, which every host there binds. These runs use hosts in
// folders of their own instead: one without any agent, and one whose QxWatchdogAgent.dll is the
// test agent that lacks WAOnExit and traces any WAInitW or WADeinit it is given.
#include "ServiceHarness.h"

using namespace Qx::Testing;

namespace {

using WatchdogBinding = ServiceTest;

TEST_F(WatchdogBinding, ServiceRunsWithoutAgentOrWithAnIncompleteOne)
{
    auto files = HostFiles();
    files.emplace_back(kModuleA, kModuleA);
    const std::wstring withoutAgent = MakeHostFolder(L"-none", files);
    files.emplace_back(L"QxTestWatchdogNoOnExit.dll", kWatchdogAgent);
    const std::wstring incompleteAgent = MakeHostFolder(L"-noonexit", files);
    ASSERT_NO_FATAL_FAILURE(Install(withoutAgent));
    ASSERT_NO_FATAL_FAILURE(WriteParameters(kModuleA, 7));

    std::vector<DWORD> processIds;
    for (const std::wstring& folder : {withoutAgent, incompleteAgent}) {
        SCOPED_TRACE(ToUtf8(folder));
        ASSERT_NO_FATAL_FAILURE(MoveTo(folder));
        const DWORD processId = StartRunning();
        ASSERT_NE(0u, processId);
        processIds.push_back(processId);
        ExpectRunningStatus(Query(), processId);
        ASSERT_NO_FATAL_FAILURE(StopCleanly(kAcceptedWhileRunning));

        const LogFile log = ReadServiceLog();
        EXPECT_TRUE(HasRecordsInOrder(
            log,
            {"Init ServiceModule QxTestModuleA.dll", "Service initialization completed with code: 0",
             "Event: [] Type=Information Category=0x01 Id=0x40010101", "Shutting down ServiceModule QxTestModuleA.dll",
             "Event: [] Type=Information Category=0x01 Id=0x40010102", "LogEvent: Service stopped"}));
        EXPECT_FALSE(ReadWatchdogStatus(folder).exists);
        EXPECT_FALSE(ReadWatchdogStatus().exists) << "the stand-in agent in the bin folder was reached";
    }

    // Only the module speaks; the incomplete agent was never called.
    const std::vector<TraceLine> trace = ReadTrace();
    ASSERT_EQ(2u, processIds.size());
    ASSERT_EQ(4u, trace.size());
    EXPECT_TRUE(HasTraceLines({trace[0], trace[1]}, processIds[0],
                              {{"QxTestModuleA", "SmInitialize flags=non-null"}, {"QxTestModuleA", "SmShutdown"}}));
    EXPECT_TRUE(HasTraceLines({trace[2], trace[3]}, processIds[1],
                              {{"QxTestModuleA", "SmInitialize flags=non-null"}, {"QxTestModuleA", "SmShutdown"}}));
}

} // namespace
