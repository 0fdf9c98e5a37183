// QxWatchdogAgent.dll: records what the host tells the watchdog in a status file beside this DLL.
// File name, content and results are described in README.md beside this file.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

constexpr const wchar_t* kNoService = L"(none)";

// Every export may be called from any thread; one lock keeps the record and its file consistent.
// An SRW lock, unlike std::mutex, cannot throw.
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

class LockGuard {
public:
    LockGuard() { AcquireSRWLockExclusive(&g_lock); }
    ~LockGuard() { ReleaseSRWLockExclusive(&g_lock); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;
};

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

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, utf8.data(), size, nullptr, nullptr);
    return utf8;
}

std::string FormatCall(const char* name, const CallTime& call)
{
    const SYSTEMTIME& t = call.localTime;
    char line[96];
    std::snprintf(line, sizeof(line), "%s=%04u-%02u-%02u %02u:%02u:%02u.%03u qpc=%lld\r\n", name, t.wYear, t.wMonth,
                  t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, call.qpc);
    return line;
}

std::string FormatStatus(const AgentRecord& record)
{
    std::string status = "service=" + ToUtf8(record.serviceName) + "\r\n";
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

std::wstring OwnDirectory()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path.substr(0, path.find_last_of(L'\\') + 1);
        }
        path.resize(path.size() * 2);
    }
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
    const std::wstring directory = OwnDirectory();
    if (directory.empty()) {
        return GetLastError();
    }
    const std::wstring path = directory + StatusFileName(record.serviceName);
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    const std::string status = FormatStatus(record);
    DWORD written = 0;
    const bool ok = WriteFile(file, status.data(), static_cast<DWORD>(status.size()), &written, nullptr) != FALSE;
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    return error;
}

} // namespace

// The host passes at most 255 characters; anything else, or nothing, is a caller's mistake.
extern "C" __declspec(dllexport) int WAInitW(const wchar_t* serviceName)
{
    if (serviceName == nullptr || *serviceName == L'\0' || wcsnlen(serviceName, 256) > 255) {
        return ERROR_INVALID_PARAMETER;
    }
    try {
        const LockGuard lock;
        AgentRecord record = g_record;
        record.serviceName = serviceName;
        record.init = Now();
        record.deinit = CallTime{};
        record.running = true;
        const DWORD error = WriteStatus(record);
        g_record = std::move(record);
        return static_cast<int>(error);
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

extern "C" __declspec(dllexport) int WADeinit()
{
    try {
        const LockGuard lock;
        AgentRecord record = g_record;
        record.deinit = Now();
        record.running = false;
        const DWORD error = WriteStatus(record);
        g_record = std::move(record);
        return static_cast<int>(error);
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

extern "C" __declspec(dllexport) int WAOnEnter()
{
    return 0;
}

extern "C" __declspec(dllexport) int WAOnExit()
{
    return 0;
}
