// QxServiceHost run as a service through the Service Control Manager: the order in which it brings
// the watchdog agent, the log compressor and the service modules up and takes them down, the status
// it reports on the way, the events it dumps, and how a failed start ends.
#include "ServiceHarness.h"

#include <algorithm>

#include "PollUntil.h"

using namespace Qx::Testing;

namespace {

// ServiceName: the message number of the display name, which the events refer to as "%%7".
constexpr DWORD kDisplayNameMessage = 7;
const std::string kDisplayNameInsertion = "%%7";

constexpr HRESULT kEFail = static_cast<HRESULT>(0x80004005);
// A start whose initialisation thread ended inside a module's SmInitialize.
constexpr HRESULT kEAbort = static_cast<HRESULT>(0x80004004);

// The record at level 1 that names B as the module that failed the start, which must say what its
// SmInitialize did and name its file; empty when there is none.
std::string ModuleBFailureRecord(const LogFile& log, const std::string& what)
{
    const std::string prefix = "ServiceModule QxTestModuleB.dll failed the start after ";
    for (const LogRecord& record : log.records) {
        if (record.text.starts_with(prefix)) {
            EXPECT_EQ("ERROR", record.severity);
            EXPECT_NE(std::string::npos, record.text.find(" ms: " + what + "; file ")) << record.text;
            EXPECT_TRUE(record.text.ends_with("\\QxTestModuleB.dll")) << record.text;
            return record.text;
        }
    }
    ADD_FAILURE() << "no record " << prefix << "..." << Dump(log);
    return {};
}
class ServiceLifecycle : public ServiceTest {
protected:
    // Starts modules A, B and C, with B's value set to make its SmInitialize fail: the service
    // connects and reports its start before the modules run, so StartServiceW succeeds; then it stops
    // with E_FAIL, its controls still parked from the start. Returns the host's process id.
    DWORD FailStartOfB(const wchar_t* valueName, DWORD value, HRESULT expected = kEFail)
    {
        Install();
        WriteParameters(L"QxTestModuleA.dll;QxTestModuleB.dll;QxTestModuleC.dll", kDisplayNameMessage);
        SetModuleValue(L"QxTestModuleB", valueName, value);
        if (!m_errorTextOfB.empty()) {
            SetModuleValue(L"QxTestModuleB", L"ErrorText", m_errorTextOfB);
        }
        EXPECT_EQ(0u, Start());
        EXPECT_TRUE(WaitForState(SERVICE_STOPPED));
        ExpectStoppedStatus(Query(), 0, static_cast<DWORD>(expected));
        EXPECT_EQ(Hex(static_cast<DWORD>(expected)), Hex(WaitForExit()));
        return ProcessId();
    }

    // After B failed the start of process processId: A was started and shut down again, C was never
    // started and the service never ran. Returns the trace of those three calls; empty when it is not so.
    std::vector<TraceLine> ExpectOnlyAStartedAndShutDown(const LogFile& log, DWORD processId) const
    {
        EXPECT_TRUE(HasNoRecordStartingWith(log, "Init ServiceModule QxTestModuleC.dll"));
        EXPECT_TRUE(HasNoRecordStartingWith(log, "LogEvent: Service started/resumed"));
        std::vector<TraceLine> trace = ReadTrace();
        const ::testing::AssertionResult calls = HasTraceLines(trace, processId,
                                                               {{"QxTestModuleA", "SmInitialize flags=non-null"},
                                                                {"QxTestModuleB", "SmInitialize flags=non-null"},
                                                                {"QxTestModuleA", "SmShutdown"}});
        EXPECT_TRUE(calls);
        return calls ? trace : std::vector<TraceLine>();
    }

