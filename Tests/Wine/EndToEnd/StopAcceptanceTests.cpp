// Self-defence as the Service Control Manager sees it: whether the host offers SERVICE_ACCEPT_STOP
// with the stand-in driver absent, active or inactive and with the StopAccept flag in its various
// states, how quickly a change shows (the internal state's worker decides every five seconds, an
// interrogation at once), and the volatile WatchDogGuard key that lives as long as the host process.
#include "DriverHarness.h"
#include "ServiceHarness.h"

#include <functional>
#include <optional>

using namespace Qx::Testing;

namespace {

// What the running host accepts while self-defence withholds the stop, and once it is granted.
constexpr DWORD kStopWithheld = SERVICE_ACCEPT_SHUTDOWN;
constexpr DWORD kStopAccepted = kAcceptedWhileRunning;
constexpr DWORD kDisplayNameMessage = 7;
constexpr HRESULT kEFail = static_cast<HRESULT>(0x80004005);

// The internal state's worker decides once when the service starts and then every period.
constexpr DWORD kUpdatePeriodMs = 5000;
// What a decision may take beyond its due time on a loaded machine: the run itself, the status
// report and one poll.
constexpr DWORD kDecisionAllowanceMs = 1000;

const std::string kPreMessageLoopEntered = "Entering CServiceModule::PreMessageLoop";
const std::string kInterrogateEntered = "Entering CServiceModule::OnInterrogate";
const std::string kInitializingInternalState = "Initializing singleton InternalStateSgt";
const std::string kStopAcceptRemoved = "StopAccept registry flag removed";
const std::string kChangePrefix = "SERVICE_ACCEPT_STOP changed to: ";
const std::string kGranted = kChangePrefix + "1";
const std::string kWithdrawn = kChangePrefix + "0";

LSTATUS QueryParameterStatus(const std::wstring& service, const wchar_t* name)
{
    return RegGetValueW(HKEY_LOCAL_MACHINE, ParametersKeyPath(service).c_str(), name, RRF_RT_ANY, nullptr, nullptr,
                        nullptr);
}

// The records that announce a change of SERVICE_ACCEPT_STOP, in the order they were written.
std::vector<LogRecord> ChangeRecords(const LogFile& log)
{
    std::vector<LogRecord> changes;
    for (const LogRecord& record : log.records) {
        if (record.text.starts_with(kChangePrefix)) {
            changes.push_back(record);
        }
    }
    return changes;
}

std::vector<std::string> Texts(const std::vector<LogRecord>& records)
{
    std::vector<std::string> texts;
    texts.reserve(records.size());
    for (const LogRecord& record : records) {
        texts.push_back(record.text);
    }
    return texts;
}

std::vector<std::string> HexValues(const std::vector<DWORD>& values)
{
    std::vector<std::string> texts;
    texts.reserve(values.size());
    for (const DWORD value : values) {
        texts.push_back(Hex(value));
    }
    return texts;
}

// A host service with self-defence on a machine where the stand-in driver does not run; a driver
// that a broken run left behind is removed first. The test holds the device lock throughout. Every
// status read through Observe adds to the trail of accepted controls, which keeps each distinct
// value in the order the SCM reported it.
class StopAcceptance : public ServiceTest {
protected:
    void SetUp() override
    {
        m_deviceLock.emplace();
        ASSERT_TRUE(m_deviceLock->Held());
        ServiceTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        ASSERT_NO_FATAL_FAILURE(StandInDriver::RemoveLeftover());
        if (const SelfDefenceDevice device; device.OpenStatus() != kStatusObjectNameNotFound) {
            GTEST_SKIP() << "\\Device\\VqSDD_Sys is held by a driver other than the stand-in (open status "
                         << Hex(device.OpenStatus()) << ")";
        }
    }

    // One module that starts at once, and self-defence enabled.
    void WriteSelfDefenceParameters()
    {
        ASSERT_NO_FATAL_FAILURE(WriteParameters(kModuleA, kDisplayNameMessage));
        ASSERT_EQ(ERROR_SUCCESS, SetParameterDword(m_service, L"SDEnabled", 1));
    }

