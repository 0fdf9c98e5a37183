// Starting and stopping a service and waiting for the state asked for: the lifecycle commands,
// install --replace and uninstall. The process the service manager names is looked at too, since
// Wine's service manager keeps a service whose process ended in its last state.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "InstallRules.h"
#include "Lifecycle.h"
#include "ServiceConfigView.h"

namespace QxServiceCtl {

// What became of the process the service manager names; a later process may have taken its id.
struct ProcessFate {
    bool ended = false;
    std::optional<DWORD> exitCode;
    // File time of its start, while it is the service's process.
    std::optional<std::uint64_t> started;
};

// Whether two paths name one file, however each spells it: a service's command line may spell its
// program otherwise than the system names the running image (a short name, a junction, a SUBST drive).
bool SameFile(std::wstring_view first, std::wstring_view second);

// program: the service's executable, by which a process that has taken the id is told apart.
ProcessFate FateOf(DWORD processId, std::wstring_view program);

// The exit code the service reported, its own specific code when it gave one.
DWORD ExitCodeOf(const SERVICE_STATUS_PROCESS& status);

struct ServiceState {
    SERVICE_STATUS_PROCESS status{};
    ProcessFate fate;
};

// The service's state and its process's fate; the handle needs SERVICE_QUERY_STATUS and
// SERVICE_QUERY_CONFIG.
bool ReadServiceState(SC_HANDLE service, ServiceState& state, std::wstring& reason);

struct StateChange {
    // Waiting when the time ran out.
    Progress progress = Progress::Waiting;
    ServiceState last;
    // Why it failed.
    std::wstring reason;
    // The state was reached before anything was asked of the service.
    bool already = false;
    // The process ended by --kill-after.
    std::optional<DWORD> killedProcess;
};

// Starts the service unless it runs, and waits up to waitMs for it to run.
StateChange StartAndWait(SC_HANDLE service, std::uint64_t waitMs);

// Asks the service to stop unless it is stopped or its process has ended, and waits up to waitMs for
// it; after killAfterMs ends its process.
StateChange StopAndWait(SC_HANDLE service, std::uint64_t waitMs, std::optional<std::uint64_t> killAfterMs);

inline constexpr std::uint64_t kStopWaitMilliseconds = 30000;

// A service of this host or of another copy of it, with what list shows of it.
struct HostService {
    std::wstring name;
    HostOwner owner = HostOwner::None;
    ServiceState state;
    ServiceConfigView config;
};

// Every installed service of this host or of another copy of it, as the service manager reports it
// now; one that cannot be read is left out. nullopt, with the reason, when the services cannot be
// listed.
std::optional<std::vector<HostService>> HostServices(std::wstring& reason);

// Stops the service as uninstall and install --replace do: up to kStopWaitMilliseconds, no kill; on
// failure gives the reason.
bool StopForChange(SC_HANDLE service, std::wstring& reason);

// "RUNNING", or "STOP_PENDING (its process has ended)".
std::wstring StateWords(const ServiceState& state);

} // namespace QxServiceCtl
