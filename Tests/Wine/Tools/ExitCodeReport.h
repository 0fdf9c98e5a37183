// The last step of both tools: the full 32-bit exit code of a process that has ended, printed as
// "EXITCODE=0x<hex> <unsigned> <signed> PID=<pid>".
#pragma once

#include <windows.h>

#include <cstdio>

// 0 once the line is printed, or the Win32 error of GetExitCodeProcess.
inline int ReportExitCode(HANDLE process, DWORD processId)
{
    DWORD exitCode = 0;
    if (GetExitCodeProcess(process, &exitCode) == 0) {
        const DWORD error = GetLastError();
        std::fprintf(stderr, "GetExitCodeProcess failed: %lu\n", error);
        return static_cast<int>(error);
    }
    std::printf("EXITCODE=0x%08lX %lu %ld PID=%lu\n", exitCode, exitCode, static_cast<long>(exitCode), processId);
    std::fflush(stdout);
    return 0;
}
