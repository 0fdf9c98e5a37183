// Win32 only: the executable's entry. Everything it does lives in ServiceHostEntry.
#include "Platform/Win32/WindowsSupport.h"
#include "ResKit/ServiceHost/ServiceHostEntry.h"

namespace {

// Static construction runs the start-up initialisation before WinMain. The platform services
// are final from here on: only tests replace them.
const bool g_startupInitialized = (Qx::Platform::FreezeServices(), RunStartupInitialization(), true);

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR lpCmdLine, int)
{
    return RunServiceHostEntry(lpCmdLine);
}
