// Shared by the test modules, the test watchdog agent and the test log compressor: the registry key
// that steers them and the trace file through which a test sees every call the host made into them.
//
// Each service has a key of its own below its key in the Service Control Manager's database,
//     HKLM\SYSTEM\CurrentControlSet\Services\<service>\TestModules
// the service being the one the process's command line names with -name=, as the host reads it. A
// process without one (a test that loads the libraries itself) uses the base name of its executable
// instead. So tests of services that run side by side never share a setting, and deleting a service's
// key deletes its settings too.
//
// REG_SZ "TraceFile" of that key: absolute path of the trace file; without it nothing is traced.
// Each call appends one line, CR LF terminated:
//     <QueryPerformanceCounter> <pid> <tid> <module> <event>
// Lines of several modules, threads and processes never mix: each line is one WriteFile through an
// append-only handle, made while holding a named mutex. The handle alone is not enough under Wine 8,
// which appends at the end of file as it last saw it: of 2000 lines appended by four threads at once,
// one or two were overwritten.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "Platform/Win32/UniqueWin32Handles.h"
#include "TestFiles.h"

namespace Qx::Testing {

// Global, so that a service in session 0 and a test in another session share it on Windows.
inline constexpr const wchar_t* kTraceMutexName = L"Global\\QxTestModulesTrace";
inline constexpr DWORD kTraceMutexWaitMs = 5000;

// The file name of a path without its extension.
inline std::wstring BaseName(const std::wstring& path)
{
    const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
    return name.substr(0, name.find_last_of(L'.'));
}

inline std::wstring OwnBaseName()
{
    return BaseName(Qx::Testing::ModulePath(Qx::Win32Support::ThisModule()));
}

// HKLM\SYSTEM\CurrentControlSet\Services\<service>\TestModules, without HKLM.
inline std::wstring SettingsKey()
{
    std::wstring service = Qx::Testing::ServiceNameOfProcess();
    if (service.empty()) {
        service = BaseName(Qx::Testing::ModulePath(nullptr));
    }
    return L"SYSTEM\\CurrentControlSet\\Services\\" + service + L"\\TestModules";
}

inline std::optional<DWORD> ReadDword(const std::wstring& key, const wchar_t* name)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

// Empty when the value is missing or no REG_SZ.
inline std::wstring ReadString(const std::wstring& key, const wchar_t* name)
{
    DWORD size = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS) {
        return {};
    }
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text.data(), &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

inline std::wstring TraceFilePath()
{
    return ReadString(SettingsKey(), L"TraceFile");
}

// Never throws: a trace line that cannot be written is lost, the call itself goes on.
inline void Trace(const std::wstring& module, const std::string& event) noexcept
{
    try {
        const std::wstring path = TraceFilePath();
        if (path.empty()) {
            return;
        }
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);
        const std::string line = std::to_string(counter.QuadPart) + ' ' + std::to_string(GetCurrentProcessId()) + ' ' +
                                 std::to_string(GetCurrentThreadId()) + ' ' + ToUtf8(module) + ' ' + event + "\r\n";
        // Without the mutex (none could be created, or its owner hangs) the line is still written,
        // unserialised.
        const Qx::Platform::UniqueKernelHandle mutex(CreateMutexW(nullptr, FALSE, kTraceMutexName));
        const DWORD waited = mutex ? WaitForSingleObject(mutex.get(), kTraceMutexWaitMs) : WAIT_FAILED;
        const bool owned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
        if (const Qx::Platform::UniqueKernelHandle file(
                CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            file) {
            DWORD written = 0;
            WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        }
        if (owned) {
            ReleaseMutex(mutex.get());
        }
    } catch (...) {
        // Out of memory: the line is lost.
    }
}

} // namespace Qx::Testing
