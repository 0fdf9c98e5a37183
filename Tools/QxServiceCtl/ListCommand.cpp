#include <windows.h>

#include "CodeText.h"
#include "Commands.h"
#include "Console.h"
#include "HostFiles.h"
#include "InstallRules.h"
#include "JsonObject.h"
#include "ServiceConfigView.h"
#include "ServiceControl.h"
#include "ServiceManager.h"

namespace QxServiceCtl {

namespace {

std::optional<std::int64_t> ProcessIdOf(const ServiceState& state)
{
    const DWORD processId = state.status.dwProcessId;
    return processId == 0 ? std::nullopt : std::optional<std::int64_t>(processId);
}

JsonObject ServiceJson(const HostService& service)
{
    JsonObject object;
    object.String(L"service", service.name);
    object.String(L"host", service.owner == HostOwner::ThisHost ? L"this" : L"other");
    object.String(L"state", ServiceStateName(service.state.status.dwCurrentState));
    object.Number(L"processId", ProcessIdOf(service.state));
    object.Bool(L"processEnded", service.state.fate.ended);
    object.String(L"startType", StartTypeWord(service.config.startType, service.config.delayedStart));
    object.String(L"modules", service.config.modules.text);
    object.String(L"commandLine", service.config.imagePath);
    return object;
}

std::wstring ServiceLine(const HostService& service)
{
    const auto processId = ProcessIdOf(service.state);
    std::wstring line = service.name + L"  " + StateWords(service.state) + L"  process " +
                        (processId ? std::to_wstring(*processId) : L"none") + L"  " +
                        StartTypeWord(service.config.startType, service.config.delayedStart) + L"  " +
                        service.config.modules.text.value_or(L"(no module list)");
    if (service.owner == HostOwner::OtherHost) {
        line += L"  other host: " + service.config.imagePath;
    }
    return line;
}

int List(bool json)
{
    std::wstring reason;
    const auto listed = HostServices(reason);
    if (!listed) {
        return Fail(L"list", reason);
    }
    const std::vector<HostService>& services = *listed;
    if (json) {
        std::vector<JsonObject> objects;
        objects.reserve(services.size());
        for (const HostService& service : services) {
            objects.push_back(ServiceJson(service));
        }
        JsonObject object;
        object.String(L"host", ToolFolder() + kHostFileName);
        object.Objects(L"services", objects);
        object.Number(L"schemaVersion", kJsonSchemaVersion);
        Out(object.Text());
        return kExitSuccess;
    }
    for (const HostService& service : services) {
        Out(ServiceLine(service));
    }
    if (services.empty()) {
        Out(L"no service runs " + ToolFolder() + kHostFileName);
    }
    return kExitSuccess;
}

} // namespace

const CommandEntry kListCommand{
    CommandKind::List,
    {L"QxServiceCtl list [--json]",
     L"    Every installed service whose command line runs QxServiceHost.exe: name, state, process id,",
     L"    start type and module list; a service of a host in another folder is marked \"other host\"."},
    [](const Command& command) { return List(command.Get<ViewOptions>().json); }};

} // namespace QxServiceCtl
