// The control tool's command line, parsed without touching the system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace QxServiceCtl {

enum class CommandKind {
    Help,
    Version,
    Install,
    Config,
    Uninstall,
    Validate,
    Status,
    Start,
    Stop,
    Restart,
    List,
    Run,
    Explain,
    Product,
};

// Delayed is an automatic start that the service manager holds back until the boot has settled.
enum class StartType { Auto, Delayed, Demand, Disabled };

enum class RestartPolicy { Never, OnFailure };

// The settings install makes and config changes; config changes only those given, install takes
// its defaults for the rest.
struct ServiceSettings {
    std::optional<std::wstring> modules;
    std::optional<std::uint32_t> displayNameId;
    // The service manager's display name; without it the message of displayNameId, else the name.
    std::optional<std::wstring> displayName;
    std::optional<std::wstring> description;
    std::optional<StartType> start;
    std::optional<std::vector<std::wstring>> dependencies;
    // The account the service runs as; without it LocalSystem.
    std::optional<std::wstring> account;
    std::optional<std::wstring> password;
    std::optional<RestartPolicy> restart;
    std::optional<std::uint32_t> restartDelaySeconds;
    std::optional<std::uint32_t> resetAfterSeconds;
    std::optional<bool> selfDefence;
    std::optional<bool> logCompressor;

    bool operator==(const ServiceSettings&) const = default;
};

inline constexpr std::uint32_t kDefaultRestartDelaySeconds = 60;
inline constexpr std::uint32_t kDefaultResetAfterSeconds = 86400;

// install and config.
struct InstallOptions {
    ServiceSettings settings;
    bool replace = false;
    // Take modules that are not (yet) where the host would find them, or lack its entry points.
    bool noCheck = false;
    // install --replace and config: take a service whose command line is not this host's for it.
    bool force = false;
    // config without settings: the configuration as JSON.
    bool json = false;
};

struct UninstallOptions {
    // Take a service whose command line is not this host's for it.
    bool force = false;
    // Also remove the service's logs, dumps, status files and logger settings.
    bool purge = false;
};

struct RunOptions {
    // How long the modules run; without it, until Ctrl+C.
    std::optional<std::uint32_t> seconds;
};

// status and list.
struct ViewOptions {
    // JSON instead of lines.
    bool json = false;
};

inline constexpr std::uint32_t kDefaultWaitSeconds = 30;

// How long start, stop and restart wait for the state they ask for.
struct LifecycleOptions {
    std::uint32_t waitSeconds = kDefaultWaitSeconds;
    // stop and restart: end the service's process when it has not stopped after this long.
    std::optional<std::uint32_t> killAfterSeconds;
    // stop --all: every running service of this host instead of one.
    bool allRunning = false;
    // stop --all --record FILE: where the names of the services it stopped go; start --recorded FILE:
    // the services to start, as such a stop wrote them.
    std::optional<std::wstring> record;
};

// The product root that the product command writes; nothing given shows it.
struct ProductOptions {
    std::optional<std::wstring> registryRoot;
    std::optional<std::wstring> eventSource;
    std::optional<std::wstring> installPath;
};

struct HelpOptions {
    // The command whose help is asked for ("install --help", "help install"); Help for all.
    CommandKind about = CommandKind::Help;
};

struct Command {
    CommandKind kind = CommandKind::Help;
    // The service, the module path of run, or the code of explain.
    std::wstring target;
    // The options of the kind's parser; none for validate, explain and version.
    std::variant<std::monostate, InstallOptions, UninstallOptions, RunOptions, ViewOptions, LifecycleOptions,
                 ProductOptions, HelpOptions>
        options;

    template <typename Options>
    [[nodiscard]] const Options& Get() const
    {
        return std::get<Options>(options);
    }
};

struct ParsedArguments {
    std::optional<Command> command;
    // Why the arguments were refused, when command is empty.
    std::wstring error;
};

// The commands' names, as the command line takes them, without the help and version options.
std::vector<std::wstring> CommandNames();

// The arguments after the program name.
ParsedArguments ParseArguments(const std::vector<std::wstring>& arguments);

// A decimal number, or hexadecimal after "0x", that fits 32 bits.
std::optional<std::uint32_t> ParseUnsigned(const std::wstring& text);

} // namespace QxServiceCtl
