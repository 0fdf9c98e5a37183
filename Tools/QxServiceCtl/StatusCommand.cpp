#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <optional>

#include "CodeText.h"
#include "Commands.h"
#include "Common/ServiceFileName.h"
#include "Common/ServiceFileSuffixes.h"
#include "Common/UiLanguage.h"
#include "Console.h"
#include "HostFiles.h"
#include "InstallRules.h"
#include "JsonObject.h"
#include "LogVerdict.h"
#include "ServiceManager.h"
#include "WholeFile.h"

namespace QxServiceCtl {

namespace {

constexpr std::size_t kLogLinesShown = 10;
// 2: failedModule, failure and the pending entry after the first version's keys.
constexpr std::int64_t kStatusSchemaVersion = 2;

// The most recently written of the service's files in folder that rule names.
std::optional<FoundFile> FindNewest(const std::wstring& folder, const std::wstring& fileName, ServiceFileRule rule)
{
    std::optional<FoundFile> newest;
    for (FoundFile& file : FindServiceFiles(folder, fileName, rule)) {
        if (!newest || newest->written < file.written) {
            newest = std::move(file);
        }
    }
    return newest;
}

std::wstring Utf8ToWide(const std::string& text)
{
    std::wstring wide;
    (void)Qx::Platform::Text().Utf8ToWide(text, wide);
    return wide;
}

// The lines of a file; nullopt with the error when it cannot be read.
std::optional<std::vector<std::wstring>> ReadLines(const std::wstring& path, DWORD& error)
{
    const auto content = ReadWholeFile(path);
    if (!content) {
        error = GetLastError();
        return std::nullopt;
    }
    std::vector<std::wstring> lines;
    for (std::size_t start = 0; start < content->size();) {
        const std::size_t end = std::min(content->find('\n', start), content->size());
        std::string line = content->substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(Utf8ToWide(line));
        start = end + 1;
    }
    return lines;
}

std::vector<std::wstring> LastLines(const std::vector<std::wstring>& lines)
{
    const std::size_t shown = std::min(lines.size(), kLogLinesShown);
    return {lines.end() - static_cast<std::ptrdiff_t>(shown), lines.end()};
}

// Now, as the logger writes its times.
std::wstring LocalLogTime()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    wchar_t text[32];
    std::swprintf(text, std::size(text), L"%04u-%02u-%02u %02u:%02u:%02u.%03u", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    return text;
}

// What became of the process the Service Control Manager names: Wine keeps a crashed service
// RUNNING with its dead process id, and a later process may have taken the id.
struct ProcessFate {
    bool ended = false;
    std::optional<DWORD> exitCode;
    std::optional<std::uint64_t> started;
};

ProcessFate FateOf(DWORD processId, std::wstring_view program)
{
    const UniqueKernelHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) {
        return {true, std::nullopt, std::nullopt};
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
    const bool otherProgram =
        imageRead && !program.empty() && !SameIgnoringCase(std::wstring_view(image, size), program);
    return {otherProgram, std::nullopt, otherProgram ? std::nullopt : started};
}

DWORD ExitCodeOf(const SERVICE_STATUS_PROCESS& status)
{
    return status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR ? status.dwServiceSpecificExitCode
                                                                  : status.dwWin32ExitCode;
}

// Everything status tells of a service, gathered before any of it is printed.
struct StatusFacts {
    SERVICE_STATUS_PROCESS status{};
    ProcessFate fate;
    // nullopt when the process ended without reporting one.
    std::optional<DWORD> exitCode;
    std::wstring logFolder;
    std::optional<FoundFile> log;
    // The log is the process's own, by its id, not merely the newest.
    bool logOfProcess = false;
    // When the last run began: its process's start, else its log's creation.
    std::optional<std::uint64_t> runStarted;
    std::optional<FoundFile> dump;
    int exitStatus = kStatusRunning;
    // The log's lines, and the error when it cannot be read.
    std::optional<std::vector<std::wstring>> logLines;
    DWORD logError = 0;
    LogVerdict verdict;
    // How long the pending module entry has run; empty when no entry is pending or the service is
    // not pending.
    std::optional<std::int64_t> pendingSeconds;

