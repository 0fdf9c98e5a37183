// QxRunExit.exe <program> [arguments]: runs the command line and prints the child's full 32-bit
// exit code and its process id. A Unix shell sees only the low 8 bits of a Wine process's exit
// code, which cannot tell 0x80070057 from 87.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// The command line after this program's own name, which CreateProcessW takes as it is.
std::wstring ChildCommandLine()
{
    const wchar_t* p = GetCommandLineW();
    if (*p == L'"') {
        for (++p; *p != L'\0' && *p != L'"'; ++p) {
        }
        if (*p == L'"') {
            ++p;
        }
    } else {
        while (*p != L'\0' && *p != L' ' && *p != L'\t') {
            ++p;
        }
    }
    while (*p == L' ' || *p == L'\t') {
        ++p;
    }
    return p;
}

} // namespace

int wmain()
{
    std::wstring commandLine = ChildCommandLine();
    if (commandLine.empty()) {
        std::fputs("usage: QxRunExit.exe <program> [arguments]\n", stderr);
        return ERROR_BAD_ARGUMENTS;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    // Handles are inherited so that a console child writes to the same output as this launcher.
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        const DWORD error = GetLastError();
        std::fprintf(stderr, "CreateProcessW failed: %lu\n", error);
        return static_cast<int>(error);
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    const BOOL gotExitCode = GetExitCodeProcess(process.hProcess, &exitCode);
    const DWORD error = GetLastError();
    CloseHandle(process.hProcess);
    if (!gotExitCode) {
        std::fprintf(stderr, "GetExitCodeProcess failed: %lu\n", error);
        return static_cast<int>(error);
    }
    std::printf("EXITCODE=0x%08lX %lu %ld PID=%lu\n", exitCode, exitCode, static_cast<long>(exitCode),
                process.dwProcessId);
    std::fflush(stdout);
    return 0;
}
