#include "ServiceManager.h"

#include <cstdint>
#include <cwchar>
#include <utility>
#include <vector>

#include "CodeMessages.h"
#include "CodeText.h"
#include "Common/ProductInfo.h"
#include "Common/ServiceHost/ServiceConfiguration.h"
#include "Common/UiLanguage.h"
#include "Common/audit/EventReporters.h"
#include "Console.h"
#include "HostFiles.h"
#include "InstallRules.h"
#include "ServiceConfigView.h"
#include "ServiceControl.h"
#include "ToolText.h"

namespace QxServiceCtl {

bool DeleteKeyTree(const std::wstring& path, std::wstring& reason)
{
    const LSTATUS error = RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) {
        reason = L"HKLM\\" + path + L" cannot be deleted" + Win32Reason(static_cast<DWORD>(error));
        return false;
    }
    return true;
}

std::wstring EventSourceKeyPath(const std::wstring& source)
{
    return L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\" + GetProductInfo().EventLogName() + L"\\" + source;
}

std::optional<std::wstring> ProductEventSource()
{
    std::wstring source;
    const std::wstring& root = GetProductInfo().RegistryRoot();
    return !root.empty() && SUCCEEDED(ReadEventSourceName(root, source)) ? std::optional(source) : std::nullopt;
}

std::wstring EventSourceOf(const std::wstring& service)
{
    return ProductEventSource().value_or(service);
}

std::optional<std::vector<ListedService>> InstalledServices(std::wstring& reason)
{
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    if (!manager) {
        reason = L"the service manager cannot be opened" + Win32Reason(GetLastError());
        return std::nullopt;
    }
    // The whole list from the start each time: a service installed meanwhile makes it longer than
    // the size the last call asked for.
    constexpr int kAttempts = 3;
    std::vector<std::uint8_t> buffer;
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        DWORD needed = 0;
        DWORD count = 0;
        DWORD resume = 0;
        if (EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, buffer.data(),
                                  static_cast<DWORD>(buffer.size()), &needed, &count, &resume, nullptr) != 0) {
            const auto* services = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
            std::vector<ListedService> listed;
            for (DWORD i = 0; i < count; ++i) {
                listed.push_back({services[i].lpServiceName, services[i].ServiceStatusProcess});
            }
            return listed;
        }
        error = GetLastError();
        if (error != ERROR_MORE_DATA) {
            break;
        }
        buffer.resize(buffer.size() + needed);
    }
    reason = L"the installed services cannot be listed" + Win32Reason(error);
    return std::nullopt;
}

std::optional<std::vector<std::wstring>> OtherHostServices(const std::wstring& service, std::wstring& reason)
{
    const auto installed = InstalledServices(reason);
    if (!installed) {
        return std::nullopt;
    }
    std::vector<std::wstring> others;
    const std::wstring host = ToolFolder() + kHostFileName;
    for (const ListedService& listed : *installed) {
        const auto record = SameIgnoringCase(listed.name, service) ? std::nullopt : ManagedServiceOf(listed.name);
        if (record && RunsHostFor(record->imagePath, host, listed.name, &SameFile)) {
            others.push_back(listed.name);
        }
    }
    return others;
}

std::wstring Win32Reason(DWORD error)
{
    // The system's text: the product's message library would give a display name for a small number.
    const std::wstring text = FormatMessageLine(error, Qx::Platform::kFormatMessageFromSystem, nullptr);
    return L" (error " + std::to_wstring(error) + (text.empty() ? L"" : L": " + text) + L")";
}

bool RemoveService(SC_HANDLE service, const std::wstring& name, std::wstring& reason)
{
    if (!StopForChange(service, reason)) {
        return false;
    }
    if (!DeleteKeyTree(ParametersKeyPath(name), reason)) {
        return false;
    }
    if ((DeleteService(service) == 0) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
        reason = L"it cannot be deleted" + Win32Reason(GetLastError());
        return false;
    }
    return true;
}

OpenedService OpenNamedService(const std::wstring& name, DWORD access)
{
    OpenedService opened;
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        opened.reason = L"the Service Control Manager cannot be opened" + Win32Reason(GetLastError());
        return opened;
    }
    opened.handle = UniqueServiceHandle(OpenServiceW(manager.get(), name.c_str(), access));
    if (!opened.handle) {
        const DWORD error = GetLastError();
        opened.missing = error == ERROR_SERVICE_DOES_NOT_EXIST;
        opened.reason = L"service \"" + name + L"\" " +
                        (opened.missing ? L"does not exist" : L"cannot be opened" + Win32Reason(error));
    }
    return opened;
}

