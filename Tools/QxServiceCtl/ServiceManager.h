// The Service Control Manager calls that install and uninstall share.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ServiceConfigView.h"
#include "Validation.h"

#include "Platform/Win32/UniqueWin32Handles.h"

namespace QxServiceCtl {

using Qx::Platform::UniqueFindHandle;
using Qx::Platform::UniqueKernelHandle;
using Qx::Platform::UniqueRegKey;
using Qx::Platform::UniqueServiceHandle;

// The key of an event source in the product's event log, below HKEY_LOCAL_MACHINE.
std::wstring EventSourceKeyPath(const std::wstring& source);

// The event source the product root names, as the host reads it; nullopt without one.
std::optional<std::wstring> ProductEventSource();

// The source the host reports a service's events under: the product's, when its product root
// names one, else the service's own name.
std::wstring EventSourceOf(const std::wstring& service);

struct ListedService {
    std::wstring name;
    SERVICE_STATUS_PROCESS status{};
};

// Every installed Win32 service, as the service manager enumerates them; nullopt, with the reason,
// when it cannot list them.
std::optional<std::vector<ListedService>> InstalledServices(std::wstring& reason);

// The other installed services whose command line runs the host beside this tool; nullopt, with the
// reason, when the services cannot be listed.
std::optional<std::vector<std::wstring>> OtherHostServices(const std::wstring& service, std::wstring& reason);

// Deletes a key and everything below it; a missing key is no failure.
bool DeleteKeyTree(const std::wstring& path, std::wstring& reason);

// Stops the service, then deletes it and its Parameters; on failure gives the reason.
bool RemoveService(SC_HANDLE service, const std::wstring& name, std::wstring& reason);

std::wstring Win32Reason(DWORD error);

struct OpenedService {
    UniqueServiceHandle handle;
    // Why it could not be opened, and whether that is because there is no such service.
    std::wstring reason;
    bool missing = false;
};

OpenedService OpenNamedService(const std::wstring& name, DWORD access);

// The service's command line as the Service Control Manager keeps it (its ImagePath); empty when
// it cannot be read.
std::wstring ImagePathOf(SC_HANDLE service);

// The service manager's record of the named service; nullopt when there is none. The dependencies
// come from the service's key, which Wine's QueryServiceConfigW does not report them from.
std::optional<ManagedService> ManagedServiceOf(const std::wstring& name);

// The service manager's settings of the service and the Parameters the host reads; the handle needs
// SERVICE_QUERY_CONFIG.
bool ReadServiceConfig(SC_HANDLE service, const std::wstring& name, ServiceConfigView& view, std::wstring& reason);

// Refuses a service that is not the host's beside this tool for that name, unless force is given,
// which is then said; what gives the command ("uninstall", "install --replace").
bool MayTakeOver(SC_HANDLE service, const std::wstring& name, bool force, const wchar_t* what, std::wstring& reason);

} // namespace QxServiceCtl
