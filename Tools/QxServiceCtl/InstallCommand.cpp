#include <windows.h>

#include "Commands.h"
#include "Common/ServiceHost/ServiceConfiguration.h"
#include "Console.h"
#include "HostFiles.h"
#include "InstallRules.h"
#include "ServiceManager.h"
#include "ServiceSetup.h"

namespace QxServiceCtl {

namespace {

// Install's defaults for what is not given; a replaced service keeps its description and recovery.
ServiceSettings WithInstallDefaults(ServiceSettings settings)
{
    settings.displayNameId = settings.displayNameId.value_or(0);
    settings.start = settings.start.value_or(StartType::Demand);
    settings.selfDefence = settings.selfDefence.value_or(false);
    settings.logCompressor = settings.logCompressor.value_or(false);
    return settings;
}

void Warn(const wchar_t* command, const std::vector<std::wstring>& warnings)
{
    for (const std::wstring& warning : warnings) {
        Err(L"QxServiceCtl " + std::wstring(command) + L": warning: " + warning);
    }
}

// The rest of a fresh install, when a later step failed: a refused install leaves nothing behind.
void Undo(SC_HANDLE created, const std::wstring& service)
{
    std::wstring ignored;
    RemoveService(created, service, ignored);
}

std::wstring BinaryPath(const std::wstring& service)
{
    return L"\"" + ToolFolder() + kHostFileName + L"\" -name=" + service;
}

UniqueServiceHandle CreateHostService(SC_HANDLE manager, const std::wstring& service, const std::wstring& displayName)
{
    return UniqueServiceHandle(CreateServiceW(manager, service.c_str(), displayName.c_str(), SERVICE_ALL_ACCESS,
                                              SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                              BinaryPath(service).c_str(), nullptr, nullptr, nullptr, nullptr,
                                              nullptr));
}

// Points an existing service of this host at this host again, after it has stopped.
bool Repoint(SC_HANDLE existing, const std::wstring& service, std::wstring& reason)
{
    if (!StopAndWait(existing, reason)) {
        reason = L"service \"" + service + L"\" cannot be replaced: " + reason;
        return false;
    }
    if (ChangeServiceConfigW(existing, SERVICE_WIN32_OWN_PROCESS, SERVICE_NO_CHANGE, SERVICE_ERROR_NORMAL,
                             BinaryPath(service).c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) == 0) {
        reason = L"service \"" + service + L"\" cannot be reconfigured" + Win32Reason(GetLastError());
        return false;
    }
    return true;
}

bool ServiceOpened(SC_HANDLE manager, const std::wstring& service, UniqueServiceHandle& handle, std::wstring& reason)
{
    handle = UniqueServiceHandle(OpenServiceW(manager, service.c_str(), SERVICE_ALL_ACCESS));
    if (!handle) {
        const DWORD error = GetLastError();
        reason = L"service \"" + service + L"\" " +
                 (error == ERROR_SERVICE_DOES_NOT_EXIST ? L"does not exist" : L"cannot be opened" + Win32Reason(error));
    }
    return static_cast<bool>(handle);
}

bool ManagerOpened(UniqueServiceHandle& manager, std::wstring& reason)
{
    manager = UniqueServiceHandle(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        reason = L"the Service Control Manager cannot be opened" + Win32Reason(GetLastError());
    }
    return static_cast<bool>(manager);
}

// The service manager's settings, then the Parameters.
bool Apply(SC_HANDLE service, const std::wstring& name, const ServiceSettings& settings,
           const std::optional<std::wstring>& displayName, std::vector<std::wstring>& warnings, std::wstring& reason)
{
    if (!ApplyManagerSettings(service, settings, displayName, warnings, reason)) {
        reason = L"service \"" + name + L"\": " + reason;
        return false;
    }
    return WriteParameters(name, settings, reason);
}

} // namespace

int Install(const std::wstring& service, const InstallOptions& options, bool force)
{
    constexpr const wchar_t* kCommand = L"install";
    const ServiceSettings settings = WithInstallDefaults(options.settings);
    std::optional<std::wstring> displayName;
    std::wstring reason;
    if (const auto refusal = ServiceNameRefusal(service)) {
        return Fail(kCommand, *refusal);
    }
    if (const auto refusal = ModuleListRefusal(*settings.modules)) {
        return Fail(kCommand, *refusal);
    }
    if (!FileExists(ToolFolder() + kHostFileName)) {
        return Fail(kCommand, std::wstring(kHostFileName) + L" not found beside QxServiceCtl.exe: " + ToolFolder() +
                                  kHostFileName);
    }
    UniqueServiceHandle manager;
    if (!ResolveDisplayName(options.settings, displayName, reason) || !ManagerOpened(manager, reason)) {
        return Fail(kCommand, reason);
    }
    UniqueServiceHandle handle(OpenServiceW(manager.get(), service.c_str(), SERVICE_ALL_ACCESS));
    const bool existed = static_cast<bool>(handle);
    if (existed && !options.replace) {
        return Fail(kCommand, L"service \"" + service + L"\" already exists: uninstall it first, or pass --replace");
    }
    if (existed &&
        (!MayTakeOver(handle.get(), service, force, L"replace", reason) || !Repoint(handle.get(), service, reason))) {
        return Fail(kCommand, reason);
    }
    if (!existed) {
        handle = CreateHostService(manager.get(), service, displayName.value_or(service));
        if (!handle) {
            const DWORD error = GetLastError();
            const std::wstring hint = error == ERROR_DUPLICATE_SERVICE_NAME
                                          ? L": another service has the display name \"" +
                                                displayName.value_or(service) + L"\"; give --display-name"
                                          : L"";
            return Fail(kCommand, L"service \"" + service + L"\" cannot be created" + Win32Reason(error) + hint);
        }
    }
    std::vector<std::wstring> warnings;
    if (!Apply(handle.get(), service, settings, displayName.value_or(service), warnings, reason) ||
        !WriteEventSource(EventSourceOf(service), reason)) {
        if (!existed) {
            Undo(handle.get(), service);
        }
        return Fail(kCommand, reason);
    }
    Out(std::wstring(existed ? L"replaced" : L"installed") + L" service " + service + L": " + BinaryPath(service));
    Out(L"parameters: HKLM\\" + ParametersKeyPath(service) + L" (ServiceModules \"" + *settings.modules + L"\")");
    Out(L"event source: HKLM\\" + EventSourceKeyPath(EventSourceOf(service)));
    if (!options.settings.displayNameId) {
        warnings.push_back(L"no --display-name-id: events name the service \"%%0\"");
    }
    Warn(kCommand, warnings);
    return kExitSuccess;
}

int Config(const std::wstring& service, const ServiceSettings& settings, bool force)
{
    constexpr const wchar_t* kCommand = L"config";
    std::wstring reason;
    if (settings.modules) {
        if (const auto refusal = ModuleListRefusal(*settings.modules)) {
            return Fail(kCommand, *refusal);
        }
    }
    std::optional<std::wstring> displayName;
    UniqueServiceHandle manager;
    UniqueServiceHandle handle;
    if (!ResolveDisplayName(settings, displayName, reason) || !ManagerOpened(manager, reason) ||
        !ServiceOpened(manager.get(), service, handle, reason) ||
        !MayTakeOver(handle.get(), service, force, L"change", reason)) {
        return Fail(kCommand, reason);
    }
    std::vector<std::wstring> warnings;
    if (!Apply(handle.get(), service, settings, displayName, warnings, reason)) {
        return Fail(kCommand, reason);
    }
    SERVICE_STATUS status{};
    const bool stopped = (QueryServiceStatus(handle.get(), &status) != 0) && status.dwCurrentState == SERVICE_STOPPED;
    Out(L"changed service " + service + (stopped ? L"" : L": the host reads its Parameters at its next start"));
    Warn(kCommand, warnings);
    return kExitSuccess;
}

} // namespace QxServiceCtl