    SERVICE_STATUS_PROCESS Observe()
    {
        const SERVICE_STATUS_PROCESS status = Query();
        if (m_trail.empty() || m_trail.back() != status.dwControlsAccepted) {
            m_trail.push_back(status.dwControlsAccepted);
        }
        return status;
    }

    // Polls until the running service accepts exactly the controls expected; elapsedMs receives
    // the time that took.
    ::testing::AssertionResult WaitForAccepted(DWORD expected, ULONGLONG& elapsedMs)
    {
        const DWORD timeoutMs = kUpdatePeriodMs + kDecisionAllowanceMs;
        const ULONGLONG started = GetTickCount64();
        for (;;) {
            const SERVICE_STATUS_PROCESS status = Observe();
            elapsedMs = GetTickCount64() - started;
            if (status.dwCurrentState != SERVICE_RUNNING) {
                return ::testing::AssertionFailure()
                       << "the service left SERVICE_RUNNING: state " << status.dwCurrentState;
            }
            if (status.dwControlsAccepted == expected) {
                return ::testing::AssertionSuccess();
            }
            if (elapsedMs >= timeoutMs) {
                return ::testing::AssertionFailure() << "accepted " << Hex(status.dwControlsAccepted) << ", not "
                                                     << Hex(expected) << ", " << timeoutMs << " ms on";
            }
            SleepEx(kServicePollMs, TRUE);
        }
    }

    // An interrogation makes the host decide again before its handler returns: the status that
    // ControlService hands back and the one read right after it already carry the decision.
    DWORD InterrogateAndObserve()
    {
        SERVICE_STATUS answered{};
        EXPECT_EQ(0u, Control(SERVICE_CONTROL_INTERROGATE, &answered));
        const SERVICE_STATUS_PROCESS status = Observe();
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), answered.dwCurrentState);
        EXPECT_EQ(Hex(status.dwControlsAccepted), Hex(answered.dwControlsAccepted));
        return status.dwControlsAccepted;
    }

    std::vector<DWORD> m_trail;

private:
    std::optional<SelfDefenceDeviceLock> m_deviceLock;
};

// With the stand-in driver loaded and answering mode 1 (active). It is stopped and deleted at the
// end; a host still waiting for stop permission then gets it through an interrogation, so that the
// clean-up's stop request is accepted.
class StopAcceptanceWithDriver : public StopAcceptance {
protected:
    void SetUp() override
    {
        StopAcceptance::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        m_driver.emplace();
        ASSERT_NO_FATAL_FAILURE(m_driver->Install());
        ASSERT_NO_FATAL_FAILURE(m_driver->SetMode(1));
        ASSERT_EQ(0u, m_driver->Start());
        ASSERT_EQ(Hex(kStatusSuccess), Hex(SelfDefenceDevice().OpenStatus()));
    }

    void TearDown() override
    {
        m_driver.reset();
        if (ServiceHandle() != nullptr && Query().dwCurrentState == SERVICE_RUNNING) {
            Control(SERVICE_CONTROL_INTERROGATE);
        }
        StopAcceptance::TearDown();
    }

    std::optional<StandInDriver> m_driver;
};

