#include "CtlArguments.h"

#include "CodeText.h"
#include "CommandOptions.h"
#include "ToolText.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

namespace QxServiceCtl {

namespace {

ParsedArguments ParseWithoutArguments(const std::vector<std::wstring>& arguments, std::size_t first, Command command)
{
    if (arguments.size() > first) {
        return Refuse(arguments[0] + L" takes no arguments, not " + Quoted(arguments[first]));
    }
    return {std::move(command), {}};
}

ParsedArguments ParseRun(const std::vector<std::wstring>& arguments, std::size_t first, Command command)
{
    RunOptions& options = command.options.emplace<RunOptions>();
    OptionReader reader(arguments, first);
    std::wstring error;
    while (!reader.Done() && error.empty()) {
        const std::wstring& option = reader.Next();
        if (option != L"--seconds") {
            return Refuse(L"run: unknown option " + Quoted(option));
        }
        options.seconds = ParseSeconds(reader, L"--seconds", error);
    }
    if (!error.empty()) {
        return Refuse(L"run: " + error);
    }
    return {std::move(command), {}};
}

ParsedArguments ParseUninstall(const std::vector<std::wstring>& arguments, std::size_t first, Command command)
{
    UninstallOptions& options = command.options.emplace<UninstallOptions>();
    for (std::size_t i = first; i < arguments.size(); ++i) {
        if (arguments[i] == L"--force") {
            options.force = true;
        } else if (arguments[i] == L"--purge") {
            options.purge = true;
        } else {
            return Refuse(arguments[0] + L": unknown option " + Quoted(arguments[i]));
        }
    }
    return {std::move(command), {}};
}

ParsedArguments ParseProduct(const std::vector<std::wstring>& arguments, std::size_t first, Command command)
{
    ProductOptions& options = command.options.emplace<ProductOptions>();
    OptionReader reader(arguments, first);
    while (!reader.Done()) {
        const std::wstring& option = reader.Next();
        std::optional<std::wstring>* target = option == L"--registry-root"  ? &options.registryRoot
                                              : option == L"--event-source" ? &options.eventSource
                                              : option == L"--install-path" ? &options.installPath
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

// status and list: --json or nothing.
ParsedArguments ParseJsonOption(const std::vector<std::wstring>& arguments, std::size_t first, Command command)
{
    ViewOptions& options = command.options.emplace<ViewOptions>();
    for (std::size_t i = first; i < arguments.size(); ++i) {
        if (arguments[i] != L"--json") {
            return Refuse(arguments[0] + L": unknown option " + Quoted(arguments[i]));
        }
        options.json = true;
    }
    return {std::move(command), {}};
}

ParsedArguments ParseTargetOnly(const std::vector<std::wstring>& arguments, std::size_t first, Command command)
{
    if (arguments.size() > first) {
        return Refuse(arguments[0] + L": unexpected argument " + Quoted(arguments[first]));
    }
    return {std::move(command), {}};
}

ParsedArguments ParseExplain(const std::vector<std::wstring>& arguments, std::size_t first, Command command)
{
    ParsedArguments parsed = ParseTargetOnly(arguments, first, std::move(command));
    if (parsed.command && !ParseCode(parsed.command->target)) {
        return Refuse(L"explain: " + Quoted(parsed.command->target) +
                      L" is no code: give a decimal number, a negative one as %ERRORLEVEL% shows it, or 0x and "
                      L"hexadecimal digits");
    }
    return parsed;
}

ParsedArguments ParseHelp(const std::vector<std::wstring>& arguments, std::size_t first, Command command);

// A command's name, what stands after it, and the parser of the rest.
struct CommandSyntax {
    const wchar_t* name;
    CommandKind kind;
    // The argument after the name, as a refusal names it when it is missing; null when the command's
    // parser takes everything after the name.
    const wchar_t* target;
    ArgumentsParser parse;
};

constexpr const wchar_t* kService = L"<service>";

constexpr std::array<CommandSyntax, 15> kCommands = {{
    {L"install", CommandKind::Install, kService, ParseSettings},
    {L"config", CommandKind::Config, kService, ParseSettings},
    {L"uninstall", CommandKind::Uninstall, kService, ParseUninstall},
    {L"validate", CommandKind::Validate, kService, ParseTargetOnly},
    {L"status", CommandKind::Status, kService, ParseJsonOption},
    {L"start", CommandKind::Start, nullptr, ParseLifecycle},
    {L"stop", CommandKind::Stop, nullptr, ParseLifecycle},
    {L"restart", CommandKind::Restart, nullptr, ParseLifecycle},
    {L"list", CommandKind::List, nullptr, ParseJsonOption},
    {L"run", CommandKind::Run, L"<service> or <module path>", ParseRun},
    {L"explain", CommandKind::Explain, L"<code>", ParseExplain},
    {L"product", CommandKind::Product, nullptr, ParseProduct},
    {L"--help", CommandKind::Help, nullptr, ParseHelp},
    {L"help", CommandKind::Help, nullptr, ParseHelp},
    {L"--version", CommandKind::Version, nullptr, ParseWithoutArguments},
}};

const CommandSyntax* SyntaxOf(const std::wstring& name)
{
    for (const CommandSyntax& syntax : kCommands) {
        if (name == syntax.name) {
            return &syntax;
        }
    }
    return nullptr;
}

// --help and "help <command>"; "<command> --help" is taken before the command's own parser.
ParsedArguments ParseHelp(const std::vector<std::wstring>& arguments, std::size_t first, Command command)
{
    command.options.emplace<HelpOptions>();
    if (arguments[0] != L"help" || arguments.size() != 2) {
        return ParseWithoutArguments(arguments, first, std::move(command));
    }
    const CommandSyntax* about = SyntaxOf(arguments[1]);
    if (about == nullptr || about->kind == CommandKind::Help) {
        return Refuse(L"help: unknown command " + Quoted(arguments[1]) + L": see QxServiceCtl --help");
    }
    command.options = HelpOptions{about->kind};
    return {std::move(command), {}};
}

// "<command> --help" (or -h, /?) anywhere after the command. Where an option takes it as its value
// ("--description /?") the command's parser has taken the line, and it is that value.
bool AsksForHelp(const std::vector<std::wstring>& arguments)
{
    return std::ranges::any_of(arguments.begin() + 1, arguments.end(), [](const std::wstring& argument) {
        return argument == L"--help" || argument == L"-h" || argument == L"/?";
    });
}

ParsedArguments ParseCommand(const CommandSyntax& syntax, const std::vector<std::wstring>& arguments)
{
    Command command;
    command.kind = syntax.kind;
    if (syntax.target == nullptr) {
        return syntax.parse(arguments, 1, std::move(command));
    }
    if (auto refusal = TakeTarget(arguments, syntax.target, command)) {
        return std::move(*refusal);
    }
    return syntax.parse(arguments, 2, std::move(command));
}

} // namespace

std::vector<std::wstring> CommandNames()
{
    std::vector<std::wstring> names;
    for (const CommandSyntax& syntax : kCommands) {
        if (syntax.kind != CommandKind::Help && syntax.kind != CommandKind::Version) {
            names.emplace_back(syntax.name);
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

// No service name begins with "-" (install refuses one), so there an option stands where the name
// belongs; a code may be negative.
std::optional<ParsedArguments> TakeTarget(const std::vector<std::wstring>& arguments, const wchar_t* what,
                                          Command& command)
{
    if (arguments.size() < 2 || (arguments[1].starts_with(L"-") && command.kind != CommandKind::Explain)) {
        return Refuse(arguments[0] + L": " + what + L" is missing" +
                      (arguments.size() < 2 ? L"" : L" before " + Quoted(arguments[1])));
    }
    command.target = arguments[1];
    return std::nullopt;
}

ParsedArguments ParseArguments(const std::vector<std::wstring>& arguments)
{
    if (arguments.empty()) {
        return Refuse(L"no command given: see QxServiceCtl --help");
    }
    const CommandSyntax* syntax = SyntaxOf(arguments[0]);
    if (syntax == nullptr) {
        return Refuse(L"unknown command " + Quoted(arguments[0]) + L": see QxServiceCtl --help");
    }
    ParsedArguments parsed = ParseCommand(*syntax, arguments);
    if (!parsed.command && syntax->kind != CommandKind::Help && AsksForHelp(arguments)) {
        // "<command> --help" is "help <command>".
        return ParseArguments({L"help", arguments[0]});
    }
    return parsed;
}

} // namespace QxServiceCtl
