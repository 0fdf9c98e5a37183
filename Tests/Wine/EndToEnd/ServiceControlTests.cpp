// Control requests sent to the running host through the Service Control Manager: which of them reach
// its control handler, what the handler logs for them, and which the SCM answers itself.
#include "ServiceHarness.h"

using namespace Qx::Testing;

namespace {

using ServiceControl = ServiceTest;

const std::string kBadRequest = "LogEvent: Bad service request";
const std::string kInterrogateEntered = "Entering CServiceModule::OnInterrogate";
const std::string kInterrogateExited = "Exiting CServiceModule::OnInterrogate";

// The user-defined codes 128 to 255 and interrogate reach the handler, which logs the first as a bad
// request and traces the second. The SCM answers the rest itself:
// - pause, continue and paramchange need SERVICE_ACCEPT_PAUSE_CONTINUE or SERVICE_ACCEPT_PARAMCHANGE,
//   which the host never accepts: ERROR_INVALID_SERVICE_CONTROL. The handler's answers to them (none
//   for pause and continue, a bad request for paramchange) cannot be reached through the SCM;
// - shutdown and pre-shutdown come from the system only, and codes above 255 do not exist:
//   ERROR_INVALID_PARAMETER.
// None of these change the status.
TEST_F(ServiceControl, UserCodesAndInterrogateReachTheHandler)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_NO_FATAL_FAILURE(WriteParameters(kModuleA, 7));
    const DWORD processId = StartRunning();
    ASSERT_NE(0u, processId);

    for (const DWORD code : std::initializer_list<DWORD>{128, 129, 255, SERVICE_CONTROL_INTERROGATE}) {
        SCOPED_TRACE(code);
        SERVICE_STATUS status{};
        EXPECT_EQ(0u, Control(code, &status));
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);
        EXPECT_EQ(Hex(kAcceptedWhileRunning), Hex(status.dwControlsAccepted));
    }
    for (const DWORD code :
         std::initializer_list<DWORD>{SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_CONTINUE, SERVICE_CONTROL_PARAMCHANGE}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL), Control(code));
    }
    for (const DWORD code : std::initializer_list<DWORD>{SERVICE_CONTROL_SHUTDOWN, SERVICE_CONTROL_PRESHUTDOWN, 256}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), Control(code));
    }
    // Only an explanation: the system alone sends these, at its own shutdown, which no test can bring about.
    if (RunningOnWine()) {
        ExplainWineDifference("Wine never sends SERVICE_CONTROL_SHUTDOWN or PRESHUTDOWN to a service, so the "
                              "host's stop on shutdown cannot be driven from outside; Windows sends them at "
                              "system shutdown");
    }
    ExpectRunningStatus(Query(), processId);

    ASSERT_NO_FATAL_FAILURE(StopCleanly(kAcceptedWhileRunning));

    const LogFile log = ReadServiceLog();
    EXPECT_EQ(3u, CountRecords(log, kBadRequest)) << Dump(log);
    EXPECT_EQ(1u, CountRecords(log, kInterrogateEntered)) << Dump(log);
    EXPECT_EQ(1u, CountRecords(log, kInterrogateExited)) << Dump(log);
    // Controls reach the handler from the moment the service reports RUNNING, which it logs just before.
    EXPECT_TRUE(
        HasRecordsInOrder(log, {"LogEvent: Service started/resumed", kBadRequest, kBadRequest, kBadRequest,
                                kInterrogateEntered, kInterrogateExited, "Entering CServiceModule::PostMessageLoop"}));

    const DWORD handlerThread = ThreadOf(log, kBadRequest);
    EXPECT_EQ(handlerThread, ThreadOf(log, kInterrogateEntered));
    EXPECT_EQ(handlerThread, ThreadOf(log, kInterrogateExited));
    const DWORD mainThread = ThreadOf(log, "cmdLine: -name=" + ToUtf8(m_service));
    const DWORD serviceThread = ThreadOf(log, "Entering CServiceModule::PreMessageLoop");
    EXPECT_NE(serviceThread, handlerThread);
    ExpectWindowsBehaviour(mainThread == handlerThread,
                           "the control handler runs on a dispatcher thread of its own; on Windows it runs on "
                           "the thread inside StartServiceCtrlDispatcherW, the host's main thread");
    if (RunningOnWine()) {
        EXPECT_NE(mainThread, handlerThread);
    }
}

} // namespace
