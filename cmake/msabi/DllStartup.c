// The entry point of a DLL: the image's C++ initialisers before its DllMain sees the process attach,
// its exit-time functions after DllMain has seen the detach.
#include <windows.h>

#include "Startup.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

BOOL WINAPI _DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        QxMsAbiRunInitializers();
    }
    const BOOL result = DllMain(instance, reason, reserved);
    if (reason == DLL_PROCESS_DETACH || (reason == DLL_PROCESS_ATTACH && !result)) {
        QxMsAbiRunExitFunctions();
    }
    return result;
}
