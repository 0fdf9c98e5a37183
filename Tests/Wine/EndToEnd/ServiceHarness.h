// Drives QxServiceHost.exe as a real service through the Service Control Manager: installs it under
// a name of its own, starts and controls it, follows its status and its process, and reads what the
// run left behind: the module log, the trace of the test modules and the watchdog agent's status.
#pragma once

#include "HostHarness.h"
#include "RegistryValueOverride.h"
#include "TextLines.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Qx::Testing {

// Under Wine a start or a stop takes well under a second; the time-outs only bound a broken run.
inline constexpr DWORD kServiceStateTimeoutMs = 10000;
inline constexpr DWORD kServiceExitTimeoutMs = 15000;
inline constexpr DWORD kServicePollMs = 20;

// Files in the bin folder: the host, the test modules and the stand-in watchdog agent.
inline constexpr const wchar_t* kHostExe = L"QxServiceHost.exe";
inline constexpr const wchar_t* kModuleA = L"QxTestModuleA.dll";
inline constexpr const wchar_t* kModuleB = L"QxTestModuleB.dll";
inline constexpr const wchar_t* kWatchdogAgent = L"QxWatchdogAgent.dll";

// QxWatchdogAgent.<service>.status, which the stand-in watchdog agent writes beside itself.
struct WatchdogStatus {
    bool exists = false;
    // "service", "pid", "WAInitW", "WADeinit", "state": the text after "=".
    std::map<std::string, std::string> fields;
    // The QueryPerformanceCounter value of the WAInitW and WADeinit lines.
    std::optional<long long> initQpc;
    std::optional<long long> deinitQpc;
};

// The record index of the first record whose text is text, or records.size().
std::size_t FindRecord(const LogFile& log, std::string_view text);
// How many records have exactly this text.
std::size_t CountRecords(const LogFile& log, std::string_view text);
// The raw event dump: "Event: [] Type=<type> Category=0x01 Id=<id>" followed on its thread directly
// by one record per insertion string, "       %<n>=<text>" at the header's indentation.
::testing::AssertionResult HasEventDump(const LogFile& log, std::string_view type, std::uint32_t eventId,
                                        const std::vector<std::pair<int, std::string>>& insertions);

// The thread that wrote the first record with this text, 0 when there is none.
DWORD ThreadOf(const LogFile& log, std::string_view text);
// The trace holds exactly these (module, event) lines in this order, all written by processId, each
// at a counter value after the one before.
::testing::AssertionResult HasTraceLines(const std::vector<TraceLine>& trace, DWORD processId,
                                         const std::vector<std::pair<std::string, std::string>>& expected);

// What the host accepts once it runs: stop and shutdown.
inline constexpr DWORD kAcceptedWhileRunning = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
// The whole status of a running host process processId.
void ExpectRunningStatus(const SERVICE_STATUS_PROCESS& status, DWORD processId);
// After a stop the status keeps the last controls accepted and carries the result of the run as its
// Win32 exit code; the SCM no longer names a process.
void ExpectStoppedStatus(const SERVICE_STATUS_PROCESS& status, DWORD accepted, DWORD win32ExitCode);

class HostProcessWatcher;

// A test that owns one service: whatever a run leaves behind is removed at the end, whatever the
// outcome. The service is stopped if it still runs, its process killed if it does not end, the
// service deleted with its registry key, the registry values the test set put back, and the logs,
// status and trace files and the test's own host folders deleted.
//
// Everything a test sets is its own: the service name is unique per test and run, and the test
// modules take their behaviour and their trace file from below the service's key (see
// Tests/Wine/TestModules/TestTrace.h). So tests of several runs in one Wine prefix may run at once,
// though not beside a hand-run that reaches the service dispatcher (see HostTest).
class ServiceTest : public ::testing::Test {
protected:
    ServiceTest();
    ~ServiceTest() override;

    void SetUp() override;
    void TearDown() override;

