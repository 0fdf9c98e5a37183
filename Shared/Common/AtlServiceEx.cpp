#include "Common/AtlServiceEx.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <optional>

#include "Common/ConfigurationNames.h"
#include "Common/LogCompressor/LogComprLoader.h"
#include "Common/LogCompressor/stdex/ScopeGuard.h"
#include "Common/ServiceHost/ServiceConfiguration.h"
#include "Common/ServiceHost/ServiceModuleManager.h"
#include "Common/ServiceState/ServiceInternalState.h"
#include "Common/UiLanguage.h"
#include "Common/WatchdogAgent.h"
#include "Common/audit/EventReporters.h"
#include "Platform/Api/ProcessWide.h"
#include "ResKit/Logger/ExceptionHandlers.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Platform;

namespace {

constexpr std::uint32_t kKeyWrite = 0x20006;
constexpr std::size_t kLogEventCapacity = 256;

const CServiceConfigurationImpl& Configuration()
{
    return CServiceConfigurationImpl::Instance();
}

// A stopped own-process service that accepts stop and shutdown once it runs.
ServiceStatus InitialStatus()
{
    ServiceStatus status;
    status.serviceType = kServiceWin32OwnProcess;
    status.currentState = kServiceStopped;
    status.controlsAccepted = kServiceAcceptStop | kServiceAcceptShutdown;
    return status;
}

} // namespace

CAtlServiceModuleFramework::CAtlServiceModuleFramework()
{
    (void)Threads().CreateLock(m_frameworkLock);
}

CAtlServiceModuleFramework::~CAtlServiceModuleFramework() = default;

CServiceModule::CServiceModule() : m_status(InitialStatus())
{
    RaiseWin32(Threads().CreateLock(m_statusLock));
    SetServiceName(L"QxServiceHost");
}

CServiceModule& CServiceModule::Instance()
{
    static Qx::Platform::ProcessWide<CServiceModule> module(
        [] { return std::unique_ptr<CServiceModule>(new CServiceModule()); });
    return module.Get();
}

void CServiceModule::SetServiceName(const std::wstring& name)
{
    CopyServiceName(name, m_serviceName);
}

ServiceStatus CServiceModule::Status()
{
    std::lock_guard lock(*m_statusLock);
    return m_status;
}

std::uint32_t CServiceModule::Start()
{
    WatchDogGuard::SetServiceName(m_serviceName.data());
    // Run by hand under the name of a service that runs (or ended without removing it), this process
    // finds that service's guard, which it must leave as it is.
    const bool guardFound = WatchDogGuard::Exists();
    WatchDogGuard::Set(true);
    WatchDogGuard::RemoveAtExit();
    {
        // The host starts once per process, its tests many times: a start must not inherit what an
        // earlier one left, such as the accepted controls a failed start never restored.
        std::lock_guard lock(*m_statusLock);
        m_status = InitialStatus();
        m_savedControls = 0;
        if (Configuration().SDEnabled()) {
            m_status.controlsAccepted &= ~kServiceAcceptStop;
        }
    }
    const Win32Error dispatcherError = ServiceControl().StartDispatcher(m_serviceName.data(), &ServiceMain);
    if (dispatcherError != kErrorSuccess) {
        QX_LOG_ERROR("StartServiceCtrlDispatcherW failed Error:", dispatcherError);
        if (guardFound) {
            WatchDogGuard::KeepAtExit();
        }
    }
    std::uint32_t exitCode = 0;
    {
        std::lock_guard lock(*m_statusLock);
        exitCode = dispatcherError != kErrorSuccess ? dispatcherError : m_status.win32ExitCode;
        m_status.win32ExitCode = exitCode;
    }
    // The dispatcher returns once SERVICE_STOPPED is reported; the service thread may still be
    // finishing its last steps.
    if (m_serviceThreadHandle) {
        const std::uint32_t wait = Threads().Wait(m_serviceThreadHandle.get(), kServiceThreadExitWaitMilliseconds);
        if (wait != kWaitObject0) {
            QX_LOG_ERROR("Waiting for service thread exit failed: ", wait);
        }
        m_serviceThreadHandle.reset();
    }
    return exitCode;
}

void CServiceModule::ServiceMain(std::uint32_t, wchar_t**)
{
    Instance().RunService();
}

void CServiceModule::RunService()
{
    {
        std::lock_guard lock(*m_statusLock);
        m_status.currentState = kServiceStartPending;
        m_savedControls = m_status.controlsAccepted;
        m_status.controlsAccepted = 0;
    }
    if (ServiceControl().RegisterHandler(m_serviceName.data(), &Handler, nullptr, m_statusHandle) != kErrorSuccess) {
        LogEvent(L"Handler not installed");
        return;
    }
    {
        std::lock_guard lock(*m_statusLock);
        ReportState(kServiceStartPending);
        m_status.win32ExitCode = 0;
        m_status.checkPoint = 0;
        m_status.waitHint = 0;
    }
    const HRESULT hr = Run();
    {
        std::lock_guard lock(*m_statusLock);
        m_status.win32ExitCode = static_cast<std::uint32_t>(hr);
        ReportState(kServiceStopped);
    }
    LogEvent(L"Service stopped");
}