    // B's SmInitialize calls ExitThread(threadExitCode).
    void ExpectStartEndedByB(DWORD threadExitCode)
    {
        DWORD processId = 0;
        ASSERT_NO_FATAL_FAILURE(processId = FailStartOfB(L"ExitThread", threadExitCode, kEAbort));
        const LogFile log = ReadServiceLog();
        const std::string ended =
            "ended the initialisation thread without returning (thread exit code " + Hex(threadExitCode) + ")";
        EXPECT_TRUE(HasRecordsInOrder(
            log, {"Init ServiceModule QxTestModuleB.dll", ModuleBFailureRecord(log, "SmInitialize " + ended),
                  "Shutting down ServiceModule QxTestModuleA.dll", "Event: [] Type=Error Category=0x01 Id=0xC0010103",
                  "LogEvent: Service stopped"}));
        const std::string description = "ServiceModule QxTestModuleB.dll " + ended + " in SmInitialize";
        EXPECT_TRUE(HasEventDump(log, "Error", 0xC0010103, {{4, kDisplayNameInsertion}, {6, description}}));
        const std::vector<TraceLine> trace = ExpectOnlyAStartedAndShutDown(log, processId);
        ASSERT_EQ(3u, trace.size());
        EXPECT_NE(trace[0].threadId, trace[2].threadId) << "A is shut down on the service thread";
    }

    // COM error information that B leaves on its thread as it fails.
    std::wstring m_errorTextOfB;
};

const std::string kPreMessageLoopEntered = "Entering CServiceModule::PreMessageLoop";

const std::string kLongInitialization = "Long time service initialization is in progress...";
const std::string kStartedEvent = "Event: [] Type=Information Category=0x01 Id=0x40010101";
const std::string kStoppedEvent = "Event: [] Type=Information Category=0x01 Id=0x40010102";

// The status reports that reach Wine's SCM while a service starts, seen through
// NotifyServiceStatusChangeW and collected whenever the waiting thread is alertable. Wine answers the
// first registration at once with the current state and every later one with the next
// SetServiceStatus, a repeated identical report included; re-registering after each answer therefore
// sees every report that comes later than the re-registration. Windows answers a registration at
// once whenever the service already is in a requested state, so there this cannot count reports.
class StartReports {
public:
    explicit StartReports(const std::wstring& service)
    {
        m_manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        m_service.reset(OpenServiceW(m_manager.get(), service.c_str(), SERVICE_QUERY_STATUS));
        EXPECT_TRUE(m_service) << "OpenServiceW failed: " << GetLastError();
        m_notify.dwVersion = SERVICE_NOTIFY_STATUS_CHANGE;
        m_notify.pfnNotifyCallback = &StartReports::Answered;
        m_notify.pContext = this;
        m_started = GetTickCount64();
        Register();
    }

    ~StartReports()
    {
        // Closing the handle cancels a registration still waiting; the callback may already be
        // queued, so the thread drains its queue before the notify block goes away.
        m_service.reset();
        m_manager.reset();
        SleepEx(kServicePollMs, TRUE);
    }

    StartReports(const StartReports&) = delete;
    StartReports& operator=(const StartReports&) = delete;

    struct Report {
        ULONGLONG atMs = 0;
        SERVICE_STATUS_PROCESS status{};
    };

    // Collects reports until one says RUNNING or STOPPED.
    ::testing::AssertionResult WaitForStartEnd(DWORD timeoutMs)
    {
        const ULONGLONG elapsed = GetTickCount64() - m_started;
        const auto ended = [this] {
            if (!m_pending && !m_ended) {
                Register();
            }
            return m_ended;
        };
        if (!PollUntil(ended, timeoutMs > elapsed ? timeoutMs - elapsed : 0, kServicePollMs)) {
            return ::testing::AssertionFailure() << "the start did not end within " << timeoutMs << " ms";
        }
        return ::testing::AssertionSuccess();
    }

