#include "ServiceSetup.h"

#include <array>

#include "CodeMessages.h"
#include "Common/ServiceHost/ServiceConfiguration.h"
#include "HostFiles.h"
#include "ServiceManager.h"

using namespace Qx::Platform;

namespace QxServiceCtl {

namespace {

constexpr DWORD kEventTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
// First, second and every later failure restart the service alike.
constexpr std::size_t kRestartActions = 3;

// The double-NUL-terminated list ChangeServiceConfigW takes.
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

DWORD ManagerStartType(StartType start)
{
    switch (start) {
    case StartType::Auto:
    case StartType::Delayed:
        return SERVICE_AUTO_START;
    case StartType::Demand:
        return SERVICE_DEMAND_START;
    case StartType::Disabled:
        break;
    }
    return SERVICE_DISABLED;
}

const wchar_t* OrNull(const std::optional<std::wstring>& text)
{
    return text ? text->c_str() : nullptr;
}

bool ChangeConfig(SC_HANDLE service, const ServiceSettings& settings, const std::optional<std::wstring>& displayName,
                  std::wstring& reason)
{
    if (!settings.start && !settings.dependencies && !settings.account && !displayName) {
        return true;
    }
    const std::optional<std::wstring> dependencies =
        settings.dependencies ? std::optional(DependencyList(*settings.dependencies)) : std::nullopt;
    // A built-in account has no password: an empty one, not the one kept for an earlier account.
    const std::optional<std::wstring> password =
        settings.account ? std::optional(settings.password.value_or(L"")) : std::nullopt;
    const DWORD start = settings.start ? ManagerStartType(*settings.start) : SERVICE_NO_CHANGE;
    if (ChangeServiceConfigW(service, SERVICE_NO_CHANGE, start, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                             OrNull(dependencies), OrNull(settings.account), OrNull(password),
                             OrNull(displayName)) == 0) {
        reason = L"its start, dependencies, account or display name cannot be changed" + Win32Reason(GetLastError());
        return false;
    }
    return true;
}

// ChangeServiceConfig2W for one level; a level the service manager does not know is a warning.
bool ChangeConfig2(SC_HANDLE service, DWORD level, void* info, const wchar_t* what, const std::wstring& unknownLevel,
                   std::vector<std::wstring>& warnings, std::wstring& reason)
{
    if (ChangeServiceConfig2W(service, level, info) != 0) {
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_INVALID_LEVEL) {
        warnings.push_back(L"the service manager knows no " + std::wstring(what) + Win32Reason(error) + L": " +
                           unknownLevel);
        return true;
    }
    reason = L"its " + std::wstring(what) + L" cannot be set" + Win32Reason(error);
    return false;
}

bool SetDelayedStart(SC_HANDLE service, StartType start, std::vector<std::wstring>& warnings, std::wstring& reason)
{
    if (start != StartType::Auto && start != StartType::Delayed) {
        return true;
    }
    SERVICE_DELAYED_AUTO_START_INFO delayed{static_cast<WINBOOL>(start == StartType::Delayed)};
    // A service manager without delayed starts starts an automatic service without delay: only a
    // delayed start asked for is worth a warning.
    std::vector<std::wstring> unknown;
    const bool set = ChangeConfig2(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed, L"delayed start",
                                   L"the service starts with the system, without the delay", unknown, reason);
    if (start == StartType::Delayed) {
        warnings.insert(warnings.end(), unknown.begin(), unknown.end());
    }
    return set;
}

// Reads the recovery actions back: a service manager may take them without keeping them.
bool ConfirmRecovery(SC_HANDLE service, DWORD actions, std::vector<std::wstring>& warnings, std::wstring& reason)
{
    std::array<std::uint8_t, 1024> buffer{};
    DWORD needed = 0;
    if (QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, buffer.data(), static_cast<DWORD>(buffer.size()),
                             &needed) == 0) {
        warnings.push_back(L"the service manager does not report recovery actions back" + Win32Reason(GetLastError()) +
                           L": they cannot be confirmed");
        return true;
    }
    if (reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(buffer.data())->cActions != actions) {
        reason = L"the service manager kept other recovery actions than were given";
        return false;
    }
    return true;
}

bool SetRecovery(SC_HANDLE service, const ServiceSettings& settings, std::vector<std::wstring>& warnings,
                 std::wstring& reason)
{
    const bool restart = settings.restart == RestartPolicy::OnFailure;
    const DWORD delay = settings.restartDelaySeconds.value_or(kDefaultRestartDelaySeconds) * 1000;
    std::array<SC_ACTION, kRestartActions> restarts{};
    restarts.fill({SC_ACTION_RESTART, delay});
    // A non-null action list with no action deletes the actions.
    SERVICE_FAILURE_ACTIONSW actions{settings.resetAfterSeconds.value_or(kDefaultResetAfterSeconds), nullptr, nullptr,
                                     restart ? static_cast<DWORD>(restarts.size()) : 0, restarts.data()};
    // The host ends a failed start with a failure exit code and no crash: that counts only with the flag.
    SERVICE_FAILURE_ACTIONS_FLAG onEveryFailure{static_cast<WINBOOL>(restart)};
    return ChangeConfig2(service, SERVICE_CONFIG_FAILURE_ACTIONS, &actions, L"recovery actions", L"", warnings,
                         reason) &&
           ChangeConfig2(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onEveryFailure,
                         L"recovery from a failure without a crash",
                         L"the service is restarted only when its process crashes, not after a failed start", warnings,
                         reason) &&
           ConfirmRecovery(service, actions.cActions, warnings, reason);
}

LSTATUS SetValue(HKEY key, const wchar_t* name, DWORD type, const void* data, std::size_t size)
{
    return RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
}

bool CreateKey(const std::wstring& path, UniqueRegKey& key, std::wstring& reason)
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

