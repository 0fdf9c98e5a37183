#include <windows.h>

#include <optional>

#include "Commands.h"
#include "Common/ServiceHost/ServiceConfiguration.h"
#include "Common/UiLanguage.h"
#include "Console.h"
#include "HostFiles.h"
#include "InstallRules.h"
#include "ServiceManager.h"

using namespace Qx::Platform;

namespace QxServiceCtl {

namespace {

constexpr const wchar_t* kCommand = L"install";
constexpr DWORD kEventTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

// The display name the message library gives the identifier; the service name without one.
std::wstring DisplayName(const std::wstring& service, std::uint32_t displayNameId)
{
    Library library;
    if (Libraries().LoadAsDataFile(ToolFolder() + kMessageLibraryName, library) != Qx::kErrorSuccess) {
        return service;
    }
    const std::wstring text = FormatMessageLine(displayNameId, kFormatMessageFromHModule, library.get());
    return text.empty() ? service : text;
}

// The double-NUL-terminated list CreateServiceW takes.
std::wstring DependencyList(const std::vector<std::wstring>& dependencies)
{
    std::wstring list;
    for (const auto& dependency : dependencies) {
        list += dependency;
        list += L'\0';
    }
    list += L'\0';
    return list;
}

LSTATUS SetValue(HKEY key, const wchar_t* name, DWORD type, const void* data, std::size_t size)
{
    return RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
}

LSTATUS SetString(HKEY key, const wchar_t* name, DWORD type, const std::wstring& value)
{
    return SetValue(key, name, type, value.c_str(), (value.size() + 1) * sizeof(wchar_t));
}

LSTATUS SetDword(HKEY key, const wchar_t* name, DWORD value)
{
    return SetValue(key, name, REG_DWORD, &value, sizeof(value));
}

bool CreateKey(const std::wstring& path, KeyHandle& key, std::wstring& reason)
{
    const LSTATUS error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                          KEY_SET_VALUE, nullptr, key.out(), nullptr);
    if (error != ERROR_SUCCESS) {
        reason = L"HKLM\\" + path + L" cannot be created" + Win32Reason(static_cast<DWORD>(error));
        return false;
    }
    return true;
}

// Checks every write and names the value that failed.
class ValueWriter {
public:
    ValueWriter(HKEY key, std::wstring path) : m_key(key), m_path(std::move(path)) {}

