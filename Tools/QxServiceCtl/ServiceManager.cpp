#include "ServiceManager.h"

#include <cstdint>
#include <cwchar>
#include <utility>
#include <vector>

#include "CodeText.h"
#include "Common/ProductInfo.h"
#include "Common/ServiceHost/ServiceConfiguration.h"
#include "Common/UiLanguage.h"
#include "Common/audit/EventReporters.h"
#include "Console.h"
#include "HostFiles.h"
#include "InstallRules.h"

namespace QxServiceCtl {

namespace {

constexpr DWORD kPollMilliseconds = 50;

bool QueryState(SC_HANDLE service, SERVICE_STATUS& status, std::wstring& reason)
{
    if (QueryServiceStatus(service, &status) == 0) {
        reason = L"its status cannot be read" + Win32Reason(GetLastError());
        return false;
    }
    return true;
}

} // namespace

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

std::vector<std::wstring> OtherHostServices(const std::wstring& service)
{
    std::vector<std::wstring> others;
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    DWORD needed = 0;
    DWORD count = 0;
    DWORD resume = 0;
    EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, 0, &needed,
                          &count, &resume, nullptr);
    std::vector<std::uint8_t> buffer(needed);
    resume = 0;
    if (!manager || needed == 0 ||
        (EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, buffer.data(),
                               needed, &needed, &count, &resume, nullptr) == 0)) {
        return others;
    }
    const auto* services = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
    const std::wstring host = ToolFolder() + kHostFileName;
    for (DWORD i = 0; i < count; ++i) {
        const std::wstring name = services[i].lpServiceName;
        const auto record = SameIgnoringCase(name, service) ? std::nullopt : ManagedServiceOf(name);
        if (record && RunsHostFor(record->imagePath, host, name)) {
            others.push_back(name);
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

bool StopAndWait(SC_HANDLE service, std::wstring& reason)
{
    SERVICE_STATUS status{};
    if (!QueryState(service, status, reason)) {
        return false;
    }
    if (status.dwCurrentState == SERVICE_STOPPED) {
        return true;
    }
    if (status.dwCurrentState != SERVICE_STOP_PENDING &&
        (ControlService(service, SERVICE_CONTROL_STOP, &status) == 0)) {
        const DWORD error = GetLastError();
        reason =
            error == ERROR_INVALID_SERVICE_CONTROL
                ? L"it does not accept stop now (stop is withheld while self-defence refuses it)" + Win32Reason(error)
                : L"it cannot be stopped" + Win32Reason(error);
        return false;
    }
    const ULONGLONG deadline = GetTickCount64() + kStopWaitMilliseconds;
    while (status.dwCurrentState != SERVICE_STOPPED) {
        if (GetTickCount64() >= deadline) {
            reason = L"it did not stop within " + std::to_wstring(kStopWaitMilliseconds / 1000) + L" s; it is " +
                     ServiceStateName(status.dwCurrentState);
            return false;
        }
        Sleep(kPollMilliseconds);
        if (!QueryState(service, status, reason)) {
            return false;
        }
    }
    return true;
}

bool RemoveService(SC_HANDLE service, const std::wstring& name, std::wstring& reason)
{
    if (!StopAndWait(service, reason)) {
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
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueServiceHandle service(manager ? OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG)
                                              : nullptr);
    if (!service) {
        return std::nullopt;
    }
    ManagedService record{ImagePathOf(service.get()), {}};
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

bool MayTakeOver(SC_HANDLE service, const std::wstring& name, bool force, const wchar_t* what, std::wstring& reason)
{
    const std::wstring host = ToolFolder() + kHostFileName;
    const std::wstring imagePath = ImagePathOf(service);
    if (RunsHostFor(imagePath, host, name)) {
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
