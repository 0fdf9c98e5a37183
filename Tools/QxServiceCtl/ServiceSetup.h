// What install and config write: the service manager's settings through its own calls, the
// Parameters in the registry, and the event source.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "CtlArguments.h"

namespace QxServiceCtl {

// The display name a service gets: the text given, else the message library's text for the
// identifier; nullopt when neither is given. Refuses an identifier the library holds no message for,
// which events would show as "%%<id>".
bool ResolveDisplayName(const ServiceSettings& settings, std::optional<std::wstring>& displayName,
                        std::wstring& reason);

// Changes the service manager's settings that are given: start, dependencies, account, display name,
// delayed start, description and recovery. What the service manager takes but does not keep or know
// is added to warnings; the first failure gives the reason.
bool ApplyManagerSettings(SC_HANDLE service, const ServiceSettings& settings,
                          const std::optional<std::wstring>& displayName, std::vector<std::wstring>& warnings,
                          std::wstring& reason);

// Writes the Parameters values that are given; the key is created when missing.
bool WriteParameters(const std::wstring& service, const ServiceSettings& settings, std::wstring& reason);

// Registers the event source with the message library beside the tool as its event and parameter
// message file, so that the "%%<id>" display name reference in events reads as a name.
bool WriteEventSource(const std::wstring& source, std::wstring& reason);

} // namespace QxServiceCtl
