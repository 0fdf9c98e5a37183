// The Service Control Manager's side of a service: dispatcher, handler and status.
#pragma once

#include <cstdint>

#include "Platform/Api/HResult.h"
#include "Platform/Api/UniqueHandle.h"

namespace Qx::Platform {

// SERVICE_STATUS.
struct ServiceStatus {
    std::uint32_t serviceType = 0;
    std::uint32_t currentState = 0;
    std::uint32_t controlsAccepted = 0;
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
};

constexpr std::uint32_t kServiceWin32OwnProcess = 0x10;
constexpr std::uint32_t kServiceStopped = 1;
constexpr std::uint32_t kServiceStartPending = 2;
constexpr std::uint32_t kServiceStopPending = 3;
constexpr std::uint32_t kServiceRunning = 4;
constexpr std::uint32_t kServiceAcceptStop = 0x1;
constexpr std::uint32_t kServiceAcceptShutdown = 0x4;

using ServiceMainFunction = void (*)(std::uint32_t argc, wchar_t** argv);
// HandlerEx: control code, event type, event data, context; returns a Win32 code.
using ServiceHandlerFunction = std::uint32_t (*)(std::uint32_t control, std::uint32_t eventType, void* eventData,
                                                 void* context);

class IServiceControl {
public:
    virtual ~IServiceControl() = default;
    // StartServiceCtrlDispatcherW with one service; blocks until the service has stopped.
    [[nodiscard]] virtual Win32Error StartDispatcher(const wchar_t* serviceName, ServiceMainFunction serviceMain) = 0;
    // RegisterServiceCtrlHandlerExW; the status handle is null on failure.
    [[nodiscard]] virtual Win32Error RegisterHandler(const wchar_t* serviceName, ServiceHandlerFunction handler,
                                                     void* context, NativeHandle& statusHandle) = 0;
    [[nodiscard]] virtual Win32Error SetStatus(NativeHandle statusHandle, const ServiceStatus& status) = 0;
};

} // namespace Qx::Platform
