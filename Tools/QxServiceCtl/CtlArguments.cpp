#include "CtlArguments.h"

#include "CodeText.h"

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

constexpr std::array<CommandName, 9> kCommands = {{
    {L"install", CommandKind::Install},
    {L"uninstall", CommandKind::Uninstall},
    {L"validate", CommandKind::Validate},
    {L"status", CommandKind::Status},
    {L"run", CommandKind::Run},
    {L"explain", CommandKind::Explain},
    {L"--help", CommandKind::Help},
    {L"help", CommandKind::Help},
    {L"--version", CommandKind::Version},
}};

ParsedArguments Refuse(std::wstring error)
{
    return {std::nullopt, std::move(error)};
}

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

// Walks the options after a command's target.
class OptionReader {
public:
    OptionReader(const std::vector<std::wstring>& arguments, std::size_t position)
        : m_arguments(arguments), m_position(position)
    {
    }

    [[nodiscard]] bool Done() const { return m_position >= m_arguments.size(); }
    const std::wstring& Next() { return m_arguments[m_position++]; }
    // The value after an option, or nullopt when the line ends there.
    std::optional<std::wstring> Value()
    {
        if (Done()) {
            return std::nullopt;
        }
        return Next();
    }
    // Every following argument up to the next option.
    std::vector<std::wstring> Values()
    {
        std::vector<std::wstring> values;
        while (!Done() && !m_arguments[m_position].starts_with(L"--")) {
            values.push_back(Next());
        }
        return values;
    }

private:
    const std::vector<std::wstring>& m_arguments;
    std::size_t m_position;
};

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

// One install option; an empty result when it was taken.
std::wstring ReadInstallOption(const std::wstring& option, OptionReader& reader, InstallOptions& install,
                               bool& modulesGiven)
{
    if (option == L"--modules") {
        const auto value = reader.Value();
        if (!value) {
            return L"install: --modules needs the module list";
        }
        install.modules = *value;
        modulesGiven = true;
    } else if (option == L"--display-name-id") {
        const auto value = reader.Value();
        const auto number = value ? ParseUnsigned(*value) : std::nullopt;
        if (!number) {
            return L"install: --display-name-id needs a number from 0 to 4294967295, not " +
                   Quoted(value.value_or(L""));
        }
        install.displayNameId = *number;
    } else if (option == L"--start") {
        const auto value = reader.Value();
        if (value == L"auto") {
            install.start = StartType::Auto;
        } else if (value == L"demand") {
            install.start = StartType::Demand;
        } else {
            return L"install: --start takes auto or demand, not " + Quoted(value.value_or(L""));
        }
    } else if (option == L"--depend") {
        const std::vector<std::wstring> values = reader.Values();
        if (values.empty()) {
            return L"install: --depend needs at least one service";
        }
        AddDependencies(values, install.dependencies);
    } else if (option == L"--self-defence") {
        install.selfDefence = true;
    } else if (option == L"--log-compressor") {
        install.logCompressor = true;
    } else if (option == L"--replace") {
        install.replace = true;
    } else if (option == L"--force") {
        install.force = true;
    } else {
        return L"install: unknown option " + Quoted(option);
    }
    return {};
}

ParsedArguments ParseInstall(const std::vector<std::wstring>& arguments, Command command)
{
    OptionReader reader(arguments, 2);
    bool modulesGiven = false;
    while (!reader.Done()) {
        const std::wstring& option = reader.Next();
        std::wstring error = ReadInstallOption(option, reader, command.install, modulesGiven);
        if (!error.empty()) {
            return Refuse(std::move(error));
        }
    }
    if (!modulesGiven) {
        return Refuse(L"install: --modules <list> is required");
    }
    return {std::move(command), {}};
}

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
    if (arguments.size() > 2 && arguments[2] != L"--force") {
        return Refuse(arguments[0] + L": unknown option " + Quoted(arguments[2]));
    }
    if (arguments.size() > 3) {
        return Refuse(arguments[0] + L": unexpected argument " + Quoted(arguments[3]));
    }
    command.force = arguments.size() == 3;
    return {std::move(command), {}};
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
    if (arguments.size() < 2) {
        return Refuse(arguments[0] + L": " + TargetName(command.kind) + L" is missing");
    }
    command.target = arguments[1];
    switch (command.kind) {
    case CommandKind::Install:
        return ParseInstall(arguments, std::move(command));
    case CommandKind::Run:
        return ParseRun(arguments, std::move(command));
    case CommandKind::Uninstall:
        return ParseUninstall(arguments, std::move(command));
    default:
        return ParseTargetOnly(arguments, std::move(command));
    }
}

} // namespace QxServiceCtl
