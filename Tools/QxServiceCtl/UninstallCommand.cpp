#include <windows.h>

#include "Commands.h"
#include "Common/ServiceFileName.h"
#include "Common/ServiceFileSuffixes.h"
#include "Console.h"
#include "HostFiles.h"
#include "InstallRules.h"
#include "ResKit/Logger/LoggerSettingsNames.h"
#include "ServiceManager.h"
#include "Win32Support/WholeFile.h"

namespace QxServiceCtl {

namespace {

constexpr const wchar_t* kCommand = L"uninstall";

// A file or registry key the service's runs left behind.
struct Leftover {
    std::wstring path;
    bool isKey = false;

    [[nodiscard]] std::wstring Shown() const { return isKey ? L"HKLM\\" + path : path; }
};

void AddFiles(const std::wstring& folder, const std::wstring& fileName, ServiceFileRule rule,
              std::vector<Leftover>& found)
{
    for (const FoundFile& file : FindServiceFiles(folder, fileName, rule)) {
        found.push_back({file.path, false});
    }
}

// The service's module logs, crash dumps, watchdog status file and logger settings: by the names the
// host and its logger give them, never another service's whose name begins the same.
std::vector<Leftover> Leftovers(const std::wstring& service)
{
    const std::wstring fileName = ServiceFileName(service);
    std::vector<Leftover> found;
    AddFiles(ToolFolder() + L"Logs\\", fileName, &ServiceFileSuffixes::IsModuleLogSuffix, found);
    for (const std::wstring& temp : {TempFolder(), WindowsTempFolder()}) {
        AddFiles(temp, fileName, &ServiceFileSuffixes::IsCrashDumpSuffix, found);
    }
    if (const std::wstring status = ToolFolder() + L"QxWatchdogAgent." + fileName + L".status";
        Qx::Win32Support::FileExists(status)) {
        found.push_back({status, false});
    }
    const std::wstring loggerKey = std::wstring(LoggerSettingsNames::kLoggerServiceSettingsKey) + service;
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, loggerKey.c_str(), 0, KEY_READ, key.out()) == ERROR_SUCCESS) {
        found.push_back({loggerKey, true});
    }
    return found;
}

// Removes each leftover; false when one of them stays.
bool Purge(const std::vector<Leftover>& leftovers)
{
    bool purged = true;
    for (const Leftover& leftover : leftovers) {
        std::wstring reason;
        if (leftover.isKey ? DeleteKeyTree(leftover.path, reason) : DeleteFileW(leftover.path.c_str()) != 0) {
            Out(L"removed " + leftover.Shown());
        } else {
            Err(L"QxServiceCtl uninstall: " +
                (leftover.isKey ? reason : leftover.path + L" cannot be deleted" + Win32Reason(GetLastError())));
            purged = false;
        }
    }
    return purged;
}

// The service's own event source goes; the product's only when no other service of the host
// reports under it.
bool RemoveEventSources(const std::wstring& service, std::wstring& reason)
{
    const std::optional<std::wstring> product = ProductEventSource();
    std::vector<std::wstring> sources = {service};
    if (product && *product != service) {
        sources.push_back(*product);
    }
    for (const std::wstring& source : sources) {
        const auto others =
            source == product ? OtherHostServices(service, reason) : std::optional(std::vector<std::wstring>());
        if (!others) {
            return false;
        }
        if (others->empty()) {
            if (!DeleteKeyTree(EventSourceKeyPath(source), reason)) {
                return false;
            }
            continue;
        }
        std::wstring users;
        for (const std::wstring& other : *others) {
            users.append(users.empty() ? L"" : L", ").append(other);
        }
        Out(L"event source " + source + L" stays: " + users.append(L" report under it too"));
    }
    return true;
}

// What an earlier uninstall listed as staying goes by the same names once the service is gone.
int PurgeAfterUninstall(const std::wstring& service)
{
    if (const auto refusal = ServiceNameRefusal(service)) {
        return Fail(kCommand, *refusal);
    }
    Out(L"service " + service + L" is not installed: removing what its runs left");
    return Purge(Leftovers(service)) ? kExitSuccess : kExitFailure;
}

int Uninstall(const std::wstring& service, bool force, bool purge)
{
    const OpenedService opened = OpenNamedService(service, SERVICE_ALL_ACCESS);
    if (!opened.handle) {
        return opened.missing && purge ? PurgeAfterUninstall(service) : Fail(kCommand, opened.reason);
    }
    const SC_HANDLE handle = opened.handle.get();
    std::wstring reason;
    if (!MayTakeOver(handle, service, force, L"remove", reason)) {
        return Fail(kCommand, reason);
    }
    if (!RemoveService(handle, service, reason)) {
        return Fail(kCommand, L"service \"" + service + L"\": " + reason);
    }
    Out(L"removed service " + service + L" and its Parameters");
    if (!RemoveEventSources(service, reason)) {
        return Fail(kCommand, reason);
    }
    const std::vector<Leftover> leftovers = Leftovers(service);
    if (purge) {
        return Purge(leftovers) ? kExitSuccess : kExitFailure;
    }
    for (const Leftover& leftover : leftovers) {
        Out(L"stays: " + leftover.Shown());
    }
    if (!leftovers.empty()) {
        Out(L"uninstall --purge removes what stays");
    }
    return kExitSuccess;
}

} // namespace

const CommandEntry kUninstallCommand{
    CommandKind::Uninstall,
    {L"QxServiceCtl uninstall <service> [--purge] [--force]",
     L"    Stops the service (waiting up to 30 s), deletes it, its Parameters and its event source (the",
     L"    product's only when no other service of the host reports under it), and lists what stays:",
     L"    its module logs, crash dumps, watchdog status file and logger settings; --purge removes them.",
     L"    A service whose process has ended is deleted without a stop request. A service whose command",
     L"    line is not \"<host>\" -name=<service> is left alone without --force. Once the service is",
     L"    gone, uninstall <service> --purge still removes what its runs left."},
    [](const Command& command) {
        const auto& options = command.Get<UninstallOptions>();
        return Uninstall(command.target, options.force, options.purge);
    }};

} // namespace QxServiceCtl