    const std::vector<Report>& Reports() const { return m_reports; }

private:
    static void CALLBACK Answered(void* parameter)
    {
        const auto* notify = static_cast<SERVICE_NOTIFYW*>(parameter);
        auto* self = static_cast<StartReports*>(notify->pContext);
        self->m_pending = false;
        EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), notify->dwNotificationStatus);
        self->m_reports.push_back({GetTickCount64() - self->m_started, notify->ServiceStatus});
        const DWORD state = notify->ServiceStatus.dwCurrentState;
        self->m_ended = state == SERVICE_RUNNING || state == SERVICE_STOPPED;
    }

    void Register()
    {
        m_pending = true;
        const DWORD error = NotifyServiceStatusChangeW(
            m_service.get(), SERVICE_NOTIFY_STOPPED | SERVICE_NOTIFY_START_PENDING | SERVICE_NOTIFY_RUNNING, &m_notify);
        if (error != ERROR_SUCCESS) {
            m_pending = false;
            m_ended = true;
            ADD_FAILURE() << "NotifyServiceStatusChangeW failed: " << error;
        }
    }

    Qx::Platform::UniqueServiceHandle m_manager;
    Qx::Platform::UniqueServiceHandle m_service;
    SERVICE_NOTIFYW m_notify{};
    ULONGLONG m_started = 0;
    bool m_pending = false;
    bool m_ended = false;
    std::vector<Report> m_reports;
};

// Two modules under the stand-in watchdog agent that sits beside the host: the agent hears of the
// start before any module, the modules start in list order on a thread of their own, stop in reverse
// order on the service thread, and the agent hears of the stop after the last of them.
TEST_F(ServiceLifecycle, StartsModulesInOrderAndStopsThemInReverse)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_NO_FATAL_FAILURE(WriteParameters(L"QxTestModuleA.dll;QxTestModuleB.dll", kDisplayNameMessage));
    // Left by an earlier run; a new start removes it.
    ASSERT_EQ(ERROR_SUCCESS, SetParameterDword(m_service, L"StopAccept", 1));

    const DWORD processId = StartRunning();
    ASSERT_NE(0u, processId);
    ExpectRunningStatus(Query(), processId);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, DeleteParameter(m_service, L"StopAccept"));

    ASSERT_NO_FATAL_FAILURE(StopCleanly(kAcceptedWhileRunning));

    const LogFile log = ReadServiceLog();
    EXPECT_TRUE(HasRecordsInOrder(
        log,
        {kPreMessageLoopEntered, "StopAccept registry flag removed", "Entering CServiceModule::Initialization",
         "Loading module:QxTestModuleA.dll", "Loading module:QxTestModuleB.dll", "Init ServiceModule QxTestModuleA.dll",
         "Init ServiceModule QxTestModuleB.dll", "Exiting CServiceModule::Initialization",
         "Service initialization completed with code: 0", "LogEvent: Service started/resumed", kStartedEvent,
         "Exiting CServiceModule::PreMessageLoop", "Entering CServiceModule::PostMessageLoop",
         "Shutting down ServiceModule QxTestModuleB.dll", "Shutting down ServiceModule QxTestModuleA.dll",
         kStoppedEvent, "Exiting CServiceModule::PostMessageLoop", "LogEvent: Service stopped"}));
    EXPECT_TRUE(HasEventDump(log, "Information", 0x40010101, {{4, kDisplayNameInsertion}}));
    EXPECT_TRUE(HasEventDump(log, "Information", 0x40010102, {{4, kDisplayNameInsertion}}));
    EXPECT_EQ(0u, CountRecords(log, kLongInitialization));
    EXPECT_TRUE(std::all_of(log.records.begin(), log.records.end(), [&](const LogRecord& record) {
        return record.processId == processId;
    })) << Dump(log);

    const std::vector<TraceLine> trace = ReadTrace();
    ASSERT_TRUE(HasTraceLines(trace, processId,
                              {{"QxTestModuleA", "SmInitialize flags=non-null"},
                               {"QxTestModuleB", "SmInitialize flags=non-null"},
                               {"QxTestModuleB", "SmShutdown"},
                               {"QxTestModuleA", "SmShutdown"}}));
    const DWORD serviceThread = ThreadOf(log, kPreMessageLoopEntered);
    const DWORD initializationThread = ThreadOf(log, "Entering CServiceModule::Initialization");
    ASSERT_NE(0u, serviceThread);
    EXPECT_NE(serviceThread, initializationThread);
    EXPECT_EQ(initializationThread, trace[0].threadId);
    EXPECT_EQ(initializationThread, trace[1].threadId);
    EXPECT_EQ(serviceThread, trace[2].threadId);
    EXPECT_EQ(serviceThread, trace[3].threadId);

    const WatchdogStatus agent = ReadWatchdogStatus();
    ASSERT_TRUE(agent.exists);
    EXPECT_EQ(ToUtf8(m_service), agent.fields.at("service"));
    EXPECT_EQ(std::to_string(processId), agent.fields.at("pid"));
    EXPECT_EQ("stopped", agent.fields.at("state"));
    ASSERT_TRUE(agent.initQpc && agent.deinitQpc) << "WAInitW and WADeinit must both be recorded";
    EXPECT_LT(*agent.initQpc, trace.front().qpc) << "WAInitW comes before the first SmInitialize";
    EXPECT_GT(*agent.deinitQpc, trace.back().qpc) << "WADeinit comes after the last SmShutdown";
    // The agent's local time and the log's share the millisecond clock: the agent heard of the stop
    // no later than the millisecond in which the stop event was dumped.
    const std::size_t stoppedAt = FindRecord(log, kStoppedEvent);
    ASSERT_LT(stoppedAt, log.records.size());
    EXPECT_LE(agent.fields.at("WADeinit").substr(0, 23), log.records[stoppedAt].line.substr(0, 23));
}

