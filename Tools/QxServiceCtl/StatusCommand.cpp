#include <windows.h>

#include <deque>
#include <optional>

#include "CodeText.h"
#include "Commands.h"
#include "Common/ServiceFileName.h"
#include "Common/UiLanguage.h"
#include "Console.h"
#include "HostFiles.h"
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

void ShowExitCode(const SERVICE_STATUS_PROCESS& status)
{
    const DWORD value = status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR ? status.dwServiceSpecificExitCode
                                                                               : status.dwWin32ExitCode;
    const DecodedCode code = DecodeCode(value);
    std::wstring text = GetErrorText(code.value);
    if (text.empty() && code.kind == CodeKind::HResultFromWin32) {
        text = GetErrorText(code.win32Error);
    }
    Out(L"exit code: " + DescribeCode(code) + (text.empty() ? L"" : L": " + text));
}

void ShowModuleLog(const std::wstring& service)
{
    const std::wstring folder = ToolFolder() + L"Logs\\";
    const auto log = FindNewest(folder, ServiceFileName(service) + L"(*).log");
    if (!log) {
        Out(L"module log: none in " + folder);
        return;
    }
    Out(L"module log: " + log->path);
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
    Out(L"crash dump: " + (newest ? newest->path : L"none in " + TempFolder() + L" or " + WindowsTempFolder()));
}

} // namespace

int Status(const std::wstring& service)
{
    constexpr const wchar_t* kCommand = L"status";
    const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return Fail(kCommand, L"the Service Control Manager cannot be opened" + Win32Reason(GetLastError()));
    }
    const ServiceHandle handle(OpenServiceW(manager.get(), service.c_str(), SERVICE_QUERY_STATUS));
    if (!handle) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
            return Fail(kCommand, L"service \"" + service + L"\" does not exist");
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
    Out(L"service: " + service);
    Out(L"state: " + ServiceStateName(status.dwCurrentState));
    Out(L"process id: " + (status.dwProcessId != 0 ? std::to_wstring(status.dwProcessId) : L"none"));
    Out(L"accepted controls: " + AcceptedControlNames(status.dwControlsAccepted));
    ShowExitCode(status);
    ShowModuleLog(service);
    ShowCrashDump(service);
    return kExitSuccess;
}

} // namespace QxServiceCtl
