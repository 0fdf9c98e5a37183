// Win32 helpers of the stand-ins alone. Header-only, so each stand-in stays one self-contained image.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "Win32Support/ModuleFiles.h"
#include "Win32Support/WideText.h"

namespace QxStandIn {

inline HRESULT HResultFromWin32(DWORD error)
{
    return error == ERROR_SUCCESS ? S_OK : static_cast<HRESULT>((error & 0xFFFF) | 0x80070000U);
}

// What follows the program name in a command line: after its closing quote when it is quoted, else
// from the first blank on.
inline std::wstring_view ArgumentsOfCommandLine(std::wstring_view commandLine)
{
    if (commandLine.starts_with(L'"')) {
        const std::size_t closing = commandLine.find(L'"', 1);
        return commandLine.substr(closing == std::wstring_view::npos ? commandLine.size() : closing + 1);
    }
    return commandLine.substr(std::min(commandLine.find_first_of(L" \t"), commandLine.size()));
}

// The service this process runs, as the host takes it from its command line: the arguments after
// the program name are cut at every "-", and the last piece whose first four characters are "name"
// (in any case) gives the text after its first "=" or space, spaces trimmed. Empty for a process
// without one, such as a test that loads a stand-in itself.
inline std::wstring ServiceNameOfProcess()
{
    const std::wstring_view arguments = ArgumentsOfCommandLine(GetCommandLineW());
    std::wstring name;
    for (std::size_t start = 0; start < arguments.size();) {
        const std::size_t hyphen = arguments.find(L'-', start);
        const std::wstring_view piece =
            arguments.substr(start, hyphen == std::wstring_view::npos ? std::wstring_view::npos : hyphen - start);
        start = hyphen == std::wstring_view::npos ? arguments.size() : hyphen + 1;
        if (piece.size() < 4 || !Qx::Win32Support::EqualIgnoringCase(piece.substr(0, 4), L"name")) {
            continue;
        }
        const std::size_t separator = piece.find_first_of(L"= ");
        if (separator == std::wstring_view::npos) {
            continue;
        }
        std::wstring_view value = piece.substr(separator + 1);
        value.remove_prefix(std::min(value.find_first_not_of(L' '), value.size()));
        value = value.substr(0, value.find_last_not_of(L' ') + 1);
        name.assign(value);
    }
    return name;
}

// "Logs\" beside the executable, where the stand-ins write their files; empty on failure.
inline std::wstring LogsDirectory()
{
    const std::wstring directory = Qx::Win32Support::ExecutableDirectory();
    return directory.empty() ? directory : directory + L"Logs\\";
}

// Creates LogsDirectory() unless it exists; the Win32 error of a failure, 0 on success.
inline DWORD CreateLogsDirectory(std::wstring& directory)
{
    directory = LogsDirectory();
    if (directory.empty()) {
        return GetLastError();
    }
    if (!CreateDirectoryW(directory.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

// "YYYY-MM-DD HH:MM:SS.mmm"
inline std::string TimeStamp(const SYSTEMTIME& time)
{
    char stamp[32];
    std::snprintf(stamp, sizeof(stamp), "%04u-%02u-%02u %02u:%02u:%02u.%03u", time.wYear, time.wMonth, time.wDay,
                  time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
    return stamp;
}

inline std::string LocalTimeStamp()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return TimeStamp(now);
}

// An SRW lock, unlike std::mutex, cannot throw.
class SrwLockGuard {
public:
    explicit SrwLockGuard(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~SrwLockGuard() { ReleaseSRWLockExclusive(&lock_); }
    SrwLockGuard(const SrwLockGuard&) = delete;
    SrwLockGuard& operator=(const SrwLockGuard&) = delete;

private:
    SRWLOCK& lock_;
};

} // namespace QxStandIn
