// The benchmarks' yardstick: the least an own-process service can do. Its command line is
//     QxBenchMinimalService.exe <service> [<module>;<module>;... [--on-a-thread]]
// With a module list it loads each module by name, as the host does (the executable's folder
// first), calls SmInitialize in list order before it reports SERVICE_RUNNING, and at the stop calls
// SmShutdown and frees the modules in reverse order before it reports SERVICE_STOPPED: the loader's
// own cost of hosting those modules. With --on-a-thread the modules are loaded and started on a
// thread of their own while the service thread waits for it, as the host's initialisation thread
// does: what that thread costs the loader.
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "Platform/Win32/UniqueWin32Handles.h"
#include "QxServiceModule.h"

namespace {

struct LoadedModule {
    HMODULE library;
    QxSmShutdownFn shutdown;
};

std::wstring g_service;
std::wstring g_moduleList;
bool g_loadOnAThread = false;
HANDLE g_stopRequested = nullptr;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;

void Report(DWORD state, DWORD accepted, DWORD exitCode = NO_ERROR)
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = accepted;
    status.dwWin32ExitCode = exitCode;
    SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD /*eventType*/, void* /*eventData*/, void* /*context*/)
{
    if (control == SERVICE_CONTROL_STOP) {
        SetEvent(g_stopRequested);
    }
    return NO_ERROR;
}

template <typename Function>
Function Export(HMODULE library, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

void ShutDown(std::vector<LoadedModule>& modules)
{
    for (auto module = modules.rbegin(); module != modules.rend(); ++module) {
        module->shutdown();
        FreeLibrary(module->library);
    }
    modules.clear();
}

// Loads and starts the modules of the list; on a failure the ones started are shut down again.
DWORD StartModules(std::vector<LoadedModule>& modules)
{
    std::wstring_view rest = g_moduleList;
    while (!rest.empty()) {
        const std::size_t end = rest.find(L';');
        const std::wstring name(rest.substr(0, end));
        rest.remove_prefix(end == std::wstring_view::npos ? rest.size() : end + 1);
        const HMODULE library = LoadLibraryW(name.c_str());
        if (library == nullptr) {
            const DWORD error = GetLastError();
            ShutDown(modules);
            return error;
        }
        const auto initialize = Export<QxSmInitializeFn>(library, "SmInitialize");
        const auto shutdown = Export<QxSmShutdownFn>(library, "SmShutdown");
        uint32_t flags = 0;
        if (initialize == nullptr || shutdown == nullptr || initialize(&flags) < 0) {
            FreeLibrary(library);
            ShutDown(modules);
            return ERROR_INVALID_FUNCTION;
        }
        modules.push_back({library, shutdown});
    }
    return NO_ERROR;
}

struct StartJob {
    std::vector<LoadedModule>* modules;
    DWORD error;
};

DWORD WINAPI StartModulesThread(void* argument)
{
    auto* job = static_cast<StartJob*>(argument);
    job->error = StartModules(*job->modules);
    return 0;
}

DWORD StartModulesOnAThread(std::vector<LoadedModule>& modules)
{
    StartJob job{&modules, NO_ERROR};
    const Qx::Platform::UniqueKernelHandle thread(CreateThread(nullptr, 0, &StartModulesThread, &job, 0, nullptr));
    if (!thread) {
        return GetLastError();
    }
    WaitForSingleObject(thread.get(), INFINITE);
    return job.error;
}

void WINAPI ServiceMain(DWORD /*argc*/, wchar_t** /*argv*/)
{
    g_statusHandle = RegisterServiceCtrlHandlerExW(g_service.c_str(), Handler, nullptr);
    if (g_statusHandle == nullptr) {
        return;
    }
    Report(SERVICE_START_PENDING, 0);
    std::vector<LoadedModule> modules;
    const DWORD error = g_loadOnAThread ? StartModulesOnAThread(modules) : StartModules(modules);
    if (error != NO_ERROR) {
        Report(SERVICE_STOPPED, 0, error);
        return;
    }
    Report(SERVICE_RUNNING, SERVICE_ACCEPT_STOP);
    WaitForSingleObject(g_stopRequested, INFINITE);
    Report(SERVICE_STOP_PENDING, 0);
    ShutDown(modules);
    Report(SERVICE_STOPPED, 0);
}

} // namespace

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, wchar_t* /*commandLine*/, int /*show*/)
{
    if (__argc < 2) {
        return ERROR_BAD_ARGUMENTS;
    }
    g_service = __wargv[1];
    if (__argc > 2) {
        g_moduleList = __wargv[2];
    }
    g_loadOnAThread = __argc > 3 && std::wstring_view(__wargv[3]) == L"--on-a-thread";
    g_stopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SERVICE_TABLE_ENTRYW table[] = {{g_service.data(), ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) != 0 ? 0 : static_cast<int>(GetLastError());
}
