// The Service Control Manager calls that install and uninstall share.
#pragma once

#include <string>

#include "Win32Owners.h"

namespace QxServiceCtl {

// The event-log source key of a service, below HKEY_LOCAL_MACHINE.
std::wstring EventSourceKeyPath(const std::wstring& service);

inline constexpr DWORD kStopWaitMilliseconds = 30000;

// Stops the service unless it is stopped already and waits up to kStopWaitMilliseconds for it;
// on failure gives the reason.
bool StopAndWait(SC_HANDLE service, std::wstring& reason);

// Stops the service, then deletes it, its Parameters and its event source; on failure gives the
// reason.
bool RemoveService(SC_HANDLE service, const std::wstring& name, std::wstring& reason);

std::wstring Win32Reason(DWORD error);

} // namespace QxServiceCtl
