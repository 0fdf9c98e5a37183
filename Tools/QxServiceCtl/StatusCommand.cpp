#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <optional>

#include "CodeMessages.h"
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
#include "ServiceConfigView.h"
#include "ServiceControl.h"
#include "ServiceManager.h"
#include "StatusFiles.h"

namespace QxServiceCtl {

namespace {

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

// Everything status tells of a service, gathered before any of it is printed.
struct StatusFacts : StatusFiles {
    SERVICE_STATUS_PROCESS status{};
    ProcessFate fate;
    // nullopt when the process ended without reporting one.
    std::optional<DWORD> exitCode;
    std::wstring logFolder;
    int exitStatus = kStatusRunning;
    // The log's lines, and the error when it cannot be read.
    std::optional<std::vector<std::wstring>> logLines;
    std::uint32_t logError = 0;
    LogVerdict verdict;
    // How long the pending module entry has run; empty when no entry is pending or the service is
    // not pending.
    std::optional<std::int64_t> pendingSeconds;
    ServiceConfigView config;

    [[nodiscard]] bool Stopped() const { return status.dwCurrentState == SERVICE_STOPPED || fate.ended; }
};

// The log of the process when its id is known, and the newest crash dump of either temporary folder.
void FindFiles(const std::wstring& service, StatusFacts& facts)
{
    facts.logFolder = ToolFolder() + L"Logs\\";
    const std::wstring fileName = ServiceFileName(service);
    std::vector<FoundFile> processLogs;
    if (const DWORD processId = facts.status.dwProcessId; processId != 0) {
        processLogs = FindServiceFiles(facts.logFolder, fileName + L"(" + std::to_wstring(processId) + L").log",
                                       [](std::wstring_view rest) { return rest.empty(); });
    }
    std::vector<FoundFile> dumps;
    for (const auto& folder : {TempFolder(), WindowsTempFolder()}) {
        std::ranges::move(FindServiceFiles(folder, fileName, &ServiceFileSuffixes::IsCrashDumpSuffix),
                          std::back_inserter(dumps));
    }
    static_cast<StatusFiles&>(facts) = ChooseStatusFiles(
        processLogs, FindServiceFiles(facts.logFolder, fileName, &ServiceFileSuffixes::IsModuleLogSuffix), dumps,
        facts.fate.started);
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

StatusFacts GatherFacts(const std::wstring& service, SC_HANDLE handle, const ServiceState& state)
{
    StatusFacts facts;
    const SERVICE_STATUS_PROCESS& status = state.status;
    facts.status = status;
    facts.fate = state.fate;
    std::wstring ignored;
    (void)ReadServiceConfig(handle, service, facts.config, ignored);
    facts.exitCode = facts.fate.ended ? facts.fate.exitCode : std::optional(ExitCodeOf(status));
    FindFiles(service, facts);
    facts.exitStatus = StatusExitCode(status.dwCurrentState, facts.fate.ended, ExitCodeOf(status));
    ReadVerdict(facts);
    return facts;
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
    object.String(L"startType", StartTypeWord(facts.config.startType, facts.config.delayedStart));
    object.String(L"modules", facts.config.modules.text);
    object.Number(L"schemaVersion", kJsonSchemaVersion);
    Out(object.Text());
}

int Status(const std::wstring& service, bool json)
{
    const auto fail = [&](const std::wstring& text, int exitCode) {
        return Fail(L"status", text, {json, service, exitCode});
    };
    const OpenedService opened = OpenNamedService(service, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
    if (!opened.handle) {
        return fail(opened.reason, opened.missing ? kStatusNoSuchService : kExitFailure);
    }
    const SC_HANDLE handle = opened.handle.get();
    ServiceState state;
    if (std::wstring reason; !ReadServiceState(handle, state, reason)) {
        return fail(L"service \"" + service + L"\": " + reason, kExitFailure);
    }
    const StatusFacts facts = GatherFacts(service, handle, state);
    if (json) {
        PrintJson(service, facts);
    } else {
        PrintText(service, facts);
    }
    return facts.exitStatus;
}

} // namespace

const CommandEntry kStatusCommand{
    CommandKind::Status,
    {L"QxServiceCtl status <service> [--json]",
     L"    State, process id (and whether that process still runs), accepted controls, exit code, the",
     L"    process's module log (or the newest), the newest crash dump and whether the last run wrote it.",
     L"    --json prints the same as one JSON object.",
     L"    Exits 0 running, 3 not running (stopped with exit code 0, never started, pending, paused),",
     L"    1 stopped with a failure or its process ended, 4 no such service."},
    [](const Command& command) { return Status(command.target, command.Get<ViewOptions>().json); }};

} // namespace QxServiceCtl
