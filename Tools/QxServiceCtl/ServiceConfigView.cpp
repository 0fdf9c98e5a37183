#include "ServiceConfigView.h"

#include <array>

#include "Common/ConfigurationNames.h"
#include "Common/RegistryValues.h"
#include "Common/ServiceHost/ServiceConfiguration.h"
#include "Common/ServiceHost/ServiceModuleManager.h"
#include "InstallRules.h"
#include "Platform/Api/Platform.h"

using namespace Qx;
using namespace Qx::Platform;

namespace QxServiceCtl {

namespace {

ParameterValue FromRead(Win32Error error, std::wstring text)
{
    if (error == kErrorFileNotFound) {
        return {};
    }
    return {error == kErrorSuccess ? std::optional(std::move(text)) : std::nullopt, error == kErrorSuccess};
}

ParameterValue ReadDword(NativeHandle key, const wchar_t* name)
{
    std::uint32_t value = 0;
    const Win32Error error = ReadDwordValue(key, name, value);
    return FromRead(error, std::to_wstring(value));
}

ParameterValue ReadFlag(NativeHandle key, const wchar_t* name)
{
    bool flag = false;
    const Win32Error error = ReadFlagValue(key, name, flag);
    return FromRead(error, flag ? L"on" : L"off");
}

// The value, or what the host makes of it when it is missing or unreadable.
std::wstring Shown(const ParameterValue& value, const wchar_t* whenMissing, const wchar_t* whenUnreadable)
{
    if (!value.readable) {
        return whenUnreadable;
    }
    return value.text.value_or(whenMissing);
}

std::wstring RecoveryText(const ServiceConfigView& view)
{
    static constexpr std::array<const wchar_t*, 4> kTypes = {L"none", L"restart", L"reboot", L"run command"};
    std::wstring text;
    for (const RecoveryAction& action : view.recovery) {
        const wchar_t* type = action.type < kTypes.size() ? kTypes[action.type] : L"unknown";
        text += (text.empty() ? L"" : L", ") + std::wstring(type) + L" after " +
                std::to_wstring(action.delayMilliseconds / 1000) + L" s";
    }
    return text.empty() ? L"none"
                        : text + L"; failure count reset after " + std::to_wstring(view.resetAfterSeconds) + L" s";
}

std::wstring Joined(const std::vector<std::wstring>& values)
{
    std::wstring text;
    for (const std::wstring& value : values) {
        text += (text.empty() ? L"" : L", ") + value;
    }
    return text.empty() ? L"none" : text;
}

std::wstring DisplayNameIdText(const ServiceConfigView& view)
{
    const ParameterValue& id = view.displayNameId;
    if (id.text && !view.displayNameText.empty()) {
        return *id.text + L" (\"" + view.displayNameText + L"\" in events)";
    }
    return Shown(id, L"not set: the host stops with 0x80070002", L"unreadable: the host stops");
}

} // namespace

void ReadParameters(const std::wstring& service, ServiceConfigView& view)
{
    RegistryKey key;
    if (Registry().OpenKey(ParametersKeyPath(service), kKeyRead, key) != kErrorSuccess) {
        return;
    }
    std::wstring modules;
    const Win32Error modulesRead = ReadServiceModulesValue(key.get(), modules);
    view.modules = FromRead(modulesRead, modules);
    view.displayNameId = ReadDword(key.get(), kDisplayNameIdValue);
    view.selfDefence = ReadFlag(key.get(), kSelfDefenceValue);
    view.logCompressor = ReadFlag(key.get(), kLogCompressorValue);
    view.stopAccept = ReadDword(key.get(), ConfigurationNames::kStopAccept);
}

std::wstring StartTypeWord(std::uint32_t startType, bool delayedStart)
{
    static constexpr std::array<const wchar_t*, 5> kWords = {L"boot", L"system", L"auto", L"demand", L"disabled"};
    if (startType == 2 && delayedStart) {
        return L"delayed";
    }
    return startType < kWords.size() ? kWords[startType] : L"type " + std::to_wstring(startType);
}

std::vector<ConfigLine> ConfigLines(const ServiceConfigView& view)
{
    return {
        {L"command line", view.imagePath},
        {L"start", StartTypeWord(view.startType, view.delayedStart)},
        {L"account", view.account},
        {L"display name", view.displayName},
        {L"description", view.description.empty() ? L"none" : view.description},
        {L"dependencies", Joined(view.dependencies)},
        {L"recovery", RecoveryText(view)},
        {L"ServiceModules",
         Shown(view.modules, L"not set: the host stops with 0x80070002", L"unreadable: the host stops")},
        {L"ServiceName", DisplayNameIdText(view)},
        {L"SDEnabled", Shown(view.selfDefence, L"not set: self-defence off", L"unreadable: self-defence off")},
        {L"LogCompressor",
         Shown(view.logCompressor, L"not set: log compressor off", L"unreadable: log compressor off")},
        {L"StopAccept", Shown(view.stopAccept, L"not set", L"unreadable: stop stays refused")},
    };
}

std::vector<std::wstring> ChangedLines(const std::vector<ConfigLine>& before, const std::vector<ConfigLine>& after)
{
    std::vector<std::wstring> changed;
    for (std::size_t i = 0; i < before.size() && i < after.size(); ++i) {
        if (before[i].value != after[i].value) {
            changed.push_back(after[i].label + L": " + before[i].value + L" -> " + after[i].value);
        }
    }
    return changed;
}

void AddConfigJson(JsonObject& object, const ServiceConfigView& view)
{
    const auto number = [](const ParameterValue& value) -> std::optional<std::int64_t> {
        return value.text ? std::optional<std::int64_t>(std::stoll(*value.text)) : std::nullopt;
    };
    object.String(L"commandLine", view.imagePath);
    object.String(L"startType", StartTypeWord(view.startType, view.delayedStart));
    object.String(L"account", view.account);
    object.String(L"displayName", view.displayName);
    object.String(L"description", view.description);
    object.Strings(L"dependencies", view.dependencies);
    std::vector<JsonObject> actions;
    for (const RecoveryAction& action : view.recovery) {
        JsonObject entry;
        entry.Number(L"type", action.type);
        entry.Number(L"delaySeconds", action.delayMilliseconds / 1000);
        actions.push_back(entry);
    }
    object.Objects(L"recoveryActions", actions);
    object.Number(L"resetAfterSeconds", view.resetAfterSeconds);
    object.String(L"modules", view.modules.text);
    object.Strings(L"moduleList",
                   view.modules.text ? SplitModuleList(*view.modules.text) : std::vector<std::wstring>());
    object.Number(L"displayNameId", number(view.displayNameId));
    object.Bool(L"selfDefence", view.selfDefence.text == L"on");
    object.Bool(L"logCompressor", view.logCompressor.text == L"on");
}

} // namespace QxServiceCtl