    void String(const wchar_t* name, DWORD type, const std::wstring& value)
    {
        Check(name, SetValue(m_key, name, type, value.c_str(), (value.size() + 1) * sizeof(wchar_t)));
    }
    void Dword(const wchar_t* name, DWORD value)
    {
        Check(name, SetValue(m_key, name, REG_DWORD, &value, sizeof(value)));
    }
    [[nodiscard]] const std::wstring& Reason() const { return m_reason; }

private:
    void Check(const wchar_t* name, LSTATUS error)
    {
        if (error != ERROR_SUCCESS && m_reason.empty()) {
            m_reason =
                L"HKLM\\" + m_path + L"\\" + name + L" cannot be written" + Win32Reason(static_cast<DWORD>(error));
        }
    }

    HKEY m_key;
    std::wstring m_path;
    std::wstring m_reason;
};

} // namespace

bool ResolveDisplayName(const ServiceSettings& settings, std::optional<std::wstring>& displayName, std::wstring& reason)
{
    displayName = settings.displayName;
    if (displayName || !settings.displayNameId) {
        return true;
    }
    displayName = MessageText(*settings.displayNameId);
    if (displayName->empty()) {
        const std::wstring id = std::to_wstring(*settings.displayNameId);
        reason = L"--display-name-id " + id + L": " + ToolFolder() + kMessageLibraryName + L" holds no message " + id +
                 L", so events would name the service \"%%" + id + L"\"";
        return false;
    }
    return true;
}

bool ApplyManagerSettings(SC_HANDLE service, const ServiceSettings& settings,
                          const std::optional<std::wstring>& displayName, std::vector<std::wstring>& warnings,
                          std::wstring& reason)
{
    if (!ChangeConfig(service, settings, displayName, reason)) {
        return false;
    }
    if (settings.start && !SetDelayedStart(service, *settings.start, warnings, reason)) {
        return false;
    }
    if (settings.description) {
        SERVICE_DESCRIPTIONW description{const_cast<wchar_t*>(settings.description->c_str())};
        if (!ChangeConfig2(service, SERVICE_CONFIG_DESCRIPTION, &description, L"description", L"", warnings, reason)) {
            return false;
        }
    }
    return !settings.restart || SetRecovery(service, settings, warnings, reason);
}

bool WriteParameters(const std::wstring& service, const ServiceSettings& settings, std::wstring& reason)
{
    const std::wstring path = ParametersKeyPath(service);
    UniqueRegKey key;
    if (!CreateKey(path, key, reason)) {
        return false;
    }
    ValueWriter writer(key.get(), path);
    if (settings.modules) {
        writer.String(kServiceModulesValue, REG_SZ, *settings.modules);
    }
    if (settings.displayNameId) {
        writer.Dword(kDisplayNameIdValue, *settings.displayNameId);
    }
    if (settings.selfDefence) {
        writer.Dword(kSelfDefenceValue, *settings.selfDefence ? 1 : 0);
    }
    if (settings.logCompressor) {
        writer.Dword(kLogCompressorValue, *settings.logCompressor ? 1 : 0);
    }
    reason = writer.Reason();
    return reason.empty();
}

bool WriteEventSource(const std::wstring& source, std::wstring& reason)
{
    const std::wstring path = EventSourceKeyPath(source);
    UniqueRegKey key;
    if (!CreateKey(path, key, reason)) {
        return false;
    }
    ValueWriter writer(key.get(), path);
    writer.String(L"EventMessageFile", REG_EXPAND_SZ, ToolFolder() + kMessageLibraryName);
    writer.String(L"ParameterMessageFile", REG_EXPAND_SZ, ToolFolder() + kMessageLibraryName);
    writer.Dword(L"TypesSupported", kEventTypesSupported);
    reason = writer.Reason();
    return reason.empty();
}

} // namespace QxServiceCtl