// No driver: the worker's first decision comes before SERVICE_RUNNING, when the service cannot take
// it, so the service runs without SERVICE_ACCEPT_STOP until the worker's next run, one period
// later, grants it. A stop then works as usual; the worker is shut down with the service.
TEST_F(StopAcceptance, WithoutDriverStopIsGrantedOnePeriodAfterStart)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_NO_FATAL_FAILURE(WriteSelfDefenceParameters());

    const DWORD processId = StartRunning();
    ASSERT_NE(0u, processId);
    EXPECT_EQ(Hex(kStopWithheld), Hex(Observe().dwControlsAccepted));
    ULONGLONG elapsedMs = 0;
    ASSERT_TRUE(WaitForAccepted(kStopAccepted, elapsedMs));
    EXPECT_EQ((std::vector<std::string>{Hex(kStopWithheld), Hex(kStopAccepted)}), HexValues(m_trail));
    ExpectRunningStatus(Query(), processId);

    ASSERT_NO_FATAL_FAILURE(StopCleanly(kStopAccepted));

    const LogFile log = ReadServiceLog();
    EXPECT_TRUE(HasRecordsInOrder(log, {kPreMessageLoopEntered, kInitializingInternalState,
                                        "InternalState::Initialize - starting", "LogEvent: Service started/resumed",
                                        kGranted, "Entering CServiceModule::PostMessageLoop",
                                        "InternalState::Shutdown - starting", "LogEvent: Service stopped"}));
    const std::vector<LogRecord> changes = ChangeRecords(log);
    ASSERT_EQ((std::vector<std::string>{kGranted}), Texts(changes)) << Dump(log);
    EXPECT_EQ("INFO", changes[0].severity);
    const std::size_t initializing = FindRecord(log, kInitializingInternalState);
    ASSERT_LT(initializing, log.records.size());
    EXPECT_EQ("DBG", log.records[initializing].severity);
    // The worker's own thread: neither the service thread nor the main thread.
    EXPECT_NE(ThreadOf(log, kPreMessageLoopEntered), changes[0].threadId);
    EXPECT_NE(ThreadOf(log, "cmdLine: -name=" + ToUtf8(m_service)), changes[0].threadId);
    EXPECT_TRUE(HasNoRecordStartingWith(log, "StopAccept registry flag value = "))
        << "read only when the driver is active";
    EXPECT_TRUE(HasNoRecordStartingWith(log, kStopAcceptRemoved));
}