std::uint32_t CServiceModule::Handler(std::uint32_t control, std::uint32_t, void*, void*)
{
    Instance().OnControl(control);
    return kErrorSuccess;
}

void CServiceModule::OnControl(std::uint32_t control)
{
    switch (control) {
    case kControlStop:
    case kControlShutdown:
    case kControlPreshutdown:
        RequestStop();
        break;
    case kControlPause:
    case kControlContinue:
        break;
    case kControlInterrogate:
        OnInterrogate();
        break;
    default:
        LogEvent(L"Bad service request");
        break;
    }
}

void CServiceModule::RequestStop()
{
    {
        std::lock_guard lock(*m_statusLock);
        ReportState(kServiceStopPending);
    }
    Threads().SetEvent(m_stopRequested.get());
}

void CServiceModule::OnInterrogate()
{
    QX_FUNCTION_TRACE(L"CServiceModule::OnInterrogate");
    if (Configuration().SDEnabled()) {
        InternalState::Instance().UpdateInternalState();
    }
}

bool CServiceModule::UpdateControlsAccepted(std::uint32_t controls, bool enable, bool report)
{
    std::lock_guard lock(*m_statusLock);
    if (m_status.currentState != kServiceRunning) {
        return false;
    }
    if (enable) {
        m_status.controlsAccepted |= controls;
    } else {
        m_status.controlsAccepted &= ~controls;
    }
    if (report) {
        SendStatus();
    }
    return true;
}

ControlsCallback CServiceModule::GetControlsCallback()
{
    return [this](std::uint32_t controls, bool enable) { return UpdateControlsAccepted(controls, enable, true); };
}

void CServiceModule::LogEvent(const wchar_t* format, ...)
{
    wchar_t buffer[kLogEventCapacity] = {};
    va_list arguments;
    va_start(arguments, format);
    std::vswprintf(buffer, kLogEventCapacity, format, arguments);
    va_end(arguments);
    // Not every C runtime terminates cut output; the text ends inside the buffer whatever it does.
    buffer[kLogEventCapacity - 1] = L'\0';
    QX_LOG(3, "LogEvent: ", static_cast<const wchar_t*>(buffer));
}

void CServiceModule::RemoveStopAcceptFlag()
{
    RegistryKey key;
    if (Registry().OpenKey(ParametersKeyPath(m_serviceName.data()), kKeyWrite, key) != kErrorSuccess) {
        return;
    }
    if (Registry().DeleteValue(key.get(), ConfigurationNames::kStopAccept) == kErrorSuccess) {
        QX_LOG(3, "StopAccept", " registry flag removed");
    }
}

HRESULT CServiceModule::Run()
{
    HRESULT hr = PreMessageLoop();
    if (hr == kSOk) {
        WaitForStopRequest();
    }
    if (!Failed(hr)) {
        hr = PostMessageLoop();
    }
    return hr;
}

// Meanwhile a thread of a module may put an unhandled-exception filter of its own in front of the
// host's, which would then write no dump of a crash: the host's goes in front again every few
// seconds. A failed wait ends the run as a stop request would.
void CServiceModule::WaitForStopRequest()
{
    while (Threads().Wait(m_stopRequested.get(), kCrashFilterCheckMilliseconds) == kWaitTimeout) {
        LogUtils::WithoutRaising([] { LogUtils::ReassertCrashFilter(); });
    }
}

HRESULT CServiceModule::PreMessageLoop()
{
    QX_FUNCTION_TRACE(L"CServiceModule::PreMessageLoop");
    RemoveStopAcceptFlag();
    // Declared before the handler below, so a failed start unloads the compressor only after
    // the failure has been reported.
    auto unloadCompressor = [] { LogComprLdr::instance().Unload(); };
    std::optional<stdex::scope_guard<decltype(unloadCompressor)>> compressorGuard;
    try {
        if (const Win32Error error = Threads().OpenCurrentThread(m_serviceThreadHandle); error != kErrorSuccess) {
            QX_LOG_ERROR("Failed to open current thread handle: ", error);
        }
        if (Configuration().SDEnabled()) {
            QX_LOG(3, "Initializing singleton InternalStateSgt");
            InternalState::Instance().Initialize(GetControlsCallback(), m_serviceName.data());
        }
        WatchdogAgent::Instance().Init(m_serviceName.data());
        if (Configuration().LogCompressor()) {
            LogComprLdr::instance().Load();
            compressorGuard.emplace(unloadCompressor);
        }
        // The stop request signals it: it must exist before a stop can be accepted.
        RaiseWin32(Threads().CreateEvent(true, m_stopRequested));
        RunInitialization();
        ReportRunning();
        ReportServiceEvent(EventRecord::kServiceStarted);
    } catch (const HRXEx& error) {
        WatchdogAgent::Instance().Deinit();
        if (ServiceModuleManager::Instance().AnyModuleKeepsGuard()) {
            WatchDogGuard::KeepAtExit();
        }
        InternalState::Instance().Shutdown();
        QX_LOG_ERROR("Starting service modules failed: ", error);
        const std::wstring description = GetErrorDescription(error.Result(), error.ErrorInfo());
        ReportServiceEvent(EventRecord::kServiceStartFailed, &description);
        return error.Result();
    }
    if (compressorGuard) {
        compressorGuard->dismiss();
    }
    return kSOk;
}

