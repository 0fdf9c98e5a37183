// The entry point of a console program with wmain: the image's C++ initialisers, wmain with the
// command line split as Microsoft's runtime splits it, the exit-time functions, and the process's
// end with wmain's result.
#include <windows.h>

#include <shellapi.h>

#include "Startup.h"

int __cdecl wmain(int argc, wchar_t** argv, wchar_t** envp);

int wmainCRTStartup(void)
{
    QxMsAbiRunInitializers();
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const int result = wmain(argc, argv, NULL);
    QxMsAbiRunExitFunctions();
    ExitProcess((UINT)result);
}
