// The module object: the one CServiceModule of the process, its contract with the Service
// Control Manager, and the order in which the service's components start and stop.
//
// Threads:
//  - the main thread runs Start, which blocks in the dispatcher;
//  - the dispatcher calls Handler (on the main thread on Windows, on a thread of its own
//    under Wine) and starts the service thread, which runs ServiceMain, Run, PreMessageLoop,
//    the wait for a stop request and PostMessageLoop (the names are those of the message loop
//    the wait replaces: an event ends it without loading user32 into the process);
//  - the initialisation thread runs Initialization, and with it every module's SmInitialize.
// statusLock guards every change of m_status together with its report. Lock order: the
// internal state's lock is taken before statusLock, never the other way round. While it holds
// statusLock the module only reports and logs; it never waits.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "Common/ServiceTypes.h"
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
    static constexpr std::size_t kServiceNameCapacity = std::tuple_size_v<ServiceNameBuffer>;
    static constexpr std::uint32_t kServiceThreadExitWaitMilliseconds = 10000;
    static constexpr std::uint32_t kStartPendingReportMilliseconds = 5000;
    static constexpr std::uint32_t kCrashFilterCheckMilliseconds = 5000;

    static constexpr std::uint32_t kControlStop = 1;
    static constexpr std::uint32_t kControlPause = 2;
    static constexpr std::uint32_t kControlContinue = 3;
    static constexpr std::uint32_t kControlInterrogate = 4;
    static constexpr std::uint32_t kControlShutdown = 5;
    static constexpr std::uint32_t kControlPreshutdown = 15;

    // Raises HRXEx with HRESULT_FROM_WIN32 of the error when statusLock cannot be initialised.
    CServiceModule();

    // The process-wide module object.
    static CServiceModule& Instance();

    // Copies a name of fewer than kServiceNameCapacity characters; callers reject longer ones.
    void SetServiceName(const std::wstring& name);
    [[nodiscard]] const wchar_t* ServiceName() const { return m_serviceName.data(); }

    // Hands the main thread to the dispatcher and returns the process exit code: the Win32
    // error when the dispatcher cannot start, otherwise the exit code the service reported.
    // Then waits up to 10 s for the service thread to end.
    std::uint32_t Start();

    [[nodiscard]] Qx::Platform::ServiceStatus Status();

    bool UpdateControlsAccepted(std::uint32_t controls, bool enable, bool report);
    [[nodiscard]] ControlsCallback GetControlsCallback();

    // Logs "LogEvent: " and the formatted text, cut to 255 characters, at level 3.
    static void LogEvent(const wchar_t* format, ...);

private:
    static void ServiceMain(std::uint32_t argc, wchar_t** argv);
    static std::uint32_t Handler(std::uint32_t control, std::uint32_t eventType, void* eventData, void* context);
    void RunService();
    // The life of the service on the service thread: start the components, run until a stop
    // request, stop them again. Returns the HRESULT that becomes the service's exit code.
    HRESULT Run();
    void WaitForStopRequest();
    void OnControl(std::uint32_t control);
    void RequestStop();
    static void OnInterrogate();
    void RemoveStopAcceptFlag();
    HRESULT PreMessageLoop();
    void RunInitialization();
    static std::uint32_t Initialization(void* module);
    void ReportRunning();
    static HRESULT PostMessageLoop();
    static void ReportServiceEvent(std::uint32_t eventId, const std::wstring* errorDescription = nullptr);
    // Sets the current state and reports the status; the caller holds m_statusLock.
    void ReportState(std::uint32_t state);
    // Hands the status to the service manager; a failure is logged, and the service goes on.
    void SendStatus();

    Qx::Platform::ServiceStatus m_status; // guarded by m_statusLock
    std::unique_ptr<Qx::Platform::ILock> m_statusLock;
    ServiceNameBuffer m_serviceName{};
    Qx::Platform::NativeHandle m_statusHandle = nullptr;
    std::uint32_t m_savedControls = 0; // guarded by m_statusLock
    Qx::Platform::Thread m_serviceThreadHandle;
    // What Initialization left for the service thread, set as it returns; read once the thread has
    // ended. A thread that ended inside a module's code leaves it unset.
    struct InitializationOutcome {
        bool returned = false;
        HRESULT result = Qx::kSOk;
        Qx::Platform::ErrorInfo errorInfo; // the failing module's own, which its thread took with it
    };
    InitializationOutcome m_initialization;
    // Signalled by a stop request; the service thread waits on it while the service runs.
    Qx::Platform::Event m_stopRequested;
};