    void Check(const wchar_t* name, LSTATUS error)
    {
        if (error != ERROR_SUCCESS && m_reason.empty()) {
            m_reason =
                L"HKLM\\" + m_path + L"\\" + name + L" cannot be written" + Win32Reason(static_cast<DWORD>(error));
        }
    }
    void String(const wchar_t* name, DWORD type, const std::wstring& value)
    {
        Check(name, SetString(m_key, name, type, value));
    }
    void Dword(const wchar_t* name, DWORD value) { Check(name, SetDword(m_key, name, value)); }
    [[nodiscard]] const std::wstring& Reason() const { return m_reason; }

private:
    HKEY m_key;
    std::wstring m_path;
    std::wstring m_reason;
};

bool WriteParameters(const std::wstring& service, const InstallOptions& options, std::wstring& reason)
{
    const std::wstring path = ParametersKeyPath(service);
    KeyHandle key;
    if (!CreateKey(path, key, reason)) {
        return false;
    }
    ValueWriter writer(key.get(), path);
    writer.String(kServiceModulesValue, REG_SZ, options.modules);
    writer.Dword(kDisplayNameIdValue, options.displayNameId);
    writer.Dword(kSelfDefenceValue, options.selfDefence ? 1 : 0);
    writer.Dword(kLogCompressorValue, options.logCompressor ? 1 : 0);
    reason = writer.Reason();
    return reason.empty();
}

bool WriteEventSource(const std::wstring& service, std::wstring& reason)
{
    const std::wstring path = EventSourceKeyPath(service);
    KeyHandle key;
    if (!CreateKey(path, key, reason)) {
        return false;
    }
    ValueWriter writer(key.get(), path);
    writer.String(L"EventMessageFile", REG_EXPAND_SZ, ToolFolder() + kMessageLibraryName);
    writer.Dword(L"TypesSupported", kEventTypesSupported);
    reason = writer.Reason();
    return reason.empty();
}

// The service's settings as install makes them: its command line, start, display name and, when
// given, its dependencies.
struct ServiceSettings {
    std::wstring binaryPath;
    DWORD start;
    std::wstring displayName;
    std::optional<std::wstring> dependencies;
};

ServiceHandle CreateHostService(SC_HANDLE manager, const std::wstring& service, const ServiceSettings& settings)
{
    return ServiceHandle(CreateServiceW(manager, service.c_str(), settings.displayName.c_str(), SERVICE_ALL_ACCESS,
                                        SERVICE_WIN32_OWN_PROCESS, settings.start, SERVICE_ERROR_NORMAL,
                                        settings.binaryPath.c_str(), nullptr, nullptr,
                                        settings.dependencies.value_or(L"").c_str(), nullptr, nullptr));
}

// Replaces an existing service of this host in place, after it has stopped: what install does not
// set (a description, the recovery actions, an Environment, other Parameters) stays as it was.
bool Reconfigure(SC_HANDLE existing, const std::wstring& service, const ServiceSettings& settings, std::wstring& reason)
{
    if (!StopAndWait(existing, reason)) {
        reason = L"service \"" + service + L"\" cannot be replaced: " + reason;
        return false;
    }
    if (!ChangeServiceConfigW(existing, SERVICE_WIN32_OWN_PROCESS, settings.start, SERVICE_ERROR_NORMAL,
                              settings.binaryPath.c_str(), nullptr, nullptr,
                              settings.dependencies ? settings.dependencies->c_str() : nullptr, nullptr, nullptr,
                              settings.displayName.c_str())) {
        reason = L"service \"" + service + L"\" cannot be reconfigured" + Win32Reason(GetLastError());
        return false;
    }
    return true;
}

int Refused(const std::wstring& reason)
{
    return Fail(kCommand, reason);
}

} // namespace

int Install(const std::wstring& service, const InstallOptions& options)
{
    if (const auto refusal = ServiceNameRefusal(service)) {
        return Refused(*refusal);
    }
    if (const auto refusal = ModuleListRefusal(options.modules)) {
        return Refused(*refusal);
    }
    const std::wstring host = ToolFolder() + kHostFileName;
    if (!FileExists(host)) {
        return Refused(std::wstring(kHostFileName) + L" not found beside QxServiceCtl.exe: " + host);
    }
    const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        return Refused(L"the Service Control Manager cannot be opened" + Win32Reason(GetLastError()));
    }
    const ServiceSettings settings{L"\"" + host + L"\" -name=" + service,
                                   options.start == StartType::Auto ? static_cast<DWORD>(SERVICE_AUTO_START)
                                                                    : static_cast<DWORD>(SERVICE_DEMAND_START),
                                   DisplayName(service, options.displayNameId),
                                   options.dependencies.empty() ? std::nullopt
                                                                : std::optional(DependencyList(options.dependencies))};
    std::wstring reason;
    const ServiceHandle existing(OpenServiceW(manager.get(), service.c_str(), SERVICE_ALL_ACCESS));
    if (existing && !options.replace) {
        return Refused(L"service \"" + service + L"\" already exists: uninstall it first, or pass --replace");
    }
    if (existing && (!MayTakeOver(existing.get(), service, options.force, L"replace", reason) ||
                     !Reconfigure(existing.get(), service, settings, reason))) {
        return Refused(reason);
    }
    if (!existing && !CreateHostService(manager.get(), service, settings)) {
        return Refused(L"service \"" + service + L"\" cannot be created" + Win32Reason(GetLastError()));
    }
    if (!WriteParameters(service, options, reason) || !WriteEventSource(service, reason)) {
        return Refused(reason);
    }
    Out(std::wstring(existing ? L"replaced" : L"installed") + L" service " + service + L": " + settings.binaryPath);
    Out(L"parameters: HKLM\\" + ParametersKeyPath(service) + L" (ServiceModules \"" + options.modules + L"\")");
    Out(L"event source: HKLM\\" + EventSourceKeyPath(service));
    return kExitSuccess;
}

} // namespace QxServiceCtl
