#include "ServiceControl.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <tuple>

#include "CodeMessages.h"
#include "CodeText.h"
#include "Commands.h"
#include "HostFiles.h"
#include "InstallRules.h"
#include "ServiceManager.h"
#include "ToolText.h"

namespace QxServiceCtl {

namespace {

constexpr DWORD kPollMilliseconds = 50;
// How long a stop waits, once the process has ended, for the service manager to report STOPPED, so
// that a start right after it is not refused; Wine's never does for a process that crashed.
constexpr std::uint64_t kSettleMilliseconds = 3000;
// The exit code a process ended by --kill-after gets: the service manager's own word for a service
// process that ended without reporting SERVICE_STOPPED.
constexpr UINT kKilledExitCode = ERROR_PROCESS_ABORTED;

std::wstring Seconds(std::uint64_t milliseconds)
{
    return std::to_wstring(milliseconds / 1000) + L" s";
}

// Why a start failed, once the service has stopped or its process has ended.
std::wstring StartFailure(const ServiceState& state)
{
    const DWORD processId = state.status.dwProcessId;
    if (state.status.dwCurrentState != SERVICE_STOPPED) {
        const std::optional<DWORD> code = state.fate.exitCode;
        return L"its process " + std::to_wstring(processId) + L" ended" +
               (code ? L" with " + ExitCodeText(*code) : std::wstring());
    }
    return L"it stopped with exit code " + ExitCodeText(ExitCodeOf(state.status));
}

// Polls until the goal is reached or has failed, or the deadline passes.
void WaitUntil(SC_HANDLE service, Goal goal, ULONGLONG deadline, StateChange& change)
{
    while (true) {
        if (!ReadServiceState(service, change.last, change.reason)) {
            change.progress = Progress::Failed;
            return;
        }
        change.progress = ProgressTowards(goal, change.last.status.dwCurrentState, change.last.fate.ended);
        if (change.progress != Progress::Waiting || GetTickCount64() >= deadline) {
            return;
        }
        Sleep(kPollMilliseconds);
    }
}

// Ends the service's process, as --kill-after asks.
bool Kill(const ServiceState& state, StateChange& change)
{
    const DWORD processId = state.status.dwProcessId;
    const UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, processId));
    if (!process || TerminateProcess(process.get(), kKilledExitCode) == 0) {
        change.progress = Progress::Failed;
        change.reason =
            L"its process " + std::to_wstring(processId) + L" cannot be ended" + Win32Reason(GetLastError());
        return false;
    }
    change.killedProcess = processId;
    return true;
}

bool SendStop(SC_HANDLE service, StateChange& change)
{
    SERVICE_STATUS status{};
    if (ControlService(service, SERVICE_CONTROL_STOP, &status) != 0) {
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_NOT_ACTIVE) {
        return true;
    }
    change.progress = Progress::Failed;
    change.reason =
        error == ERROR_INVALID_SERVICE_CONTROL
            ? L"it does not accept stop now (stop is withheld while self-defence refuses it)" + Win32Reason(error)
            : L"it cannot be stopped" + Win32Reason(error);
    return false;
}

// The volume and file index of the file at path, which name it however the path spells it.
std::optional<std::tuple<DWORD, DWORD, DWORD>> FileIdentity(std::wstring_view path)
{
    const UniqueKernelHandle file(CreateFileW(std::wstring(path).c_str(), 0,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || GetFileInformationByHandle(file.get(), &information) == 0) {
        return std::nullopt;
    }
    return std::tuple(information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow);
}

} // namespace

bool SameFile(std::wstring_view first, std::wstring_view second)
{
    if (SameIgnoringCase(first, second)) {
        return true;
    }
    const auto firstIdentity = FileIdentity(first);
    return firstIdentity && firstIdentity == FileIdentity(second);
}

ProcessFate FateOf(DWORD processId, std::wstring_view program)
{
    const UniqueKernelHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) {
        // Only an id that names no process means it has ended; one the tool may not open (another
        // account's, without the rights to it) runs as far as the tool can tell.
        return {GetLastError() == ERROR_INVALID_PARAMETER, std::nullopt, std::nullopt};
    }
    FILETIME created{};
    FILETIME unused[3]{};
    const std::optional<std::uint64_t> started =
        GetProcessTimes(process.get(), &created, &unused[0], &unused[1], &unused[2]) != 0
            ? std::optional(FileTimeValue(created.dwLowDateTime, created.dwHighDateTime))
            : std::nullopt;
    DWORD exitCode = 0;
    if (WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) {
        return {true, GetExitCodeProcess(process.get(), &exitCode) != 0 ? std::optional(exitCode) : std::nullopt,
                started};
    }
    wchar_t image[1024];
    DWORD size = static_cast<DWORD>(std::size(image));
    const bool imageRead = QueryFullProcessImageNameW(process.get(), 0, image, &size) != 0;
    const bool otherProgram = imageRead && !program.empty() && !SameFile(std::wstring_view(image, size), program);
    return {otherProgram, std::nullopt, otherProgram ? std::nullopt : started};
}

