#include "CtlArguments.h"

#include "CodeText.h"
#include "CommandOptions.h"
#include "ToolText.h"

#include <algorithm>
#include <array>
#include <cwchar>
#include <optional>
#include <utility>

namespace QxServiceCtl {

namespace {

struct CommandName {
    const wchar_t* name;
    CommandKind kind;
};

constexpr std::array<CommandName, 15> kCommands = {{
    {L"install", CommandKind::Install},
    {L"config", CommandKind::Config},
    {L"uninstall", CommandKind::Uninstall},
    {L"validate", CommandKind::Validate},
    {L"status", CommandKind::Status},
    {L"start", CommandKind::Start},
    {L"stop", CommandKind::Stop},
    {L"restart", CommandKind::Restart},
    {L"list", CommandKind::List},
    {L"run", CommandKind::Run},
    {L"explain", CommandKind::Explain},
    {L"product", CommandKind::Product},
    {L"--help", CommandKind::Help},
    {L"help", CommandKind::Help},
    {L"--version", CommandKind::Version},
}};

ParsedArguments ParseRun(const std::vector<std::wstring>& arguments, Command command)
{
    OptionReader reader(arguments, 2);
    while (!reader.Done()) {
        const std::wstring& option = reader.Next();
        if (option != L"--seconds") {
            return Refuse(L"run: unknown option " + Quoted(option));
        }
        const auto value = reader.Value();
        command.seconds = value ? ParseUnsigned(*value) : std::nullopt;
        if (!command.seconds) {
            return Refuse(L"run: --seconds needs a whole number of seconds, not " + Quoted(value.value_or(L"")));
        }
    }
    return {std::move(command), {}};
}

const wchar_t* TargetName(CommandKind kind)
{
    switch (kind) {
    case CommandKind::Explain:
        return L"<code>";
    case CommandKind::Run:
        return L"<service> or <module path>";
    default:
        return L"<service>";
    }
}

std::optional<CommandKind> KindOf(const std::wstring& name)
{
    for (const auto& entry : kCommands) {
        if (name == entry.name) {
            return entry.kind;
        }
    }
    return std::nullopt;
}

// "<command> --help" (or -h, /?) anywhere after the command.
bool AsksForHelp(const std::vector<std::wstring>& arguments)
{
    return std::ranges::any_of(arguments.begin() + 1, arguments.end(), [](const std::wstring& argument) {
        return argument == L"--help" || argument == L"-h" || argument == L"/?";
    });
}

ParsedArguments ParseWithoutArguments(const std::vector<std::wstring>& arguments, Command command)
{
    if (arguments.size() > 1) {
        return Refuse(arguments[0] + L" takes no arguments, not " + Quoted(arguments[1]));
    }
    return {std::move(command), {}};
}

// --help, "<command> --help" and "help <command>".
ParsedArguments ParseHelp(const std::vector<std::wstring>& arguments, Command command)
{
    if (command.kind != CommandKind::Help) {
        command.helpFor = command.kind;
        command.kind = CommandKind::Help;
        return {std::move(command), {}};
    }
    if (arguments[0] != L"help" || arguments.size() != 2) {
        return ParseWithoutArguments(arguments, std::move(command));
    }
    const std::optional<CommandKind> about = KindOf(arguments[1]);
    if (!about || *about == CommandKind::Help) {
        return Refuse(L"help: unknown command " + Quoted(arguments[1]) + L": see QxServiceCtl --help");
    }
    command.helpFor = *about;
    return {std::move(command), {}};
}

ParsedArguments ParseUninstall(const std::vector<std::wstring>& arguments, Command command)
{
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        if (arguments[i] == L"--force") {
            command.force = true;
        } else if (arguments[i] == L"--purge") {
            command.purge = true;
        } else {
            return Refuse(arguments[0] + L": unknown option " + Quoted(arguments[i]));
        }
    }
    return {std::move(command), {}};
}

ParsedArguments ParseProduct(const std::vector<std::wstring>& arguments, Command command)
{
    OptionReader reader(arguments, 1);
    while (!reader.Done()) {
        const std::wstring& option = reader.Next();
        std::optional<std::wstring>* target = option == L"--registry-root"  ? &command.product.registryRoot
                                              : option == L"--event-source" ? &command.product.eventSource
                                              : option == L"--install-path" ? &command.product.installPath
                                                                            : nullptr;
        if (target == nullptr) {
            return Refuse(L"product: unknown option " + Quoted(option));
        }
        *target = reader.Value();
        if (!*target) {
            return Refuse(L"product: " + option + L" needs a value");
        }
    }
    return {std::move(command), {}};
}

// status and list: --json or nothing, after the first of the arguments given.
ParsedArguments ParseJsonOption(const std::vector<std::wstring>& arguments, std::size_t first, Command command)
{
    for (std::size_t i = first; i < arguments.size(); ++i) {
        if (arguments[i] != L"--json") {
            return Refuse(arguments[0] + L": unknown option " + Quoted(arguments[i]));
        }
        command.json = true;
    }
    return {std::move(command), {}};
}

// start, stop and restart, from the first option on. A kill needs time to be noticed, so
// --kill-after alone waits that long and the usual wait beyond it.
ParsedArguments ParseLifecycle(const std::vector<std::wstring>& arguments, std::size_t first, Command command)
{
    OptionReader reader(arguments, first);
    std::optional<std::uint32_t> wait;
    std::wstring error;
    while (!reader.Done() && error.empty()) {
        const std::wstring& option = reader.Next();
        if (option == L"--wait") {
            wait = ParseSeconds(reader, L"--wait", error);
        } else if (option == L"--kill-after" && command.kind != CommandKind::Start) {
            command.lifecycle.killAfterSeconds = ParseSeconds(reader, L"--kill-after", error);
        } else if (option == L"--record" && command.lifecycle.allRunning) {
            command.lifecycle.record = ParseText(reader, L"--record", L"a file", error);
        } else {
            return Refuse(arguments[0] + L": unknown option " + Quoted(option));
        }
    }
    if (!error.empty()) {
        return Refuse(arguments[0] + L": " + error);
    }
    const std::optional<std::uint32_t> killAfter = command.lifecycle.killAfterSeconds;
    if (wait && killAfter && *killAfter >= *wait) {
        return Refuse(arguments[0] + L": --kill-after must be shorter than --wait, which counts from the stop request");
    }
    command.lifecycle.waitSeconds = wait.value_or(killAfter.value_or(0) + kDefaultWaitSeconds);
    return {std::move(command), {}};
}

// stop --all [--record FILE] and start --recorded FILE: the services of this host at once, for an
// upgrade of the host's files.
std::optional<ParsedArguments> ParseAllServices(const std::vector<std::wstring>& arguments, Command command)
{
    if (command.kind == CommandKind::Stop && arguments[1] == L"--all") {
        command.lifecycle.allRunning = true;
        return ParseLifecycle(arguments, 2, std::move(command));
    }
    if (command.kind != CommandKind::Start || arguments[1] != L"--recorded") {
        return std::nullopt;
    }
    if (arguments.size() < 3) {
        return Refuse(L"start: --recorded needs the file a stop --all --record wrote");
    }
    command.lifecycle.record = arguments[2];
    return ParseLifecycle(arguments, 3, std::move(command));
}

ParsedArguments ParseTargetOnly(const std::vector<std::wstring>& arguments, Command command)
{
    if (arguments.size() > 2) {
        return Refuse(arguments[0] + L": unexpected argument " + Quoted(arguments[2]));
    }
    if (command.kind == CommandKind::Explain && !ParseCode(command.target)) {
        return Refuse(L"explain: " + Quoted(command.target) +
                      L" is no code: give a decimal number, a negative one as %ERRORLEVEL% shows it, or 0x and "
                      L"hexadecimal digits");
    }
    return {std::move(command), {}};
}

} // namespace

