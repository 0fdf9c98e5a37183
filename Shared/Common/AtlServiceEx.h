// The module object: the one CServiceModule of the process, its service status and the
// main thread's hand-over to the Service Control Manager.
//
// Threads: constructed during start-up; Start runs on the main thread. statusLock guards every
// change of status together with its report. Lock order: the internal state's lock is taken
// before statusLock, never the other way round.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "Platform/Api/Platform.h"

// Stands for the platform framework's module base: it owns the framework's own lock and records
// whether that lock could be initialised, which the process entry reports as exit code -1.
class CAtlServiceModuleFramework {
public:
    CAtlServiceModuleFramework();
    CAtlServiceModuleFramework(const CAtlServiceModuleFramework&) = delete;
    CAtlServiceModuleFramework& operator=(const CAtlServiceModuleFramework&) = delete;
    virtual ~CAtlServiceModuleFramework();

    [[nodiscard]] bool FrameworkLockFailed() const { return !m_frameworkLock; }

private:
    std::unique_ptr<Qx::Platform::ILock> m_frameworkLock;
};

class CServiceModule final : public CAtlServiceModuleFramework {
public:
    static constexpr std::size_t kServiceNameCapacity = 256;
    static constexpr std::uint32_t kServiceThreadExitWaitMilliseconds = 10000;

    // Raises HRXEx with HRESULT_FROM_WIN32 of the error when statusLock cannot be initialised.
    CServiceModule();

    // The process-wide module object.
    static CServiceModule& Instance();

    // Copies a name of fewer than kServiceNameCapacity characters; callers reject longer ones.
    void SetServiceName(const std::wstring& name);
    [[nodiscard]] const wchar_t* ServiceName() const { return m_serviceName.data(); }

    // Hands the main thread to the dispatcher and returns the process exit code: the Win32
    // error when the dispatcher cannot start, otherwise the exit code the service reported.
    std::uint32_t Start();

    [[nodiscard]] Qx::Platform::ServiceStatus Status();

private:
    static void ServiceMain(std::uint32_t argc, wchar_t** argv);
    static std::uint32_t Handler(std::uint32_t control, std::uint32_t eventType, void* eventData, void* context);
    void SetServiceStatus(std::uint32_t state);

    Qx::Platform::ServiceStatus m_status;
    std::unique_ptr<Qx::Platform::ILock> m_statusLock;
    std::array<wchar_t, kServiceNameCapacity> m_serviceName{};
    Qx::Platform::NativeHandle m_statusHandle = nullptr;
};
