// QxRunExit.exe <program> [arguments]: runs the command line and prints the child's full 32-bit
// exit code and its process id. A Unix shell sees only the low 8 bits of a Wine process's exit
// code, which cannot tell 0x80070057 from 87.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "ExitCodeReport.h"
#include "Platform/Win32/UniqueWin32Handles.h"
#include "StandInSupport.h"

namespace {

// The command line after this program's own name, which CreateProcessW takes as it is.
std::wstring ChildCommandLine()
{
    std::wstring_view arguments = QxStandIn::ArgumentsOfCommandLine(GetCommandLineW());
    arguments.remove_prefix(std::min(arguments.find_first_not_of(L" \t"), arguments.size()));
    return std::wstring(arguments);
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
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process) ==
        0) {
        const DWORD error = GetLastError();
        std::fprintf(stderr, "CreateProcessW failed: %lu\n", error);
        return static_cast<int>(error);
    }
    const Qx::Platform::UniqueKernelHandle thread(process.hThread);
    const Qx::Platform::UniqueKernelHandle child(process.hProcess);
    WaitForSingleObject(child.get(), INFINITE);
    return ReportExitCode(child.get(), process.dwProcessId);
}
