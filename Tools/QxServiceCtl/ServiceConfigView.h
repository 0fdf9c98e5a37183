// A service's whole configuration as config shows it: the service manager's settings and the
// Parameters the host reads, each with what it means.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "JsonObject.h"

namespace QxServiceCtl {

// One SC_ACTION of the service's recovery.
struct RecoveryAction {
    // SC_ACTION_NONE 0, _RESTART 1, _REBOOT 2, _RUN_COMMAND 3.
    std::uint32_t type = 0;
    std::uint32_t delayMilliseconds = 0;
};

// One Parameters value: its text, or why the host cannot read it; empty when it is not set.
struct ParameterValue {
    std::optional<std::wstring> text;
    bool readable = true;
};

struct ServiceConfigView {
    // SERVICE_BOOT_START 0 to SERVICE_DISABLED 4.
    std::uint32_t startType = 3;
    bool delayedStart = false;
    std::wstring imagePath;
    std::wstring account;
    std::wstring displayName;
    std::wstring description;
    std::vector<std::wstring> dependencies;
    std::vector<RecoveryAction> recovery;
    std::uint32_t resetAfterSeconds = 0;
    ParameterValue modules;
    ParameterValue displayNameId;
    // The message library's text for the display name identifier.
    std::wstring displayNameText;
    ParameterValue selfDefence;
    ParameterValue logCompressor;
    ParameterValue stopAccept;
};

// Reads the Parameters the host reads, as the host reads them.
void ReadParameters(const std::wstring& service, ServiceConfigView& view);

struct ConfigLine {
    std::wstring label;
    std::wstring value;
};

// "auto", "delayed", "demand", "disabled", as --start takes them; "boot" and "system" besides.
std::wstring StartTypeWord(std::uint32_t startType, bool delayedStart);

std::vector<ConfigLine> ConfigLines(const ServiceConfigView& view);

// "<label>: <before> -> <after>" for every line whose value differs.
std::vector<std::wstring> ChangedLines(const std::vector<ConfigLine>& before, const std::vector<ConfigLine>& after);

void AddConfigJson(JsonObject& object, const ServiceConfigView& view);

} // namespace QxServiceCtl
