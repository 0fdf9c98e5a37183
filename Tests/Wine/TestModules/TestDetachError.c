/* QxTestDetachError.dll: its entry point sets the thread's last error as the library is unloaded,
   and FreeLibrary passes that on to its caller; the platform tests free it to show that the host's
   Free keeps the caller's error. Without a C runtime the entry point is the last of its code to run,
   so nothing overwrites the error after it. QxWatchDetach hands it a flag to raise on the way, which
   tells the tests that the detach really ran. */
#include <windows.h>

#include "DetachLastError.h"

static volatile LONG* s_detached;

__declspec(dllexport) void QxWatchDetach(volatile LONG* detached)
{
    s_detached = detached;
}

BOOL WINAPI TestDetachErrorEntry(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_DETACH) {
        if (s_detached != NULL) {
            *s_detached = 1;
        }
        SetLastError(QX_TEST_DETACH_ERROR);
    }
    return TRUE;
}
