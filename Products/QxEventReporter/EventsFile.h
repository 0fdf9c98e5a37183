// The events files of the stand-in event libraries: one readable line per call, appended to a file
// in the folder "Logs" beside the process's executable. The format is described in README.md
// beside this file. Shared by QxEventReporter.dll and QxEventAgentClient.dll.
#pragma once

#include <windows.h>

#include <sddl.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace QxEventsFile {

// Lines of several threads and processes never mix: each is one WriteFile through an append-only
// handle, made while holding this mutex. The handle alone is not enough under Wine 8, which appends
// at the end of the file as it last saw it and so overwrites lines appended meanwhile.
inline constexpr const wchar_t* kMutexName = L"Global\\QxEventLibrariesEventsFile";
inline constexpr DWORD kMutexWaitMs = 5000;

inline HRESULT HResultFromWin32(DWORD error)
{
    return error == ERROR_SUCCESS ? S_OK : static_cast<HRESULT>((error & 0xFFFF) | 0x80070000U);
}

// The six event types of ReportEventW.
inline bool IsEventType(WORD type)
{
    return type == EVENTLOG_SUCCESS || type == EVENTLOG_ERROR_TYPE || type == EVENTLOG_WARNING_TYPE ||
           type == EVENTLOG_INFORMATION_TYPE || type == EVENTLOG_AUDIT_SUCCESS || type == EVENTLOG_AUDIT_FAILURE;
}

inline std::string ToUtf8(std::wstring_view text)
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

// Texts in UTF-8, with backslash, tab, carriage return and line feed escaped, so that a field never
// holds a separator and a line never breaks.
inline std::string Escaped(std::wstring_view text)
{
    std::string escaped;
    for (const char c : ToUtf8(text)) {
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\r':
            escaped += "\\r";
            break;
        case '\n':
            escaped += "\\n";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

inline std::string Hex32(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", value);
    return text;
}

// "S-1-5-18", or "-" without a SID.
inline std::string SidText(PSID sid)
{
    if (sid == nullptr) {
        return "-";
    }
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) {
        return "?";
    }
    const std::string converted = ToUtf8(text);
    LocalFree(text);
    return converted;
}

// "\tstrings=<count>" and "\t%<n>=<text>" for each entry that is not null.
inline std::string StringFields(WORD count, const wchar_t** strings)
{
    std::string fields = "\tstrings=" + std::to_string(count);
    for (WORD i = 0; strings != nullptr && i < count; ++i) {
        if (strings[i] != nullptr) {
            fields += "\t%" + std::to_string(i + 1) + "=" + Escaped(strings[i]);
        }
    }
    return fields;
}

inline std::wstring LogsFolder()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path.substr(0, path.find_last_of(L'\\') + 1) + L"Logs\\";
        }
        path.resize(path.size() * 2);
    }
}

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle()
    {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

// Appends "<local time>\t<pid>\t<call><fields>" and CR LF to Logs\<fileName>; the Win32 error of a
// failure, 0 on success.
inline DWORD AppendLine(const wchar_t* fileName, const char* call, const std::string& fields)
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char stamp[64];
    std::snprintf(stamp, sizeof(stamp), "%04u-%02u-%02u %02u:%02u:%02u.%03u\t%lu\t", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, GetCurrentProcessId());
    const std::string line = stamp + std::string(call) + fields + "\r\n";

    const std::wstring folder = LogsFolder();
    if (folder.empty()) {
        return GetLastError();
    }
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return GetLastError();
    }
    const Handle mutex(CreateMutexW(nullptr, FALSE, kMutexName));
    if (!mutex.valid()) {
        return GetLastError();
    }
    const DWORD wait = WaitForSingleObject(mutex.get(), kMutexWaitMs);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        return wait == WAIT_TIMEOUT ? ERROR_TIMEOUT : GetLastError();
    }
    DWORD error = ERROR_SUCCESS;
    {
        const Handle file(CreateFileW((folder + fileName).c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file.valid() || !WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
            error = GetLastError();
        } else if (written != line.size()) {
            error = ERROR_WRITE_FAULT;
        }
    }
    ReleaseMutex(mutex.get());
    return error;
}

} // namespace QxEventsFile
