#include <windows.h>

#include "Commands.h"
#include "Common/ServiceHost/ServiceConfiguration.h"
#include "Console.h"
#include "HostFiles.h"
#include "InstallRules.h"
#include "JsonObject.h"
#include "ServiceConfigView.h"
#include "ServiceControl.h"
#include "ServiceManager.h"
#include "ServiceSetup.h"
#include "Win32Support/WholeFile.h"

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

// Whether the service runs, so that a replacement starts it again.
bool IsRunning(SC_HANDLE service)
{
    ServiceState state;
    std::wstring ignored;
    return ReadServiceState(service, state, ignored) &&
           ProgressTowards(Goal::Stopped, state.status.dwCurrentState, state.fate.ended) != Progress::Reached;
}

// Points an existing service of this host at this host again, after it has stopped.
bool Repoint(SC_HANDLE existing, const std::wstring& service, std::wstring& reason)
{
    if (!StopForChange(existing, reason)) {
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

// Each module as validate checks it, unless --no-check takes them as they are, which is then said.
bool ModulesChecked(const wchar_t* command, const std::wstring& modules, bool noCheck, std::wstring& reason)
{
    std::wstring errors;
    for (const Finding& finding : ValidateModules(modules, HostProbes())) {
        if (finding.severity != Severity::Error) {
            continue;
        }
        if (noCheck) {
            Err(L"QxServiceCtl " + std::wstring(command) + L": warning: --no-check: " + finding.subject + L": " +
                finding.text);
        }
        errors.append(errors.empty() ? L"" : L"; ").append(finding.subject + L": " + finding.text);
    }
    if (!errors.empty() && !noCheck) {
        reason = errors + L"; pass --no-check to take the module list all the same";
        return false;
    }
    return true;
}

// A service that ran before the replacement runs again after it.
int StartedAgain(SC_HANDLE handle, const std::wstring& service)
{
    const StateChange change = StartAndWait(handle, kStopWaitMilliseconds);
    if (change.progress != Progress::Reached) {
        return Fail(L"install", L"service \"" + service + L"\" was replaced but did not run again: " +
                                    (change.progress == Progress::Waiting
                                         ? L"it is " + StateWords(change.last) + L" after " +
                                               std::to_wstring(kStopWaitMilliseconds / 1000) + L" s"
                                         : change.reason));
    }
    Out(L"service " + service + L" was running: stopped for the change and started again (process id " +
        std::to_wstring(change.last.status.dwProcessId) + L")");
    return kExitSuccess;
}

// config without settings: the whole configuration, read only.
int ShowConfig(const std::wstring& service, bool json)
{
    OpenedService opened = OpenNamedService(service, SERVICE_QUERY_CONFIG);
    std::wstring& reason = opened.reason;
    ServiceConfigView view;
    if (!opened.handle || !ReadServiceConfig(opened.handle.get(), service, view, reason)) {
        return Fail(L"config", reason, {json, service, kExitFailure});
    }
    if (json) {
        JsonObject object;
        object.String(L"service", service);
        AddConfigJson(object, view);
        object.Number(L"schemaVersion", kJsonSchemaVersion);
        Out(object.Text());
        return kExitSuccess;
    }
    Out(L"service: " + service);
    for (const ConfigLine& line : ConfigLines(view)) {
        Out(line.label + L": " + line.value);
    }
    return kExitSuccess;
}

int Install(const std::wstring& service, const InstallOptions& options)
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
    if (!ModulesChecked(kCommand, *settings.modules, options.noCheck, reason)) {
        return Fail(kCommand, reason);
    }
    if (!Qx::Win32Support::FileExists(ToolFolder() + kHostFileName)) {
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
    const bool wasRunning = existed && IsRunning(handle.get());
    if (existed && (!MayTakeOver(handle.get(), service, options.force, L"replace", reason) ||
                    !Repoint(handle.get(), service, reason))) {
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
    return wasRunning ? StartedAgain(handle.get(), service) : kExitSuccess;
}

int Config(const Command& command)
{
    constexpr const wchar_t* kCommand = L"config";
    const std::wstring& service = command.target;
    const InstallOptions& options = command.Get<InstallOptions>();
    const ServiceSettings& settings = options.settings;
    if (settings == ServiceSettings{}) {
        return ShowConfig(service, options.json);
    }
    std::wstring reason;
    if (settings.modules) {
        if (const auto refusal = ModuleListRefusal(*settings.modules)) {
            return Fail(kCommand, *refusal);
        }
        if (!ModulesChecked(kCommand, *settings.modules, options.noCheck, reason)) {
            return Fail(kCommand, reason);
        }
    }
    std::optional<std::wstring> displayName;
    const OpenedService opened = OpenNamedService(service, SERVICE_ALL_ACCESS);
    const SC_HANDLE handle = opened.handle.get();
    ServiceConfigView before;
    if (!ResolveDisplayName(settings, displayName, reason)) {
        return Fail(kCommand, reason);
    }
    if (!opened.handle) {
        return Fail(kCommand, opened.reason);
    }
    if (!MayTakeOver(handle, service, options.force, L"change", reason) ||
        !ReadServiceConfig(handle, service, before, reason)) {
        return Fail(kCommand, reason);
    }
    std::vector<std::wstring> warnings;
    ServiceConfigView after;
    if (!Apply(handle, service, settings, displayName, warnings, reason) ||
        !ReadServiceConfig(handle, service, after, reason)) {
        return Fail(kCommand, reason);
    }
    SERVICE_STATUS status{};
    const bool stopped = (QueryServiceStatus(handle, &status) != 0) && status.dwCurrentState == SERVICE_STOPPED;
    Out(L"changed service " + service + (stopped ? L"" : L": the host reads its Parameters at its next start"));
    for (const std::wstring& line : ChangedLines(ConfigLines(before), ConfigLines(after))) {
        Out(L"  " + line);
    }
    Warn(kCommand, warnings);
    return kExitSuccess;
}

} // namespace

const CommandEntry kInstallCommand{
    CommandKind::Install,
    {L"QxServiceCtl install <service> --modules <list> [settings] [--no-check] [--replace [--force]]",
     L"    Creates the service \"<host>\" -name=<service>, its Parameters and its event source.",
     L"    The name must not contain \"-\" (the host cuts its command line there) and must be shorter",
     L"    than 256 characters; module names are cut at \";\" and \",\" and never trimmed, so no",
     L"    space may stand next to a separator; the list holds at most 259 characters.",
     L"    Settings (install's defaults in brackets):",
     L"      --display-name-id N    message N of QxMessages.dll names the service in events [0: \"%%0\"]",
     L"      --display-name TEXT    the service manager's display name [message N, else the name]",
     L"      --description TEXT     the service manager's description",
     L"      --start auto|delayed|demand|disabled   [demand]",
     L"      --depend S... | --no-depend   services separated by spaces or \"/\"; repeated, they add up",
     L"      --account NAME [--password P]  [LocalSystem]",
     L"      --restart on-failure|never    restart after a crash or a failed start [never]",
     L"      --restart-delay SECONDS       [60]   --reset-after SECONDS  failure count reset [86400]",
     L"      --self-defence | --no-self-defence, --log-compressor | --no-log-compressor   [off]",
     L"    Each module is checked as validate checks it; --no-check takes one that is deployed later.",
     L"    --replace changes an existing service of this host in place: what install sets, with the",
     L"    defaults above for what is not given (config changes only what is given), and nothing else; a",
     L"    running service is stopped for the change and started again. A service whose command line",
     L"    is not this host's for the name needs --force too.",
     L"    What the service manager takes but does not keep is named by a warning on standard error."},
    [](const Command& command) { return Install(command.target, command.Get<InstallOptions>()); }};

const CommandEntry kConfigCommand{
    CommandKind::Config,
    {L"QxServiceCtl config <service> [--json] | config <service> <settings...> [--no-check] [--force]",
     L"    Without settings, shows the whole configuration: the service manager's settings and every",
     L"    Parameters value the host reads, with its meaning. With settings, changes those of install",
     L"    (the module list included) and nothing else, and shows each change as before -> after; the",
     L"    host reads them at the service's next start. A service whose command line is not this",
     L"    host's for the name needs --force."},
    &Config};

} // namespace QxServiceCtl
