// The settings of install and config on the command line.
#include <algorithm>

#include "CommandOptions.h"

namespace QxServiceCtl {

namespace {

// Repeated --depend add to the list; "/" separates services as in sc's depend=.
void AddDependencies(const std::vector<std::wstring>& values, std::vector<std::wstring>& dependencies)
{
    for (const std::wstring& value : values) {
        for (std::size_t start = 0; start <= value.size();) {
            const std::size_t end = std::min(value.find(L'/', start), value.size());
            if (end > start) {
                dependencies.push_back(value.substr(start, end - start));
            }
            start = end + 1;
        }
    }
}

constexpr std::array<std::pair<const wchar_t*, StartType>, 4> kStartTypes = {{
    {L"auto", StartType::Auto},
    {L"delayed", StartType::Delayed},
    {L"demand", StartType::Demand},
    {L"disabled", StartType::Disabled},
}};

constexpr std::array<std::pair<const wchar_t*, RestartPolicy>, 2> kRestartPolicies = {{
    {L"on-failure", RestartPolicy::OnFailure},
    {L"never", RestartPolicy::Never},
}};

struct TextSetting {
    const wchar_t* option;
    std::optional<std::wstring> ServiceSettings::*field;
    const wchar_t* what;
};

constexpr std::array<TextSetting, 5> kTextSettings = {{
    {L"--modules", &ServiceSettings::modules, L"the module list"},
    {L"--display-name", &ServiceSettings::displayName, L"the text"},
    {L"--description", &ServiceSettings::description, L"the text"},
    {L"--account", &ServiceSettings::account, L"the account name"},
    {L"--password", &ServiceSettings::password, L"the password"},
}};

// One setting of install and config; an empty error when it was taken, "unknown" when it is no
// setting.
std::wstring ReadSetting(const std::wstring& option, OptionReader& reader, ServiceSettings& settings)
{
    std::wstring error;
    for (const auto& [name, field, what] : kTextSettings) {
        if (option == name) {
            settings.*field = ParseText(reader, name, what, error);
            return error;
        }
    }
    if (option == L"--display-name-id") {
        const auto value = reader.Value();
        settings.displayNameId = value ? ParseUnsigned(*value) : std::nullopt;
        if (!settings.displayNameId) {
            error = L"--display-name-id needs a number from 0 to 4294967295, not " + Quoted(value.value_or(L""));
        }
    } else if (option == L"--start") {
        settings.start = ParseChoice(reader, L"--start", kStartTypes, error);
    } else if (option == L"--depend") {
        const std::vector<std::wstring> values = reader.Values();
        if (values.empty()) {
            return L"--depend needs at least one service";
        }
        if (!settings.dependencies) {
            settings.dependencies.emplace();
        }
        AddDependencies(values, *settings.dependencies);
    } else if (option == L"--no-depend") {
        settings.dependencies.emplace();
    } else if (option == L"--restart") {
        settings.restart = ParseChoice(reader, L"--restart", kRestartPolicies, error);
    } else if (option == L"--restart-delay") {
        settings.restartDelaySeconds = ParseSeconds(reader, L"--restart-delay", error);
    } else if (option == L"--reset-after") {
        settings.resetAfterSeconds = ParseSeconds(reader, L"--reset-after", error);
    } else if (option == L"--self-defence" || option == L"--no-self-defence") {
        settings.selfDefence = option == L"--self-defence";
    } else if (option == L"--log-compressor" || option == L"--no-log-compressor") {
        settings.logCompressor = option == L"--log-compressor";
    } else {
        return L"unknown";
    }
    return error;
}

// Settings that only make sense together.
std::wstring SettingsConflict(const ServiceSettings& settings)
{
    if (settings.password && !settings.account) {
        return L"--password needs --account";
    }
    const bool restartTimes = settings.restartDelaySeconds || settings.resetAfterSeconds;
    if (restartTimes && settings.restart != RestartPolicy::OnFailure) {
        return L"--restart-delay and --reset-after need --restart on-failure";
    }
    return {};
}

} // namespace

ParsedArguments ParseSettings(const std::vector<std::wstring>& arguments, std::size_t first, Command command)
{
    const std::wstring& name = arguments[0];
    InstallOptions& options = command.options.emplace<InstallOptions>();
    ServiceSettings& settings = options.settings;
    OptionReader reader(arguments, first);
    bool anySetting = false;
    while (!reader.Done()) {
        const std::wstring& option = reader.Next();
        if (option == L"--force") {
            options.force = true;
        } else if (option == L"--no-check") {
            options.noCheck = true;
        } else if (option == L"--json" && command.kind == CommandKind::Config) {
            options.json = true;
        } else if (option == L"--replace" && command.kind == CommandKind::Install) {
            options.replace = true;
        } else if (std::wstring error = ReadSetting(option, reader, settings); error == L"unknown") {
            return Refuse(name + L": unknown option " + Quoted(option));
        } else if (!error.empty()) {
            error.insert(0, name + L": ");
            return Refuse(std::move(error));
        } else {
            anySetting = true;
        }
    }
    if (command.kind == CommandKind::Install && !settings.modules) {
        return Refuse(L"install: --modules <list> is required");
    }
    if (options.json && anySetting) {
        return Refuse(L"config: --json shows the configuration and takes no setting to change");
    }
    if (std::wstring conflict = SettingsConflict(settings); !conflict.empty()) {
        return Refuse(name + L": " + conflict);
    }
    return {std::move(command), {}};
}

} // namespace QxServiceCtl