DWORD ExitCodeOf(const SERVICE_STATUS_PROCESS& status)
{
    return status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR ? status.dwServiceSpecificExitCode
                                                                  : status.dwWin32ExitCode;
}

bool ReadServiceState(SC_HANDLE service, ServiceState& state, std::wstring& reason)
{
    DWORD needed = 0;
    if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&state.status),
                             sizeof(state.status), &needed) == 0) {
        reason = L"its status cannot be read" + Win32Reason(GetLastError());
        return false;
    }
    const DWORD processId = state.status.dwProcessId;
    state.fate = processId != 0 ? FateOf(processId, ProgramOf(ImagePathOf(service))) : ProcessFate{};
    return true;
}

StateChange StartAndWait(SC_HANDLE service, std::uint64_t waitMs)
{
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    StateChange change;
    if (!ReadServiceState(service, change.last, change.reason)) {
        change.progress = Progress::Failed;
        return change;
    }
    const bool stopped =
        ProgressTowards(Goal::Stopped, change.last.status.dwCurrentState, change.last.fate.ended) == Progress::Reached;
    if (stopped && change.last.status.dwCurrentState != SERVICE_STOPPED) {
        change.progress = Progress::Failed;
        change.reason = L"its process " + std::to_wstring(change.last.status.dwProcessId) +
                        L" has ended, but the service manager still reports it " +
                        ServiceStateName(change.last.status.dwCurrentState) +
                        L" and refuses to start it (Wine's service manager does not notice a service process that "
                        L"ends without reporting SERVICE_STOPPED)";
        return change;
    }
    change.already = !stopped;
    if (stopped && ::StartServiceW(service, 0, nullptr) == 0 && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        change.progress = Progress::Failed;
        change.reason = L"it cannot be started" + Win32Reason(GetLastError());
        return change;
    }
    WaitUntil(service, Goal::Running, deadline, change);
    if (change.progress == Progress::Failed && change.reason.empty()) {
        change.reason = StartFailure(change.last);
    }
    return change;
}

StateChange StopAndWait(SC_HANDLE service, std::uint64_t waitMs, std::optional<std::uint64_t> killAfterMs)
{
    const ULONGLONG asked = GetTickCount64();
    StateChange change;
    WaitUntil(service, Goal::Stopped, asked, change);
    if (change.progress != Progress::Waiting) {
        change.already = change.progress == Progress::Reached;
        return change;
    }
    if (change.last.status.dwCurrentState != SERVICE_STOP_PENDING && !SendStop(service, change)) {
        return change;
    }
    if (killAfterMs) {
        WaitUntil(service, Goal::Stopped, asked + *killAfterMs, change);
        if (change.progress != Progress::Waiting || !Kill(change.last, change)) {
            return change;
        }
    }
    WaitUntil(service, Goal::Stopped, asked + waitMs, change);
    const ULONGLONG settled = std::min<ULONGLONG>(asked + waitMs, GetTickCount64() + kSettleMilliseconds);
    while (change.progress == Progress::Reached && change.last.status.dwCurrentState != SERVICE_STOPPED &&
           GetTickCount64() < settled && ReadServiceState(service, change.last, change.reason)) {
        Sleep(kPollMilliseconds);
    }
    return change;
}

bool StopForChange(SC_HANDLE service, std::wstring& reason)
{
    const StateChange change = StopAndWait(service, kStopWaitMilliseconds, std::nullopt);
    if (change.progress == Progress::Waiting) {
        reason = L"it did not stop within " + Seconds(kStopWaitMilliseconds) + L"; it is " + StateWords(change.last);
    } else {
        reason = change.reason;
    }
    return change.progress == Progress::Reached;
}

std::wstring StateWords(const ServiceState& state)
{
    return ServiceStateName(state.status.dwCurrentState) + (state.fate.ended ? L" (its process has ended)" : L"");
}

std::optional<std::vector<HostService>> HostServices(std::wstring& reason)
{
    const auto installed = InstalledServices(reason);
    if (!installed) {
        return std::nullopt;
    }
    const std::wstring host = ToolFolder() + kHostFileName;
    std::vector<HostService> found;
    for (const ListedService& listed : *installed) {
        const OpenedService opened = OpenNamedService(listed.name, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
        const HostOwner owner = opened.handle
                                    ? HostOwnerOf(ImagePathOf(opened.handle.get()), host, listed.name, &SameFile)
                                    : HostOwner::None;
        HostService service{listed.name, owner, {}, {}};
        std::wstring ignored;
        if (owner != HostOwner::None && ReadServiceConfig(opened.handle.get(), listed.name, service.config, ignored) &&
            ReadServiceState(opened.handle.get(), service.state, ignored)) {
            found.push_back(std::move(service));
        }
    }
    return found;
}

} // namespace QxServiceCtl
