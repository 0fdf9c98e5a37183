// QxWatchdogAgent.dll: records what the host tells the watchdog in a status file beside this DLL.
// File name, content and results are described in README.md beside this file.
#include <windows.h>

#include <cwchar>
#include <string>
#include <string_view>

#include "Platform/Win32/UniqueWin32Handles.h"
#include "StandInSupport.h"

namespace {

constexpr const wchar_t* kNoService = L"(none)";

// Every export may be called from any thread; one lock keeps the record and its file consistent.
SRWLOCK g_lock = SRWLOCK_INIT;

struct CallTime {
    bool recorded = false;
    SYSTEMTIME localTime{};
    LONGLONG qpc = 0;
};

struct AgentRecord {
    std::wstring serviceName = kNoService;
    CallTime init;
    CallTime deinit;
    bool running = false;
};

AgentRecord g_record;

CallTime Now()
{
    CallTime now;
    now.recorded = true;
    GetLocalTime(&now.localTime);
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    now.qpc = counter.QuadPart;
    return now;
}

std::string FormatCall(const char* name, const CallTime& call)
{
    return std::string(name) + "=" + QxStandIn::TimeStamp(call.localTime) + " qpc=" + std::to_string(call.qpc) + "\r\n";
}

std::string FormatStatus(const AgentRecord& record)
{
    std::string status = "service=" + Qx::Win32Support::ToUtf8(record.serviceName) + "\r\n";
    status += "pid=" + std::to_string(GetCurrentProcessId()) + "\r\n";
    if (record.init.recorded) {
        status += FormatCall("WAInitW", record.init);
    }
    if (record.deinit.recorded) {
        status += FormatCall("WADeinit", record.deinit);
    }
    status += record.running ? "state=running\r\n" : "state=stopped\r\n";
    return status;
}

// Service names may hold characters that a file name may not; only the file name replaces them.
std::wstring StatusFileName(const std::wstring& serviceName)
{
    std::wstring name = serviceName;
    for (wchar_t& c : name) {
        if (c < L' ' || std::wstring_view(L"<>:\"/\\|?*").find(c) != std::wstring_view::npos) {
            c = L'_';
        }
    }
    return L"QxWatchdogAgent." + name + L".status";
}

// The file is replaced as a whole with one write, so a reader sees either the previous or the new
// status, apart from the moment between truncation and the write.
DWORD WriteStatus(const AgentRecord& record)
{
    const std::wstring directory = Qx::Win32Support::ModuleDirectory(Qx::Win32Support::ThisModule());
    if (directory.empty()) {
        return GetLastError();
    }
    const std::wstring path = directory + StatusFileName(record.serviceName);
    const Qx::Platform::UniqueKernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE,
                                                            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return GetLastError();
    }
    const std::string status = FormatStatus(record);
    DWORD written = 0;
    const bool ok = WriteFile(file.get(), status.data(), static_cast<DWORD>(status.size()), &written, nullptr) != FALSE;
    return ok ? ERROR_SUCCESS : GetLastError();
}

// Changes the record under the lock and writes it out; the record changes even when the file
// cannot be written, as the agent's state does.
template <class Change>
int UpdateRecord(const Change& change)
{
    try {
        const QxStandIn::SrwLockGuard lock(g_lock);
        AgentRecord record = g_record;
        change(record);
        const DWORD error = WriteStatus(record);
        g_record = std::move(record);
        return static_cast<int>(error);
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

} // namespace

// The host passes at most 255 characters; anything else, or nothing, is a caller's mistake.
extern "C" __declspec(dllexport) int WAInitW(const wchar_t* serviceName)
{
    if (serviceName == nullptr || *serviceName == L'\0' || wcsnlen(serviceName, 256) > 255) {
        return ERROR_INVALID_PARAMETER;
    }
    return UpdateRecord([serviceName](AgentRecord& record) {
        record.serviceName = serviceName;
        record.init = Now();
        record.deinit = CallTime{};
        record.running = true;
    });
}

extern "C" __declspec(dllexport) int WADeinit()
{
    return UpdateRecord([](AgentRecord& record) {
        record.deinit = Now();
        record.running = false;
    });
}

extern "C" __declspec(dllexport) int WAOnEnter()
{
    return 0;
}

extern "C" __declspec(dllexport) int WAOnExit()
{
    return 0;
}