    // A folder of the test's own below the bin folder (returned with its trailing backslash), holding
    // copies of bin folder files, each given as (name in the bin folder, name in the new folder).
    std::wstring MakeHostFolder(std::wstring_view suffix,
                                const std::vector<std::pair<std::wstring, std::wstring>>& files);
    // ProductInfo2.ini in folder, naming the product registry root SOFTWARE\Qx\E2E\<service>, which
    // is returned (without HKLM).
    std::wstring WriteProductInfo(const std::wstring& folder);
    // What every host folder needs: the host, its logger and its message library.
    static std::vector<std::pair<std::wstring, std::wstring>> HostFiles();
    // Copies a bin folder file into a folder that is not the test's own, under a name that must be
    // free there. The copy is deleted at the end, once the host processes have ended.
    void Plant(std::wstring_view source, const std::wstring& folder, std::wstring_view name);

    // Creates the service: own process, demand start, binary path
    // "<folder>QxServiceHost.exe" -name=<service>.
    void Install(const std::wstring& folder = BinDirectory());
    // Points the installed service to the host in another folder.
    void MoveTo(const std::wstring& folder);
    // ServiceModules and ServiceName under the service's Parameters key.
    void WriteParameters(std::wstring_view modules, DWORD serviceName);
    // A behaviour value of the test module module (the library's base name) in this service; it goes
    // with the service's key.
    void SetModuleValue(std::wstring_view module, const wchar_t* name, DWORD value);
    void SetModuleValue(std::wstring_view module, const wchar_t* name, const std::wstring& text);
    // A registry value under HKEY_LOCAL_MACHINE for the test's duration. Only for keys of the test's
    // own, named after its service: tests that run at the same time must not share a value.
    RegistryValueOverride& Override(std::wstring keyPath, std::wstring valueName);

    // StartServiceW: its Win32 error, 0 on success. The host process it launches is followed from
    // its creation, so that its exit code can be read even when it ends at once.
    DWORD Start();
    // Start, then waits for SERVICE_RUNNING: the host process, 0 after a failure.
    DWORD StartRunning();
    SERVICE_STATUS_PROCESS Query();
    // Polls every 20 ms until the service reports state.
    ::testing::AssertionResult WaitForState(DWORD state, DWORD timeoutMs = kServiceStateTimeoutMs);
    // ControlService: its Win32 error, 0 on success.
    DWORD Control(DWORD code, SERVICE_STATUS* status = nullptr);

    // The host process of the last start: the one the SCM reports, or else the one that wrote the
    // service's log. 0 when there is none.
    DWORD ProcessId();
    // Waits for that process to end and returns its full exit code, kNoExitCode if it does not end.
    DWORD WaitForExit(DWORD timeoutMs = kServiceExitTimeoutMs);
    // Stops the running service, which accepted exactly accepted until then, and sees its process
    // end with 0.
    void StopCleanly(DWORD accepted);

    // Logs\<service>(<pid>).log of the last start, beside the installed host.
    LogFile ReadServiceLog();
    std::vector<TraceLine> ReadTrace() const;
    WatchdogStatus ReadWatchdogStatus(const std::wstring& folder = BinDirectory()) const;
    SC_HANDLE ServiceHandle() const { return m_serviceHandle.get(); }

    std::wstring m_service;
    // The folder of the host the service is installed with.
    std::wstring m_folder;
    std::wstring m_traceFile;

private:
    struct HostProcess {
        DWORD processId = 0;
        Qx::Platform::UniqueKernelHandle handle;
    };

    void RememberServiceName();
    // Points the test modules of the service to the trace file.
    void WriteTraceFileSetting();
    void DeleteLeftoverService();
    void Adopt(DWORD processId);
    // Stops the service unless it is stopped or its process has ended already.
    void StopIfRunning();
    void StopAndDelete();
    void RemoveFiles();

    Qx::Platform::UniqueServiceHandle m_manager;
    Qx::Platform::UniqueServiceHandle m_serviceHandle;
    std::unique_ptr<HostProcessWatcher> m_watcher;
    // Index into m_processes of the last start's process, once known.
    std::optional<std::size_t> m_current;
    std::vector<HostProcess> m_processes;
    std::vector<std::wstring> m_folders;
    std::vector<std::wstring> m_plantedFiles;
    // Every name the service had: the keys of all of them go at the end.
    std::vector<std::wstring> m_serviceNames;
    std::vector<std::unique_ptr<RegistryValueOverride>> m_overrides;
};

} // namespace Qx::Testing
