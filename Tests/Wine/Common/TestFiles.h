// Win32 file and text helpers of the Wine tests and the test modules. Free of gtest, so that the
// test modules, which are DLLs the host loads, can use them too.
#pragma once

#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace QxWineTest {

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

// The path of a loaded module, of the executable for nullptr.
inline std::wstring ModulePath(HMODULE module)
{
    wchar_t path[MAX_PATH * 4] = {};
    const DWORD length = GetModuleFileNameW(module, path, static_cast<DWORD>(std::size(path)));
    return std::wstring(path, length);
}

// The executable's folder with its trailing backslash.
inline std::wstring ExecutableDirectory()
{
    const std::wstring exe = ModulePath(nullptr);
    return exe.substr(0, exe.find_last_of(L'\\') + 1);
}

// "Logs\" beside the executable, where the host and the stand-ins write their files.
inline std::wstring LogsDirectory()
{
    return ExecutableDirectory() + L"Logs\\";
}

inline bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The whole file, shared with writers that keep it open; nullopt when it cannot be opened, with the
// error left for GetLastError.
inline std::optional<std::string> ReadWholeFile(const std::wstring& path)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::string content;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read != 0) {
        content.append(chunk, read);
    }
    CloseHandle(file);
    return content;
}

// "YYYY-MM-DD HH:MM:SS.mmm"
inline std::string TimeStamp(const SYSTEMTIME& time)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u.%03u", time.wYear, time.wMonth, time.wDay,
                  time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
    return text;
}

inline std::string LocalTimeStamp()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return TimeStamp(now);
}

// Whether text has the shape of TimeStamp's result.
inline bool IsTimeStamp(const std::string& text)
{
    const std::string pattern = "dddd-dd-dd dd:dd:dd.ddd";
    if (text.size() != pattern.size()) {
        return false;
    }
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (pattern[i] == 'd' ? !digit : text[i] != pattern[i]) {
            return false;
        }
    }
    return true;
}

} // namespace QxWineTest