void CServiceModule::RunInitialization()
{
    m_initialization = {};
    Thread thread;
    RaiseWin32(Threads().CreateThread(&Initialization, this, thread, nullptr));
    std::uint32_t wait = Threads().Wait(thread.get(), kStartPendingReportMilliseconds);
    while (wait == kWaitTimeout) {
        QX_LOG(3, "Long time service initialization is in progress...");
        {
            std::lock_guard lock(*m_statusLock);
            ReportState(kServiceStartPending);
        }
        wait = Threads().Wait(thread.get(), kStartPendingReportMilliseconds);
    }
    if (wait != kWaitObject0) {
        QX_LOG(3, "Wait error: ", wait);
        RaiseIfFailed(kEFail);
    }
    std::uint32_t exitCode = 0;
    if (Threads().GetExitCode(thread.get(), exitCode) != kErrorSuccess) {
        exitCode = static_cast<std::uint32_t>(kEFail);
    }
    const auto hr = static_cast<HRESULT>(static_cast<std::int32_t>(exitCode));
    QX_LOG(3, "Service initialization completed with code: ", hr);
    if (!m_initialization.returned) {
        // Its exit code is whatever the module passed to ExitThread, no verdict of the host's.
        RaiseWithErrorInfo(kEAbort, HostErrorInfo(ServiceModuleManager::Instance().AbandonInitialization(exitCode)));
    }
    RaiseWithErrorInfo(m_initialization.result, m_initialization.errorInfo);
}

std::uint32_t CServiceModule::Initialization(void* module)
{
    InitializationOutcome& outcome = static_cast<CServiceModule*>(module)->m_initialization;
    try {
        QX_FUNCTION_TRACE(L"CServiceModule::Initialization");
        auto& modules = ServiceModuleManager::Instance();
        modules.Load(Configuration().ServiceModules());
        modules.InitModules();
        outcome = {true, kSOk, nullptr};
    } catch (const HRXEx& error) {
        QX_LOG_ERROR("CServiceModule__Initialization: ", error);
        outcome = {true, error.Result(), error.ErrorInfo()};
    } catch (...) { // nothing may leave the thread; the start fails instead
        outcome = {true, kEFail, nullptr};
    }
    // A start that fails leaves no module running, whatever raised: one that failed in its own
    // SmInitialize has shut the others down already, and then this finds none.
    if (Failed(outcome.result)) {
        ServiceModuleManager::Instance().ShutdownModules();
    }
    return static_cast<std::uint32_t>(outcome.result);
}

void CServiceModule::ReportRunning()
{
    std::lock_guard lock(*m_statusLock);
    if (m_status.currentState != kServiceStartPending) {
        return;
    }
    m_status.controlsAccepted |= m_savedControls;
    m_savedControls = 0;
    LogEvent(L"Service started/resumed");
    ReportState(kServiceRunning);
}

HRESULT CServiceModule::PostMessageLoop()
{
    QX_FUNCTION_TRACE(L"CServiceModule::PostMessageLoop");
    try {
        ServiceModuleManager::Instance().ShutdownModules();
        if (Configuration().LogCompressor()) {
            LogComprLdr::instance().Unload();
        }
        InternalState::Instance().Shutdown();
        WatchdogAgent::Instance().Deinit();
        ReportServiceEvent(EventRecord::kServiceStopped);
    } catch (const HRXEx& error) {
        QX_LOG_ERROR("Shutting down components failed: ", error);
        return error.Result();
    }
    return kSOk;
}

void CServiceModule::ReportServiceEvent(std::uint32_t eventId, const std::wstring* errorDescription)
{
    EventRecord event(eventId);
    // "%%n" refers the event text to message n of the product's message file: the display name.
    event.SetString(4, L"%%" + std::to_wstring(Configuration().ServiceName()));
    if (errorDescription != nullptr) {
        event.SetString(6, *errorDescription);
    }
    ReportProductEvent(event);
}

void CServiceModule::ReportState(std::uint32_t state)
{
    m_status.currentState = state;
    SendStatus();
}

void CServiceModule::SendStatus()
{
    if (const Win32Error error = ServiceControl().SetStatus(m_statusHandle, m_status); error != kErrorSuccess) {
        LogUtils::WithoutRaising([&] { QX_LOG_ERROR("SetServiceStatus failed Error:", error); });
    }
}
