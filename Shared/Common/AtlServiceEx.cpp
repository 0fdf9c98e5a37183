#include "Common/AtlServiceEx.h"

#include <algorithm>
#include <mutex>

#include "Common/ServiceHost/ServiceConfiguration.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Platform;

CAtlServiceModuleFramework::CAtlServiceModuleFramework()
{
    (void)Threads().CreateLock(m_frameworkLock);
}

CAtlServiceModuleFramework::~CAtlServiceModuleFramework() = default;

CServiceModule::CServiceModule()
{
    m_status.serviceType = kServiceWin32OwnProcess;
    m_status.currentState = kServiceStopped;
    m_status.controlsAccepted = kServiceAcceptStop | kServiceAcceptShutdown;
    RaiseWin32(Threads().CreateLock(m_statusLock));
    SetServiceName(L"QxServiceHost");
}

CServiceModule& CServiceModule::Instance()
{
    static CServiceModule module;
    return module;
}

void CServiceModule::SetServiceName(const std::wstring& name)
{
    const std::size_t length = std::min(name.size(), kServiceNameCapacity - 1);
    std::copy_n(name.begin(), length, m_serviceName.begin());
    m_serviceName[length] = L'\0';
}

ServiceStatus CServiceModule::Status()
{
    std::lock_guard lock(*m_statusLock);
    return m_status;
}

std::uint32_t CServiceModule::Start()
{
    if (CServiceConfigurationImpl::Instance().SDEnabled()) {
        std::lock_guard lock(*m_statusLock);
        m_status.controlsAccepted &= ~kServiceAcceptStop;
    }
    const Win32Error dispatcherError = ServiceControl().StartDispatcher(m_serviceName.data(), &ServiceMain);
    std::lock_guard lock(*m_statusLock);
    const std::uint32_t exitCode = dispatcherError != kErrorSuccess ? dispatcherError : m_status.win32ExitCode;
    m_status.win32ExitCode = exitCode;
    return exitCode;
}

void CServiceModule::ServiceMain(std::uint32_t, wchar_t**)
{
    CServiceModule& module = Instance();
    if (ServiceControl().RegisterHandler(module.ServiceName(), &Handler, &module, module.m_statusHandle) !=
        kErrorSuccess) {
        return;
    }
    module.SetServiceStatus(kServiceStopped);
}

std::uint32_t CServiceModule::Handler(std::uint32_t, std::uint32_t, void*, void*)
{
    return kErrorSuccess;
}

void CServiceModule::SetServiceStatus(std::uint32_t state)
{
    std::lock_guard lock(*m_statusLock);
    m_status.currentState = state;
    (void)ServiceControl().SetStatus(m_statusHandle, m_status);
}
