// QxServiceExit.exe <service> <timeout-ms>: follows the process of a running service until it ends
// and prints its full 32-bit exit code, which the Service Control Manager does not keep and a Unix
// shell sees only the low 8 bits of. As soon as it holds the process it prints "PID=<pid>", so that
// a script may then stop the service; at the end it prints the exit code the way QxRunExit.exe does.
// Exit status: 0 when the process ended within the time-out, otherwise the Win32 error (258 for a
// time-out).
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "ExitCodeReport.h"
#include "Platform/Win32/UniqueWin32Handles.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fputs("usage: QxServiceExit.exe <service> <timeout-ms>\n", stderr);
        return ERROR_BAD_ARGUMENTS;
    }
    const DWORD timeoutMs = std::wcstoul(argv[2], nullptr, 10);
    SERVICE_STATUS_PROCESS status{};
    {
        const Qx::Platform::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        const Qx::Platform::UniqueServiceHandle service(
            manager ? OpenServiceW(manager.get(), argv[1], SERVICE_QUERY_STATUS) : nullptr);
        DWORD needed = 0;
        if (!service || (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                              sizeof(status), &needed) == 0)) {
            const DWORD error = GetLastError();
            std::fprintf(stderr, "cannot query the service %ls: %lu\n", argv[1], error);
            return static_cast<int>(error);
        }
    }
    if (status.dwProcessId == 0) {
        std::fprintf(stderr, "the service %ls has no process (state %lu)\n", argv[1], status.dwCurrentState);
        return ERROR_SERVICE_NOT_ACTIVE;
    }
    const Qx::Platform::UniqueKernelHandle process(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, status.dwProcessId));
    if (!process) {
        const DWORD error = GetLastError();
        std::fprintf(stderr, "cannot open the process %lu: %lu\n", status.dwProcessId, error);
        return static_cast<int>(error);
    }
    std::printf("PID=%lu\n", status.dwProcessId);
    std::fflush(stdout);
    const DWORD wait = WaitForSingleObject(process.get(), timeoutMs);
    if (wait != WAIT_OBJECT_0) {
        const DWORD error = wait == WAIT_TIMEOUT ? WAIT_TIMEOUT : GetLastError();
        std::fprintf(stderr, "the process %lu did not end within %lu ms\n", status.dwProcessId, timeoutMs);
        return static_cast<int>(error);
    }
    return ReportExitCode(process.get(), status.dwProcessId);
}
