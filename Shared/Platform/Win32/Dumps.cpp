// Win32 only: the temporary directory, the local time, the external dump generator and
// MiniDumpWriteDump.
#include "Platform/Win32/WindowsSupport.h"

#include <dbghelp.h>

namespace Qx::Platform::Win32 {

std::wstring Win32Dumps::TempPath()
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, path);
    return std::wstring(path, length < MAX_PATH ? length : 0);
}

LocalTime Win32Dumps::Now()
{
    SYSTEMTIME time{};
    ::GetLocalTime(&time);
    return {time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
}

Win32Error Win32Dumps::RunProcess(const wchar_t* application, wchar_t* commandLine, std::uint32_t waitMilliseconds,
                                  std::uint32_t& exitCode)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    const auto launch = [&] {
        return ::CreateProcessW(application, commandLine, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                                &startup, &process) != 0;
    };
    // A launch that failed with ERROR_INTERNAL_ERROR made no process, and the next one succeeds: Wine
    // answers so now and then while many processes start at once. A crash gets its generator's dump.
    if (!launch() && (::GetLastError() != ERROR_INTERNAL_ERROR || !launch())) {
        return LastErrorOr(ERROR_FILE_NOT_FOUND);
    }
    const UniqueKernelHandle processHandle(process.hProcess);
    const UniqueKernelHandle threadHandle(process.hThread);
    if (::WaitForSingleObject(processHandle.get(), waitMilliseconds) != WAIT_OBJECT_0) {
        // The end is awaited: until then the generator may hold the dump file the fallback writes.
        constexpr DWORD kTerminationWaitMilliseconds = 10000;
        ::TerminateProcess(processHandle.get(), 0xFFFFFFFF);
        ::WaitForSingleObject(processHandle.get(), kTerminationWaitMilliseconds);
    }
    DWORD code = 0;
    exitCode = ::GetExitCodeProcess(processHandle.get(), &code) != 0 ? code : 0;
    return ERROR_SUCCESS;
}

bool Win32Dumps::WriteMiniDump(const wchar_t* path, std::int32_t dumpType, const void* exceptionPointers,
                               std::uint32_t threadId, bool& fileCreated)
{
    const UniqueKernelHandle file(
        ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    fileCreated = static_cast<bool>(file);
    if (!fileCreated) {
        return false;
    }
    static const auto writeDump =
        SystemLibraryFunction<decltype(&::MiniDumpWriteDump)>(L"dbghelp.dll", "MiniDumpWriteDump");
    if (writeDump == nullptr) {
        return false;
    }
    MINIDUMP_EXCEPTION_INFORMATION exception{
        threadId, static_cast<EXCEPTION_POINTERS*>(const_cast<void*>(exceptionPointers)), FALSE};
    return writeDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file.get(), static_cast<MINIDUMP_TYPE>(dumpType),
                     exceptionPointers != nullptr ? &exception : nullptr, nullptr, nullptr) == TRUE;
}

bool Win32Dumps::FileHasData(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    return (::GetFileAttributesExW(path, GetFileExInfoStandard, &attributes) != 0) &&
           (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           (attributes.nFileSizeHigh != 0 || attributes.nFileSizeLow != 0);
}

} // namespace Qx::Platform::Win32