// A StopAccept value from an earlier run is deleted as the start begins, before the internal state
// is set up, so it never carries over. Without the driver an interrogation grants the stop at once.
TEST_F(StopAcceptance, StopAcceptLeftByAnEarlierRunIsRemovedAtStart)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_NO_FATAL_FAILURE(WriteSelfDefenceParameters());
    ASSERT_EQ(ERROR_SUCCESS, SetParameterDword(m_service, L"StopAccept", 1));

    ASSERT_EQ(0u, Start());
    ASSERT_TRUE(WaitForState(SERVICE_RUNNING));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, QueryParameterStatus(m_service, L"StopAccept"));
    EXPECT_EQ(ERROR_SUCCESS, QueryParameterStatus(m_service, L"SDEnabled")) << "nothing else is removed";
    EXPECT_EQ(Hex(kStopWithheld), Hex(Observe().dwControlsAccepted));
    EXPECT_EQ(Hex(kStopAccepted), Hex(InterrogateAndObserve()));

    ASSERT_EQ(0u, Control(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(WaitForState(SERVICE_STOPPED));
    EXPECT_EQ(Hex(0), Hex(WaitForExit()));

    const LogFile log = ReadServiceLog();
    EXPECT_TRUE(HasRecordsInOrder(log, {kPreMessageLoopEntered, kStopAcceptRemoved, kInitializingInternalState,
                                        "LogEvent: Service started/resumed", kInterrogateEntered, kGranted}));
    EXPECT_EQ(1u, CountRecords(log, kStopAcceptRemoved));
    const std::size_t removed = FindRecord(log, kStopAcceptRemoved);
    ASSERT_LT(removed, log.records.size());
    EXPECT_EQ("DBG", log.records[removed].severity);
    EXPECT_EQ(ThreadOf(log, kPreMessageLoopEntered), log.records[removed].threadId);
}

// The key's life depends on the process and the start's outcome only, not on self-defence.
using WatchDogGuardKey = ServiceTest;

// The volatile key exists from the start of the service to the end of its process, and a normal
// stop removes it.
TEST_F(WatchDogGuardKey, LivesAsLongAsTheProcess)
{
    const std::wstring guard = WatchDogGuardPath(m_service);
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_NO_FATAL_FAILURE(WriteParameters(kModuleA, kDisplayNameMessage));
    ASSERT_EQ(ERROR_FILE_NOT_FOUND, OpenKeyStatus(guard));

    ASSERT_EQ(0u, Start());
    ASSERT_TRUE(WaitForState(SERVICE_RUNNING));
    {
        Qx::Platform::UniqueRegKey key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExW(HKEY_LOCAL_MACHINE, guard.c_str(), 0, KEY_READ | KEY_CREATE_SUB_KEY, key.out()));
        DWORD subKeys = 1;
        DWORD values = 1;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                                                  &values, nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(0u, subKeys);
        EXPECT_EQ(0u, values);
        // Only a volatile key refuses a non-volatile child.
        Qx::Platform::UniqueRegKey child;
        const LSTATUS created = RegCreateKeyExW(key.get(), L"Persistent", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ,
                                                nullptr, child.out(), nullptr);
        EXPECT_EQ(static_cast<LSTATUS>(ERROR_CHILD_MUST_BE_VOLATILE), created);
        if (created == ERROR_SUCCESS) {
            child.reset();
            RegDeleteKeyW(key.get(), L"Persistent");
        }
    }

    ASSERT_EQ(0u, Control(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(WaitForState(SERVICE_STOPPED));
    EXPECT_EQ(Hex(0), Hex(WaitForExit()));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKeyStatus(guard));
}

// The host run by hand under the name of a service that runs is no service: it ends with 1063 and
// says so in its log, and the running service's key stays, so that a later crash of that service
// still shows. It runs alone: a hand-run takes the control pipe of a service that is starting.
using HandRunBesideService = ServiceTest;

TEST_F(HandRunBesideService, LeavesTheRunningServicesKey)
{
    const std::wstring guard = WatchDogGuardPath(m_service);
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_NO_FATAL_FAILURE(WriteParameters(kModuleA, kDisplayNameMessage));
    ASSERT_EQ(0u, Start());
    ASSERT_TRUE(WaitForState(SERVICE_RUNNING));

    const HostRun run = RunHost(L"-name=" + m_service);
    NoteSlowHandRun(run);
    EXPECT_EQ(Hex(kFailedServiceControllerConnect), Hex(run.exitCode));
    EXPECT_EQ(ERROR_SUCCESS, OpenKeyStatus(guard));
    const LogFile log = ReadLog(LogPath(m_service, run.processId));
    const std::size_t refused = FindRecord(log, "StartServiceCtrlDispatcherW failed Error:1063");
    ASSERT_LT(refused, log.records.size()) << Dump(log);
    EXPECT_EQ("ERROR", log.records[refused].severity);
    DeleteFileW(LogPath(m_service, run.processId).c_str());

    ASSERT_EQ(0u, Control(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(WaitForState(SERVICE_STOPPED));
    EXPECT_EQ(Hex(0), Hex(WaitForExit()));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKeyStatus(guard));
}

// A start that fails in B leaves the key behind once the process has ended when A set bit 0 of its
// flags, and removes it when A set only bit 1.
TEST_F(WatchDogGuardKey, StaysAfterAFailedStartWhenAModuleAsks)
{
    const std::wstring guard = WatchDogGuardPath(m_service);
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_NO_FATAL_FAILURE(WriteParameters(L"QxTestModuleA.dll;QxTestModuleB.dll", kDisplayNameMessage));
    SetModuleValue(L"QxTestModuleB", L"Result", static_cast<DWORD>(kEFail));

    for (const DWORD flags : {1u, 2u}) {
        SCOPED_TRACE("QxTestModuleA Flags=" + std::to_string(flags));
        SetModuleValue(L"QxTestModuleA", L"Flags", flags);
        ASSERT_EQ(0u, Start());
        ASSERT_TRUE(WaitForState(SERVICE_STOPPED));
        ExpectStoppedStatus(Query(), 0, static_cast<DWORD>(kEFail));
        EXPECT_EQ(Hex(static_cast<DWORD>(kEFail)), Hex(WaitForExit()));
        EXPECT_TRUE(HasExceptionRecord(ReadServiceLog(), "Starting service modules failed: ", kEFail));

        if (flags == 1) {
            ASSERT_EQ(ERROR_SUCCESS, OpenKeyStatus(guard)) << "kept after the process ended";
            EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, guard.c_str()));
        }
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKeyStatus(guard));
    }
}