// With LogCompressor set, the compressor is loaded from the product's installation folder after the
// watchdog agent has heard of the start and before the modules load, and unloaded after they are
// shut down and before the agent hears of the stop. The host logs the loading only; the test
// compressor traces both of its calls.
//
// The host reads ProductInfo2.ini beside itself at every start. It runs here from a folder of the
// test's own, so that no other host in the bin folder finds the settings file.
TEST_F(ServiceLifecycle, LogCompressorRunsBetweenWatchdogAgentAndModules)
{
    auto files = HostFiles();
    files.insert(files.end(), {{kWatchdogAgent, kWatchdogAgent},
                               {kModuleA, kModuleA},
                               {kModuleB, kModuleB},
                               {L"QxTestLogCompressor.dll", L"QxLogCompr.dll"}});
    const std::wstring folder = MakeHostFolder(L"", files);
    std::wstring registryRoot;
    ASSERT_NO_FATAL_FAILURE(registryRoot = WriteProductInfo(folder));
    Override(registryRoot, L"ProductInstallPath").SetString(folder);
    ASSERT_NO_FATAL_FAILURE(Install(folder));
    ASSERT_NO_FATAL_FAILURE(WriteParameters(L"QxTestModuleA.dll;QxTestModuleB.dll", kDisplayNameMessage));
    ASSERT_EQ(ERROR_SUCCESS, SetParameterDword(m_service, L"LogCompressor", 1));

    const DWORD processId = StartRunning();
    ASSERT_NE(0u, processId);
    ExpectRunningStatus(Query(), processId);
    ASSERT_NO_FATAL_FAILURE(StopCleanly(kAcceptedWhileRunning));

    const LogFile log = ReadServiceLog();
    const std::string loading = "loading log compressor module";
    EXPECT_TRUE(HasRecordsInOrder(log, {kPreMessageLoopEntered, loading, "Loading module:QxTestModuleA.dll",
                                        "Service initialization completed with code: 0", kStartedEvent,
                                        "Shutting down ServiceModule QxTestModuleB.dll",
                                        "Shutting down ServiceModule QxTestModuleA.dll", kStoppedEvent}));
    const std::size_t loadingAt = FindRecord(log, loading);
    ASSERT_LT(loadingAt, log.records.size());
    EXPECT_EQ("INFO", log.records[loadingAt].severity);

    const std::vector<TraceLine> trace = ReadTrace();
    ASSERT_TRUE(HasTraceLines(trace, processId,
                              {{"QxTestLogCompressor", "Initialize"},
                               {"QxTestModuleA", "SmInitialize flags=non-null"},
                               {"QxTestModuleB", "SmInitialize flags=non-null"},
                               {"QxTestModuleB", "SmShutdown"},
                               {"QxTestModuleA", "SmShutdown"},
                               {"QxTestLogCompressor", "Shutdown"}}));
    const DWORD serviceThread = ThreadOf(log, kPreMessageLoopEntered);
    EXPECT_EQ(serviceThread, trace.front().threadId);
    EXPECT_EQ(serviceThread, trace.back().threadId);
    EXPECT_EQ(serviceThread, log.records[loadingAt].threadId);

    const WatchdogStatus agent = ReadWatchdogStatus(folder);
    ASSERT_TRUE(agent.exists);
    ASSERT_TRUE(agent.initQpc && agent.deinitQpc) << "WAInitW and WADeinit must both be recorded";
    EXPECT_LT(*agent.initQpc, trace.front().qpc) << "WAInitW comes before the compressor's Initialize";
    EXPECT_GT(*agent.deinitQpc, trace.back().qpc) << "WADeinit comes after the compressor's Shutdown";
    // The agent's local time and the log's share the millisecond clock: the agent heard of the start
    // no later than the millisecond in which the host announced the compressor.
    EXPECT_LE(agent.fields.at("WAInitW").substr(0, 23), log.records[loadingAt].line.substr(0, 23));
}

