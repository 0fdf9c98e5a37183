// validate: the service's configuration read with the host's own rules, one finding per value,
// file and module.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Api/Platform.h"

namespace QxServiceCtl {

// A library as the host would find it, examined without loading it.
struct ModuleFile {
    // 0, or the error its load would fail with: 126 when it is not found, 193 when it is no image
    // for this machine.
    Qx::Win32Error error = 0;
    std::wstring path;
    std::vector<std::string> exports;
};

// The service manager's record of a service.
struct ManagedService {
    std::wstring imagePath;
    std::vector<std::wstring> dependencies;
};

// What validation needs from the file system and the service manager.
struct ValidationProbes {
    // The host's folder, ending in a backslash.
    std::wstring hostFolder;
    // Resolves a library name the way the host's loader does and reads its exports.
    std::function<ModuleFile(const std::wstring& name)> inspectModule;
    std::function<bool(const std::wstring& path)> fileExists;
    // The service manager's record of a service; nullopt when it has none of that name.
    std::function<std::optional<ManagedService>(const std::wstring& name)> managedService;
    // The text of a message of the message library beside the host; empty when it holds none.
    std::function<std::wstring(std::uint32_t id)> messageText;
};

enum class Severity { Ok, Warning, Error };

struct Finding {
    Severity severity = Severity::Ok;
    // The value, file or module the finding is about.
    std::wstring subject;
    std::wstring text;
};

std::vector<Finding> ValidateService(const std::wstring& service, const ValidationProbes& probes);

// One finding per module of the list, as the host would load it: what install and config check.
std::vector<Finding> ValidateModules(const std::wstring& modules, const ValidationProbes& probes);

// True when no finding is an error: the host would start.
bool HostWouldStart(const std::vector<Finding>& findings);

// "error: ServiceModules: missing (error 2): the host stops with 0x80070002"
std::wstring FormatFinding(const Finding& finding);

} // namespace QxServiceCtl
