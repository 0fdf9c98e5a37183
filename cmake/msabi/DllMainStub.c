// The DllMain of an image that defines none. It sits in a library object of its own, so that the
// linker takes it only when the image has no DllMain.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