// SmInitialize takes 12 s: the service thread re-reports SERVICE_START_PENDING every 5 s while it
// waits, twice, without a checkpoint or a wait hint, and reports SERVICE_RUNNING once the module is up.
TEST_F(ServiceLifecycle, SlowModuleStartIsReportedAsPendingEveryFiveSeconds)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_NO_FATAL_FAILURE(WriteParameters(L"QxTestModuleA.dll", kDisplayNameMessage));
    SetModuleValue(L"QxTestModuleA", L"DelayMs", 12000);

    ASSERT_EQ(0u, Start());
    const DWORD processId = ProcessId();
    ASSERT_NE(0u, processId);
    std::optional<StartReports> reports;
    if (RunningOnWine()) {
        reports.emplace(m_service);
    }
    const SERVICE_STATUS_PROCESS pending = Query();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_START_PENDING), pending.dwCurrentState);
    EXPECT_EQ(Hex(0), Hex(pending.dwControlsAccepted));
    EXPECT_EQ(0u, pending.dwCheckPoint);
    EXPECT_EQ(0u, pending.dwWaitHint);
    EXPECT_EQ(processId, pending.dwProcessId);
    // Nothing reaches the host while it starts: Wine's SCM refuses a stop, which the service does not
    // accept yet, and answers an interrogation of a start-pending service itself, with an error. (The
    // log below shows that the handler saw neither.)
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL), Control(SERVICE_CONTROL_STOP));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL), Control(SERVICE_CONTROL_INTERROGATE));

    if (reports) {
        ASSERT_TRUE(reports->WaitForStartEnd(30000));
        // Within the first second come the state at registration and, should it arrive after that,
        // the host's first report. Then the two repeated reports follow, each about 5 s after the one
        // before, and the running service.
        std::vector<StartReports::Report> later;
        for (const StartReports::Report& report : reports->Reports()) {
            if (report.atMs < 1000) {
                EXPECT_EQ(static_cast<DWORD>(SERVICE_START_PENDING), report.status.dwCurrentState);
            } else {
                later.push_back(report);
            }
        }
        ASSERT_EQ(3u, later.size());
        for (std::size_t i = 0; i < 2; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(static_cast<DWORD>(SERVICE_START_PENDING), later[i].status.dwCurrentState);
            EXPECT_EQ(Hex(0), Hex(later[i].status.dwControlsAccepted));
            EXPECT_EQ(0u, later[i].status.dwCheckPoint);
            EXPECT_EQ(0u, later[i].status.dwWaitHint);
        }
        EXPECT_GE(later[0].atMs, 4000u);
        EXPECT_GE(later[1].atMs - later[0].atMs, 4000u);
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), later[2].status.dwCurrentState);
        EXPECT_EQ(Hex(kAcceptedWhileRunning), Hex(later[2].status.dwControlsAccepted));
    } else {
        // Only an explanation: counting the reports is what Windows does not allow, so nothing here
        // can show whether it behaves as described.
        ExplainWineDifference("Windows answers a status registration at once while the service already is in a "
                              "requested state, so only the log counts the repeated START_PENDING reports there");
    }
    ASSERT_TRUE(WaitForState(SERVICE_RUNNING, 30000));
    ExpectRunningStatus(Query(), processId);
    ASSERT_EQ(0u, Control(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(WaitForState(SERVICE_STOPPED));
    EXPECT_EQ(Hex(0), Hex(WaitForExit()));

    const LogFile log = ReadServiceLog();
    EXPECT_EQ(2u, CountRecords(log, kLongInitialization)) << Dump(log);
    EXPECT_TRUE(HasRecordsInOrder(log, {"Init ServiceModule QxTestModuleA.dll", kLongInitialization,
                                        kLongInitialization, "Service initialization completed with code: 0",
                                        "LogEvent: Service started/resumed", kStartedEvent}));
    EXPECT_EQ(ThreadOf(log, kPreMessageLoopEntered), ThreadOf(log, kLongInitialization));
    EXPECT_EQ(0u, CountRecords(log, "LogEvent: Bad service request"));
    EXPECT_EQ(0u, CountRecords(log, "Entering CServiceModule::OnInterrogate"));
}

// B fails its SmInitialize with E_FAIL: A, already up, is shut down again on the initialisation
// thread, C is loaded but never started, the agent hears of the end of the start, the start-failed
// event is dumped with the error's description, and the service stops with B's HRESULT without
// running the shut-down sequence.
TEST_F(ServiceLifecycle, FailingModuleStopsTheServiceWithItsHresult)
{
    DWORD processId = 0;
    ASSERT_NO_FATAL_FAILURE(processId = FailStartOfB(L"Result", static_cast<DWORD>(kEFail)));

    const LogFile log = ReadServiceLog();
    EXPECT_TRUE(HasRecordsInOrder(
        log,
        {"Loading module:QxTestModuleA.dll", "Loading module:QxTestModuleB.dll", "Loading module:QxTestModuleC.dll",
         "Init ServiceModule QxTestModuleA.dll", "Init ServiceModule QxTestModuleB.dll",
         ModuleBFailureRecord(log, "SmInitialize returned 0x80004005"),
         "ServiceModule QxTestModuleB.dll initialization failed -2147467259",
         "Shutting down ServiceModule QxTestModuleA.dll", "Service initialization completed with code: -2147467259",
         "Event: [] Type=Error Category=0x01 Id=0xC0010103", "LogEvent: Service stopped"}));
    EXPECT_TRUE(HasExceptionRecord(log, "CServiceModule__Initialization: ", kEFail));
    EXPECT_TRUE(HasExceptionRecord(log, "Starting service modules failed: ", kEFail));
    const auto failureReported = std::find_if(log.records.begin(), log.records.end(), [](const LogRecord& record) {
        return record.text.starts_with("Starting service modules failed: ");
    });
    EXPECT_LT(FindRecord(log, "Service initialization completed with code: -2147467259"),
              static_cast<std::size_t>(failureReported - log.records.begin()));
    EXPECT_LT(static_cast<std::size_t>(failureReported - log.records.begin()),
              FindRecord(log, "Event: [] Type=Error Category=0x01 Id=0xC0010103"));
    EXPECT_TRUE(HasEventDump(log, "Error", 0xC0010103, {{4, kDisplayNameInsertion}, {6, ErrorDescription(kEFail)}}));
    EXPECT_TRUE(HasNoRecordStartingWith(log, "Entering CServiceModule::PostMessageLoop"));

    const std::vector<TraceLine> trace = ExpectOnlyAStartedAndShutDown(log, processId);
    ASSERT_EQ(3u, trace.size());
    EXPECT_EQ(trace[0].threadId, trace[2].threadId) << "A is shut down on the initialisation thread";

    const WatchdogStatus agent = ReadWatchdogStatus();
    ASSERT_TRUE(agent.exists);
    EXPECT_EQ("stopped", agent.fields.at("state"));
    ASSERT_TRUE(agent.initQpc && agent.deinitQpc) << "WAInitW and WADeinit must both be recorded";
    EXPECT_LT(*agent.initQpc, trace.front().qpc);
    EXPECT_GT(*agent.deinitQpc, trace.back().qpc);
}

// B leaves COM error information on the initialisation thread and fails: its words, not the system's
// text for its HRESULT, reach the service thread's failure record and the start-failed event.
TEST_F(ServiceLifecycle, FailingModulesOwnErrorTextReachesTheRecordAndTheEvent)
{
    m_errorTextOfB = L"B's database is locked";
    ASSERT_NO_FATAL_FAILURE(FailStartOfB(L"Result", static_cast<DWORD>(kEFail)));

    const LogFile log = ReadServiceLog();
    ModuleBFailureRecord(log, "SmInitialize returned 0x80004005 (B's database is locked)");
    EXPECT_TRUE(HasExceptionRecord(log, "Starting service modules failed: ", kEFail, "B's database is locked"));
    EXPECT_TRUE(HasEventDump(log, "Error", 0xC0010103, {{4, kDisplayNameInsertion}, {6, "B's database is locked"}}));
}

// B ends its own thread inside SmInitialize, with an exit code of success or one of failure: either
// way the start fails with E_ABORT, the record names B, A is shut down on the service thread and C is
// never started.
TEST_F(ServiceLifecycle, ModuleThatEndsTheInitialisationThreadFailsTheStart)
{
    ExpectStartEndedByB(0);
}

TEST_F(ServiceLifecycle, ModuleThatEndsTheInitialisationThreadWithACodeFailsTheStartWithE_ABORT)
{
    ExpectStartEndedByB(0x80004321);
}

// B throws out of its SmInitialize: the initialisation thread's boundary ends the start with E_FAIL,
// and A, already up and possibly running threads, is shut down before its library can be freed.
TEST_F(ServiceLifecycle, ThrowingModuleIsLoggedAndThoseBeforeItAreShutDown)
{
    DWORD processId = 0;
    ASSERT_NO_FATAL_FAILURE(processId = FailStartOfB(L"Throw", 1));

    const LogFile log = ReadServiceLog();
    EXPECT_TRUE(HasRecordsInOrder(log, {"Init ServiceModule QxTestModuleB.dll",
                                        ModuleBFailureRecord(log, "SmInitialize threw " + TestModuleRuntimeErrorType()),
                                        "ServiceModule QxTestModuleB.dll initialization failed: exception thrown",
                                        "Shutting down ServiceModule QxTestModuleA.dll",
                                        "Event: [] Type=Error Category=0x01 Id=0xC0010103"}));
    EXPECT_EQ("ERROR", log.records
                           .at(FindRecord(log, "ServiceModule QxTestModuleB.dll initialization failed: "
                                               "exception thrown"))
                           .severity);
    EXPECT_EQ(3u, ExpectOnlyAStartedAndShutDown(log, processId).size());
}

// Without a Parameters key the configuration fails in WinMain, before the host calls
// StartServiceCtrlDispatcherW. Wine's SCM watches the process it launched: once that ends without
// having connected, StartServiceW fails at once with ERROR_SERVICE_REQUEST_TIMEOUT and the service is
// left STOPPED with ERROR_SERVICE_NEVER_STARTED; the 10 s connection time-out applies only to a
// process that stays alive without connecting. The SCM never learns the host's HRESULT, which only
// the process's exit code carries.
TEST_F(ServiceLifecycle, ConfigurationErrorEndsTheProcessBeforeTheServiceStarts)
{
    ASSERT_NO_FATAL_FAILURE(Install());

    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT), Start());
    EXPECT_LT(GetTickCount64() - started, 5000u) << "the SCM noticed the end of the process at once";
    ExpectStoppedStatus(Query(), 0, ERROR_SERVICE_NEVER_STARTED);
    EXPECT_EQ(Hex(static_cast<DWORD>(kFileNotFound)), Hex(WaitForExit()));

    const LogFile log = ReadServiceLog();
    EXPECT_TRUE(
        HasRecordsInOrder(log, {"cmdLine: -name=" + ToUtf8(m_service), "Entering CServiceConfigurationImpl::Load",
                                "*** EXCEPTION Exiting CServiceConfigurationImpl::Load"}));
    EXPECT_TRUE(HasWinMainFailure(log, kFileNotFound));
    EXPECT_TRUE(HasNoRecordStartingWith(log, kPreMessageLoopEntered));
    EXPECT_FALSE(ReadWatchdogStatus().exists) << "the agent hears of no start";
}

} // namespace
