#include <windows.h>

#include <deque>
#include <iterator>
#include <optional>

#include "CodeText.h"
#include "Commands.h"
#include "Common/ServiceFileName.h"
#include "Common/UiLanguage.h"
#include "Console.h"
#include "HostFiles.h"
#include "InstallRules.h"
#include "ServiceManager.h"
#include "WholeFile.h"

namespace QxServiceCtl {

namespace {

constexpr std::size_t kLogLinesShown = 10;

struct NewestFile {
    std::wstring path;
    FILETIME written{};
};

// The most recently written file matching pattern in folder.
std::optional<NewestFile> FindNewest(const std::wstring& folder, const std::wstring& pattern)
{
    WIN32_FIND_DATAW data{};
    const FindHandle find(FindFirstFileW((folder + pattern).c_str(), &data));
    if (!find) {
        return std::nullopt;
    }
    std::optional<NewestFile> newest;
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            (!newest || CompareFileTime(&data.ftLastWriteTime, &newest->written) > 0)) {
            newest = NewestFile{folder + data.cFileName, data.ftLastWriteTime};
        }
    } while (FindNextFileW(find.get(), &data));
    return newest;
}

std::wstring Utf8ToWide(const std::string& text)
{
    std::wstring wide;
    (void)Qx::Platform::Text().Utf8ToWide(text, wide);
    return wide;
}

void ShowLastLines(const std::wstring& path)
{
    const auto content = ReadWholeFile(path);
    if (!content) {
        Out(L"  (cannot be read" + Win32Reason(GetLastError()) + L")");
        return;
    }
    std::deque<std::string> lines;
    std::size_t start = 0;
    while (start < content->size()) {
        std::size_t end = content->find('\n', start);
        end = end == std::string::npos ? content->size() : end;
        std::string line = content->substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(std::move(line));
        if (lines.size() > kLogLinesShown) {
            lines.pop_front();
        }
        start = end + 1;
    }
    for (const auto& line : lines) {
        Out(L"  " + Utf8ToWide(line));
    }
}

// What became of the process the Service Control Manager names: Wine keeps a crashed service
// RUNNING with its dead process id, and a later process may have taken the id.
struct ProcessFate {
    bool ended = false;
    std::optional<DWORD> exitCode;
};

ProcessFate FateOf(DWORD processId, std::wstring_view program)
{
    const KernelObject process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) {
        return {true, std::nullopt};
    }
    DWORD exitCode = 0;
    if (WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) {
        return {true, GetExitCodeProcess(process.get(), &exitCode) ? std::optional(exitCode) : std::nullopt};
    }
    wchar_t image[1024];
    DWORD size = static_cast<DWORD>(std::size(image));
    const bool imageRead = QueryFullProcessImageNameW(process.get(), 0, image, &size) != 0;
    return {imageRead && !program.empty() && !SameIgnoringCase(std::wstring_view(image, size), program), std::nullopt};
}

DWORD ExitCodeOf(const SERVICE_STATUS_PROCESS& status)
{
    return status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR ? status.dwServiceSpecificExitCode
                                                                  : status.dwWin32ExitCode;
}

void ShowExitCode(DWORD value)
{
    const DecodedCode code = DecodeCode(value);
    const std::wstring text = KnownMeaning(value).value_or(CodeMessage(code));
    Out(L"exit code: " + DescribeCode(code) + (text.empty() ? L"" : L": " + text));
}

// The log of the process when its id is known; otherwise the newest, which may be an earlier run's.
void ShowModuleLog(const std::wstring& service, DWORD processId)
{
    const std::wstring folder = ToolFolder() + L"Logs\\";
    const std::wstring own = folder + ServiceFileName(service) + L"(" + std::to_wstring(processId) + L").log";
    if (processId != 0 && FileExists(own)) {
        Out(L"module log: " + own);
        ShowLastLines(own);
        return;
    }
    const auto log = FindNewest(folder, ServiceFileName(service) + L"(*).log");
    if (!log) {
        Out(L"module log: none in " + folder);
        return;
    }
    Out(L"newest module log: " + log->path);
    ShowLastLines(log->path);
}

void ShowCrashDump(const std::wstring& service)
{
    std::optional<NewestFile> newest;
    for (const auto& folder : {TempFolder(), WindowsTempFolder()}) {
        const auto dump = FindNewest(folder, ServiceFileName(service) + L"_*.dmp");
        if (dump && (!newest || CompareFileTime(&dump->written, &newest->written) > 0)) {
            newest = dump;
        }
    }
    Out(newest ? L"newest crash dump: " + newest->path
               : L"crash dump: none in " + TempFolder() + L" or " + WindowsTempFolder());
}

} // namespace

int Status(const std::wstring& service)
{
    constexpr const wchar_t* kCommand = L"status";
    const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return Fail(kCommand, L"the Service Control Manager cannot be opened" + Win32Reason(GetLastError()));
    }
    const ServiceHandle handle(
        OpenServiceW(manager.get(), service.c_str(), SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
    if (!handle) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
            Fail(kCommand, L"service \"" + service + L"\" does not exist");
            return kStatusNoSuchService;
        }
        return Fail(kCommand, L"service \"" + service + L"\" cannot be opened" + Win32Reason(error));
    }
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(handle.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                              &needed)) {
        return Fail(kCommand,
                    L"the status of service \"" + service + L"\" cannot be read" + Win32Reason(GetLastError()));
    }
    const ProcessFate fate =
        status.dwProcessId != 0 ? FateOf(status.dwProcessId, ProgramOf(ImagePathOf(handle.get()))) : ProcessFate{};
    Out(L"service: " + service);
    Out(L"state: " + ServiceStateName(status.dwCurrentState));
    Out(L"process id: " + (status.dwProcessId == 0
                               ? std::wstring(L"none")
                               : std::to_wstring(status.dwProcessId) + (fate.ended ? L" (process ended)" : L"")));
    const bool stopped = status.dwCurrentState == SERVICE_STOPPED || fate.ended;
    Out(L"accepted controls: " + (stopped ? std::wstring(L"none") : AcceptedControlNames(status.dwControlsAccepted)));
    if (fate.ended && !fate.exitCode) {
        Out(L"exit code: unknown: the process ended without reporting SERVICE_STOPPED");
    } else {
        ShowExitCode(fate.exitCode.value_or(ExitCodeOf(status)));
    }
    ShowModuleLog(service, status.dwProcessId);
    ShowCrashDump(service);
    return StatusExitCode(status.dwCurrentState, fate.ended, ExitCodeOf(status));
}

} // namespace QxServiceCtl