std::vector<std::wstring> CommandNames()
{
    std::vector<std::wstring> names;
    for (const auto& [name, kind] : kCommands) {
        if (kind != CommandKind::Help && kind != CommandKind::Version) {
            names.emplace_back(name);
        }
    }
    return names;
}

std::optional<std::uint32_t> ParseUnsigned(const std::wstring& text)
{
    const bool hexadecimal = text.starts_with(L"0x") || text.starts_with(L"0X");
    const std::wstring digits = hexadecimal ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 10) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const wchar_t c : digits) {
        unsigned digit = 0;
        if (c >= L'0' && c <= L'9') {
            digit = static_cast<unsigned>(c - L'0');
        } else if (hexadecimal && c >= L'a' && c <= L'f') {
            digit = static_cast<unsigned>(c - L'a' + 10);
        } else if (hexadecimal && c >= L'A' && c <= L'F') {
            digit = static_cast<unsigned>(c - L'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value * (hexadecimal ? 16u : 10u) + digit;
    }
    if (value > 0xFFFFFFFFULL) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

ParsedArguments ParseArguments(const std::vector<std::wstring>& arguments)
{
    if (arguments.empty()) {
        return Refuse(L"no command given: see QxServiceCtl --help");
    }
    const std::optional<CommandKind> kind = KindOf(arguments[0]);
    if (!kind) {
        return Refuse(L"unknown command " + Quoted(arguments[0]) + L": see QxServiceCtl --help");
    }
    Command command;
    command.kind = *kind;
    if (command.kind == CommandKind::Help || AsksForHelp(arguments)) {
        return ParseHelp(arguments, std::move(command));
    }
    if (command.kind == CommandKind::Version) {
        return ParseWithoutArguments(arguments, std::move(command));
    }
    if (command.kind == CommandKind::Product) {
        return ParseProduct(arguments, std::move(command));
    }
    if (command.kind == CommandKind::List) {
        return ParseJsonOption(arguments, 1, std::move(command));
    }
    if (arguments.size() >= 2) {
        if (auto all = ParseAllServices(arguments, command)) {
            return std::move(*all);
        }
    }
    // No service name begins with "-" (install refuses one), so there an option stands where the name
    // belongs; a code may be negative.
    if (arguments.size() < 2 || (arguments[1].starts_with(L"-") && command.kind != CommandKind::Explain)) {
        return Refuse(arguments[0] + L": " + TargetName(command.kind) + L" is missing" +
                      (arguments.size() < 2 ? L"" : L" before " + Quoted(arguments[1])));
    }
    command.target = arguments[1];
    switch (command.kind) {
    case CommandKind::Install:
    case CommandKind::Config:
        return ParseSettings(arguments, std::move(command));
    case CommandKind::Run:
        return ParseRun(arguments, std::move(command));
    case CommandKind::Uninstall:
        return ParseUninstall(arguments, std::move(command));
    case CommandKind::Status:
        return ParseJsonOption(arguments, 2, std::move(command));
    case CommandKind::Start:
    case CommandKind::Stop:
    case CommandKind::Restart:
        return ParseLifecycle(arguments, 2, std::move(command));
    default:
        return ParseTargetOnly(arguments, std::move(command));
    }
}

} // namespace QxServiceCtl