// With the driver active the stop follows StopAccept: the value left by an earlier run is gone, so
// the stop is refused; the worker grants it within a period of StopAccept becoming 1, withdraws it
// a period after StopAccept becomes 0, and an interrogation grants it again at once.
TEST_F(StopAcceptanceWithDriver, ActiveDriverWithholdsStopUntilStopAcceptAllowsIt)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_NO_FATAL_FAILURE(WriteSelfDefenceParameters());
    ASSERT_EQ(ERROR_SUCCESS, SetParameterDword(m_service, L"StopAccept", 1));

    const DWORD processId = StartRunning();
    ASSERT_NE(0u, processId);
    EXPECT_EQ(Hex(kStopWithheld), Hex(Observe().dwControlsAccepted));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, QueryParameterStatus(m_service, L"StopAccept"));
    // The SCM refuses the request itself, without asking the host, and hands back the latest status.
    SERVICE_STATUS refused{};
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL), Control(SERVICE_CONTROL_STOP, &refused));
    // What Wine leaves in the status is undefined: there the expected failure is its only check.
    const bool refusalCarriesStatus =
        refused.dwCurrentState == SERVICE_RUNNING && refused.dwControlsAccepted == kStopWithheld;
    ExpectWindowsBehaviour(::testing::AssertionResult(refusalCarriesStatus)
                               << "state " << refused.dwCurrentState << ", accepted "
                               << Hex(refused.dwControlsAccepted),
                           "ControlService refused with ERROR_INVALID_SERVICE_CONTROL hands back uninitialised "
                           "data, not the service's status; Windows hands back its latest status");
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), Observe().dwCurrentState);
    EXPECT_EQ(Hex(kStopWithheld), Hex(InterrogateAndObserve())) << "still no StopAccept";

    ASSERT_EQ(ERROR_SUCCESS, SetParameterDword(m_service, L"StopAccept", 1));
    ULONGLONG grantMs = 0;
    ASSERT_TRUE(WaitForAccepted(kStopAccepted, grantMs));
    ExpectRunningStatus(Query(), processId);

    // The grant was seen right after the worker's run, so the withdrawal waits for most of a period.
    ASSERT_EQ(ERROR_SUCCESS, SetParameterDword(m_service, L"StopAccept", 0));
    ULONGLONG withdrawMs = 0;
    ASSERT_TRUE(WaitForAccepted(kStopWithheld, withdrawMs));
    EXPECT_GE(withdrawMs, kUpdatePeriodMs - kDecisionAllowanceMs);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL), Control(SERVICE_CONTROL_STOP));

    // The worker has only just run; the interrogation decides long before its next run.
    ASSERT_EQ(ERROR_SUCCESS, SetParameterDword(m_service, L"StopAccept", 1));
    const ULONGLONG interrogated = GetTickCount64();
    EXPECT_EQ(Hex(kStopAccepted), Hex(InterrogateAndObserve()));
    EXPECT_LT(GetTickCount64() - interrogated, kDecisionAllowanceMs);

    ASSERT_NO_FATAL_FAILURE(StopCleanly(kStopAccepted));
    EXPECT_EQ(
        (std::vector<std::string>{Hex(kStopWithheld), Hex(kStopAccepted), Hex(kStopWithheld), Hex(kStopAccepted)}),
        HexValues(m_trail));

    const LogFile log = ReadServiceLog();
    EXPECT_TRUE(
        HasRecordsInOrder(log, {kStopAcceptRemoved, kInitializingInternalState, kInterrogateEntered,
                                "StopAccept registry flag value = 1", kGranted, "StopAccept registry flag value = 0",
                                kWithdrawn, "StopAccept registry flag value = 1", kGranted}));
    const std::vector<LogRecord> changes = ChangeRecords(log);
    ASSERT_EQ((std::vector<std::string>{kGranted, kWithdrawn, kGranted}), Texts(changes)) << Dump(log);
    const DWORD handlerThread = ThreadOf(log, kInterrogateEntered);
    EXPECT_EQ(changes[0].threadId, changes[1].threadId) << "both from the worker";
    EXPECT_NE(handlerThread, changes[0].threadId);
    EXPECT_EQ(handlerThread, changes[2].threadId) << "from the interrogation";
}