    [[nodiscard]] bool Stopped() const { return status.dwCurrentState == SERVICE_STOPPED || fate.ended; }
    [[nodiscard]] bool DumpOfRun() const { return dump && runStarted && dump->written >= *runStarted; }
};

// The log of the process when its id is known and the log is not older than the process; otherwise
// the newest, which may be an earlier run's.
void FindModuleLog(const std::wstring& service, StatusFacts& facts)
{
    facts.logFolder = ToolFolder() + L"Logs\\";
    const DWORD processId = facts.status.dwProcessId;
    if (processId != 0) {
        const std::wstring processLog = ServiceFileName(service) + L"(" + std::to_wstring(processId) + L").log";
        facts.log = FindNewest(facts.logFolder, processLog, [](std::wstring_view rest) { return rest.empty(); });
        facts.logOfProcess = facts.log && !(facts.fate.started && facts.log->written < *facts.fate.started);
    }
    if (!facts.logOfProcess) {
        facts.log = FindNewest(facts.logFolder, ServiceFileName(service), &ServiceFileSuffixes::IsModuleLogSuffix);
    }
    facts.runStarted = facts.fate.started;
    if (!facts.runStarted && facts.log) {
        facts.runStarted = facts.log->created;
    }
}

void FindCrashDump(const std::wstring& service, StatusFacts& facts)
{
    for (const auto& folder : {TempFolder(), WindowsTempFolder()}) {
        const auto dump = FindNewest(folder, ServiceFileName(service), &ServiceFileSuffixes::IsCrashDumpSuffix);
        if (dump && (!facts.dump || facts.dump->written < dump->written)) {
            facts.dump = dump;
        }
    }
}

void ReadVerdict(StatusFacts& facts)
{
    if (facts.log) {
        facts.logLines = ReadLines(facts.log->path, facts.logError);
    }
    if (!facts.logLines) {
        return;
    }
    facts.verdict = ReadLogVerdict(*facts.logLines);
    const DWORD state = facts.status.dwCurrentState;
    const bool pending = (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) && !facts.fate.ended;
    if (pending && !facts.verdict.pendingModule.empty()) {
        facts.pendingSeconds = SecondsBetween(facts.verdict.pendingSince, LocalLogTime()).value_or(0);
    }
}

StatusFacts GatherFacts(const std::wstring& service, SC_HANDLE handle, const SERVICE_STATUS_PROCESS& status)
{
    StatusFacts facts;
    facts.status = status;
    if (status.dwProcessId != 0) {
        facts.fate = FateOf(status.dwProcessId, ProgramOf(ImagePathOf(handle)));
    }
    facts.exitCode = facts.fate.ended ? facts.fate.exitCode : std::optional(ExitCodeOf(status));
    FindModuleLog(service, facts);
    FindCrashDump(service, facts);
    facts.exitStatus = StatusExitCode(status.dwCurrentState, facts.fate.ended, ExitCodeOf(status));
    ReadVerdict(facts);
    return facts;
}

std::wstring ExitCodeText(DWORD value)
{
    const DecodedCode code = DecodeCode(value);
    const std::wstring text = KnownMeaning(value).value_or(CodeMessage(code));
    return DescribeCode(code) + (text.empty() ? L"" : L": " + text);
}

void PrintLog(const StatusFacts& facts)
{
    if (!facts.log) {
        Out(L"module log: none in " + facts.logFolder);
        return;
    }
    Out((facts.logOfProcess ? L"module log: " : L"newest module log: ") + facts.log->path);
    if (!facts.logLines) {
        Out(L"  (cannot be read" + Win32Reason(facts.logError) + L")");
        return;
    }
    for (const std::wstring& line : LastLines(*facts.logLines)) {
        Out(L"  " + line);
    }
}

void PrintDump(const StatusFacts& facts)
{
    if (!facts.dump) {
        Out(L"crash dump: none in " + TempFolder() + L" or " + WindowsTempFolder());
    } else if (facts.DumpOfRun()) {
        Out(L"crash dump of the last run: " + facts.dump->path);
    } else {
        Out(L"newest crash dump: " + facts.dump->path +
            (facts.runStarted ? L" (written before the last run started)" : L""));
    }
}

// What went wrong, or what has not returned, before the log's last lines.
void PrintVerdict(const StatusFacts& facts)
{
    const LogVerdict& verdict = facts.verdict;
    if (!verdict.failure.empty()) {
        Out(L"failure: " + verdict.failure);
    }
    if (!verdict.failedModule.empty()) {
        Out(L"failed module: " + verdict.failedModule);
    }
    if (facts.pendingSeconds) {
        Out(L"waiting for: " + verdict.pendingEntry + L" of " + verdict.pendingModule + L", called " +
            std::to_wstring(*facts.pendingSeconds) + L" s ago (" + verdict.pendingSince + L")");
    }
}

void PrintText(const std::wstring& service, const StatusFacts& facts)
{
    const DWORD processId = facts.status.dwProcessId;
    Out(L"service: " + service);
    Out(L"state: " + ServiceStateName(facts.status.dwCurrentState));
    Out(L"process id: " + (processId == 0
                               ? std::wstring(L"none")
                               : std::to_wstring(processId) + (facts.fate.ended ? L" (process ended)" : L"")));
    Out(L"accepted controls: " +
        (facts.Stopped() ? std::wstring(L"none") : AcceptedControlNames(facts.status.dwControlsAccepted)));
    Out(facts.exitCode ? L"exit code: " + ExitCodeText(*facts.exitCode)
                       : L"exit code: unknown: the process ended without reporting SERVICE_STOPPED");
    PrintVerdict(facts);
    PrintLog(facts);
    PrintDump(facts);
}

std::vector<std::wstring> ControlList(const StatusFacts& facts)
{
    std::vector<std::wstring> controls;
    const std::wstring names = facts.Stopped() ? L"none" : AcceptedControlNames(facts.status.dwControlsAccepted);
    for (std::size_t start = 0; names != L"none" && start < names.size();) {
        const std::size_t end = std::min(names.find(L", ", start), names.size());
        controls.push_back(names.substr(start, end - start));
        start = end + 2;
    }
    return controls;
}

void PrintJson(const std::wstring& service, const StatusFacts& facts)
{
    const DWORD processId = facts.status.dwProcessId;
    JsonObject object;
    object.String(L"service", service);
    object.String(L"state", ServiceStateName(facts.status.dwCurrentState));
    object.Number(L"processId", processId == 0 ? std::nullopt : std::optional<std::int64_t>(processId));
    object.Bool(L"processEnded", facts.fate.ended);
    object.Strings(L"acceptedControls", ControlList(facts));
    object.Number(L"exitCode", facts.exitCode ? std::optional<std::int64_t>(*facts.exitCode) : std::nullopt);
    object.String(L"exitCodeText", facts.exitCode ? std::optional(ExitCodeText(*facts.exitCode)) : std::nullopt);
    object.String(L"moduleLog", facts.log ? std::optional(facts.log->path) : std::nullopt);
    object.Bool(L"moduleLogOfProcess", facts.logOfProcess);
    object.Strings(L"moduleLogLastLines", facts.logLines ? LastLines(*facts.logLines) : std::vector<std::wstring>());
    object.String(L"crashDump", facts.dump ? std::optional(facts.dump->path) : std::nullopt);
    object.Bool(L"crashDumpOfLastRun", facts.DumpOfRun());
    object.Number(L"status", facts.exitStatus);
    const auto optional = [](const std::wstring& text) { return text.empty() ? std::nullopt : std::optional(text); };
    const LogVerdict& verdict = facts.verdict;
    object.String(L"failedModule", optional(verdict.failedModule));
    object.String(L"failure", optional(verdict.failure));
    object.String(L"pendingModule", facts.pendingSeconds ? optional(verdict.pendingModule) : std::nullopt);
    object.String(L"pendingEntry", facts.pendingSeconds ? optional(verdict.pendingEntry) : std::nullopt);
    object.Number(L"pendingSeconds", facts.pendingSeconds);
    object.Number(L"schemaVersion", kStatusSchemaVersion);
    Out(object.Text());
}

} // namespace

int Status(const std::wstring& service, bool json)
{
    // Said on standard error, and with --json also as an object on standard output, so that a script
    // reading it gets one for every outcome.
    const auto fail = [&](const std::wstring& text, int exitCode) {
        Fail(L"status", text);
        if (json) {
            JsonObject object;
            object.String(L"service", service);
            object.String(L"error", text);
            object.Number(L"status", exitCode);
            object.Number(L"schemaVersion", kStatusSchemaVersion);
            Out(object.Text());
        }
        return exitCode;
    };
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return fail(L"the Service Control Manager cannot be opened" + Win32Reason(GetLastError()), kExitFailure);
    }
    const UniqueServiceHandle handle(
        OpenServiceW(manager.get(), service.c_str(), SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
    if (!handle) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
            return fail(L"service \"" + service + L"\" does not exist", kStatusNoSuchService);
        }
        return fail(L"service \"" + service + L"\" cannot be opened" + Win32Reason(error), kExitFailure);
    }
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (QueryServiceStatusEx(handle.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                             &needed) == 0) {
        return fail(L"the status of service \"" + service + L"\" cannot be read" + Win32Reason(GetLastError()),
                    kExitFailure);
    }
    const StatusFacts facts = GatherFacts(service, handle.get(), status);
    if (json) {
        PrintJson(service, facts);
    } else {
        PrintText(service, facts);
    }
    return facts.exitStatus;
}

} // namespace QxServiceCtl
