// The benchmarks' yardstick for a crash: a bare program that writes its own dump.
//     QxBenchCrashSelf.exe <dump file> <counter file>
// Its unhandled-exception filter writes a normal minidump (the type the host writes by itself) of
// the access violation it then causes; the counter file receives the QueryPerformanceCounter value
// just before the faulting thread starts, the moment the benchmark measures from.
#include <windows.h>

#include <dbghelp.h>

#include <string>

#include "Platform/Win32/UniqueWin32Handles.h"

namespace {

std::wstring g_dumpFile;

LONG WINAPI WriteDump(EXCEPTION_POINTERS* exception)
{
    const Qx::Platform::UniqueKernelHandle file(
        CreateFileW(g_dumpFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        MINIDUMP_EXCEPTION_INFORMATION information{GetCurrentThreadId(), exception, FALSE};
        MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file.get(), MiniDumpNormal, &information, nullptr,
                          nullptr);
    }
    return EXCEPTION_EXECUTE_HANDLER;
}

void WriteCounter(const wchar_t* path)
{
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    const std::string text = std::to_string(counter.QuadPart);
    const Qx::Platform::UniqueKernelHandle file(
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        DWORD written = 0;
        WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
}

// On a thread of its own, as the host's modules fault on the host's threads: a fault on the main
// thread meets the C runtime's start-up handler before the process's filter.
DWORD WINAPI Fault(void* /*parameter*/)
{
    // A volatile store through a volatile pointer: the compiler keeps a real access violation.
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
    return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, wchar_t* /*commandLine*/, int /*show*/)
{
    if (__argc != 3) {
        return ERROR_BAD_ARGUMENTS;
    }
    g_dumpFile = __wargv[1];
    SetUnhandledExceptionFilter(WriteDump);
    WriteCounter(__wargv[2]);
    const HANDLE thread = CreateThread(nullptr, 0, Fault, nullptr, 0, nullptr);
    if (thread == nullptr) {
        return static_cast<int>(GetLastError());
    }
    WaitForSingleObject(thread, INFINITE);
    return 0;
}