// Only an active driver (mode 1 or 2) makes StopAccept count, and then only as a REG_DWORD other
// than 0; a driver that answers anything else, or none at all, leaves the stop accepted. Each step
// is decided by an interrogation. A step that writes two values writes them in the order that keeps
// the decision between the writes as it was before the step, should the worker run in between.
TEST_F(StopAcceptanceWithDriver, StopIsAcceptedUnlessTheDriverIsActive)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_NO_FATAL_FAILURE(WriteSelfDefenceParameters());
    ASSERT_EQ(0u, Start());
    ASSERT_TRUE(WaitForState(SERVICE_RUNNING));
    EXPECT_EQ(Hex(kStopWithheld), Hex(Observe().dwControlsAccepted));

    struct Step {
        const char* situation;
        std::function<void()> apply;
        DWORD accepted;
    };
    const auto stopAccept = [this](DWORD value) {
        ASSERT_EQ(ERROR_SUCCESS, SetParameterDword(m_service, L"StopAccept", value));
    };
    const Step steps[] = {
        {"mode 2, no StopAccept", [&] { m_driver->SetMode(2); }, kStopWithheld},
        {"mode 3 is no mode", [&] { m_driver->SetMode(3); }, kStopAccepted},
        {"mode 1, StopAccept a REG_SZ \"1\"",
         [&] {
             ASSERT_EQ(ERROR_SUCCESS, SetParameterString(m_service, L"StopAccept", L"1"));
             m_driver->SetMode(1);
         },
         kStopWithheld},
        {"mode 0, inactive", [&] { m_driver->SetMode(0); }, kStopAccepted},
        {"mode 1, StopAccept 0",
         [&] {
             stopAccept(0);
             m_driver->SetMode(1);
         },
         kStopWithheld},
        {"mode 2, StopAccept 7",
         [&] {
             m_driver->SetMode(2);
             stopAccept(7);
         },
         kStopAccepted},
        {"mode 2, StopAccept 0", [&] { stopAccept(0); }, kStopWithheld},
        {"driver stopped", [&] { EXPECT_EQ(0u, m_driver->Stop()); }, kStopAccepted},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.situation);
        ASSERT_NO_FATAL_FAILURE(step.apply());
        EXPECT_EQ(Hex(step.accepted), Hex(InterrogateAndObserve()));
    }
    EXPECT_EQ(
        (std::vector<std::string>{Hex(kStopWithheld), Hex(kStopAccepted), Hex(kStopWithheld), Hex(kStopAccepted),
                                  Hex(kStopWithheld), Hex(kStopAccepted), Hex(kStopWithheld), Hex(kStopAccepted)}),
        HexValues(m_trail));

    ASSERT_EQ(0u, Control(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(WaitForState(SERVICE_STOPPED));
    EXPECT_EQ(Hex(0), Hex(WaitForExit()));
    const LogFile log = ReadServiceLog();
    EXPECT_EQ((std::vector<std::string>{kGranted, kWithdrawn, kGranted, kWithdrawn, kGranted, kWithdrawn, kGranted}),
              Texts(ChangeRecords(log)))
        << Dump(log);
    EXPECT_TRUE(HasRecordsInOrder(log, {"StopAccept registry flag value = 0", "StopAccept registry flag value = 7",
                                        "StopAccept registry flag value = 0"}));
}

} // namespace
