// Win32 only: the Service Control Manager.
#include "Platform/Win32/WindowsSupport.h"

namespace Qx::Platform::Win32 {

namespace {

// The system calls plain functions of its own signatures; one process runs one service, so
// its entry and handler are kept here.
ServiceMainFunction g_serviceMain = nullptr;
ServiceHandlerFunction g_handler = nullptr;

void WINAPI ServiceMainTrampoline(DWORD argc, LPWSTR* argv)
{
    g_serviceMain(argc, argv);
}

DWORD WINAPI HandlerTrampoline(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context)
{
    return g_handler(control, eventType, eventData, context);
}

} // namespace

Win32Error Win32ServiceControl::StartDispatcher(const wchar_t* serviceName, ServiceMainFunction serviceMain)
{
    g_serviceMain = serviceMain;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(serviceName), &ServiceMainTrampoline}, {nullptr, nullptr}};
    if (::StartServiceCtrlDispatcherW(table) == 0) {
        return LastErrorOr(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    }
    return ERROR_SUCCESS;
}

Win32Error Win32ServiceControl::RegisterHandler(const wchar_t* serviceName, ServiceHandlerFunction handler,
                                                void* context, NativeHandle& statusHandle)
{
    g_handler = handler;
    SERVICE_STATUS_HANDLE handle = ::RegisterServiceCtrlHandlerExW(serviceName, &HandlerTrampoline, context);
    statusHandle = handle;
    return handle != nullptr ? ERROR_SUCCESS : LastErrorOr(ERROR_INVALID_HANDLE);
}

Win32Error Win32ServiceControl::SetStatus(NativeHandle statusHandle, const ServiceStatus& status)
{
    SERVICE_STATUS report{status.serviceType,
                          status.currentState,
                          status.controlsAccepted,
                          status.win32ExitCode,
                          status.serviceSpecificExitCode,
                          status.checkPoint,
                          status.waitHint};
    if (::SetServiceStatus(static_cast<SERVICE_STATUS_HANDLE>(statusHandle), &report) == 0) {
        return LastErrorOr(ERROR_INVALID_HANDLE);
    }
    return ERROR_SUCCESS;
}

} // namespace Qx::Platform::Win32