std::wstring ImagePathOf(SC_HANDLE service)
{
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    std::vector<std::uint8_t> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (needed == 0 || (QueryServiceConfigW(service, config, needed, &needed) == 0) ||
        config->lpBinaryPathName == nullptr) {
        return {};
    }
    return config->lpBinaryPathName;
}

std::optional<ManagedService> ManagedServiceOf(const std::wstring& name)
{
    const OpenedService service = OpenNamedService(name, SERVICE_QUERY_CONFIG);
    if (!service.handle) {
        return std::nullopt;
    }
    ManagedService record{ImagePathOf(service.handle.get()), {}};
    const std::wstring key = L"SYSTEM\\CurrentControlSet\\Services\\" + name;
    for (const auto& [value, prefix] : {std::pair{L"DependOnService", L""}, std::pair{L"DependOnGroup", L"+"}}) {
        std::vector<wchar_t> list(4096, L'\0');
        DWORD size = static_cast<DWORD>((list.size() - 2) * sizeof(wchar_t));
        if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), value, RRF_RT_REG_MULTI_SZ, nullptr, list.data(), &size) !=
            ERROR_SUCCESS) {
            continue;
        }
        for (const wchar_t* entry = list.data(); *entry != L'\0'; entry += std::wcslen(entry) + 1) {
            record.dependencies.push_back(prefix + std::wstring(entry));
        }
    }
    return record;
}

namespace {

// What QueryServiceConfig2W gives for one level; empty when it fails.
std::vector<std::uint8_t> ConfigOfLevel(SC_HANDLE service, DWORD level)
{
    DWORD needed = 0;
    QueryServiceConfig2W(service, level, nullptr, 0, &needed);
    std::vector<std::uint8_t> bytes(needed);
    if (needed == 0 || QueryServiceConfig2W(service, level, bytes.data(), needed, &needed) == 0) {
        bytes.clear();
    }
    return bytes;
}

void ReadManagerExtras(SC_HANDLE service, ServiceConfigView& view)
{
    if (const auto bytes = ConfigOfLevel(service, SERVICE_CONFIG_DESCRIPTION); !bytes.empty()) {
        const auto* description = reinterpret_cast<const SERVICE_DESCRIPTIONW*>(bytes.data());
        view.description = description->lpDescription != nullptr ? description->lpDescription : L"";
    }
    if (const auto bytes = ConfigOfLevel(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO); !bytes.empty()) {
        view.delayedStart =
            reinterpret_cast<const SERVICE_DELAYED_AUTO_START_INFO*>(bytes.data())->fDelayedAutostart != FALSE;
    }
    if (const auto bytes = ConfigOfLevel(service, SERVICE_CONFIG_FAILURE_ACTIONS); !bytes.empty()) {
        const auto* actions = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(bytes.data());
        view.resetAfterSeconds = actions->dwResetPeriod;
        for (DWORD i = 0; i < actions->cActions; ++i) {
            view.recovery.push_back(
                {static_cast<std::uint32_t>(actions->lpsaActions[i].Type), actions->lpsaActions[i].Delay});
        }
    }
}

} // namespace

bool ReadServiceConfig(SC_HANDLE service, const std::wstring& name, ServiceConfigView& view, std::wstring& reason)
{
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    std::vector<std::uint8_t> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (needed == 0 || QueryServiceConfigW(service, config, needed, &needed) == 0) {
        reason = L"the configuration of service \"" + name + L"\" cannot be read" + Win32Reason(GetLastError());
        return false;
    }
    const auto text = [](const wchar_t* value) { return std::wstring(value != nullptr ? value : L""); };
    view.startType = config->dwStartType;
    view.imagePath = text(config->lpBinaryPathName);
    view.account = text(config->lpServiceStartName);
    view.displayName = text(config->lpDisplayName);
    view.dependencies = ManagedServiceOf(name).value_or(ManagedService{}).dependencies;
    ReadManagerExtras(service, view);
    ReadParameters(name, view);
    if (const auto id = view.displayNameId.text) {
        view.displayNameText = MessageText(static_cast<std::uint32_t>(std::stoul(*id)));
    }
    return true;
}

bool MayTakeOver(SC_HANDLE service, const std::wstring& name, bool force, const wchar_t* what, std::wstring& reason)
{
    const std::wstring host = ToolFolder() + kHostFileName;
    const std::wstring imagePath = ImagePathOf(service);
    if (RunsHostFor(imagePath, host, name, &SameFile)) {
        return true;
    }
    const std::wstring found =
        L"service \"" + name + L"\" runs \"" + imagePath + L"\", not \"" + host + L"\" -name=" + name;
    if (!force) {
        reason = found + L": it is no service of this host; pass --force to " + what + L" it all the same";
        return false;
    }
    Out(L"--force: " + found + L"; " + what + L" it all the same");
    return true;
}

} // namespace QxServiceCtl
