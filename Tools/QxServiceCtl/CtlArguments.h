// The control tool's command line, parsed without touching the system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace QxServiceCtl {

enum class CommandKind { Help, Version, Install, Uninstall, Validate, Status, Run, Explain };

enum class StartType { Auto, Demand };

struct InstallOptions {
    std::wstring modules;
    std::uint32_t displayNameId = 0;
    StartType start = StartType::Demand;
    std::vector<std::wstring> dependencies;
    bool selfDefence = false;
    bool logCompressor = false;
    bool replace = false;
    // Replace a service whose command line is not this host's for it.
    bool force = false;
};

struct Command {
    CommandKind kind = CommandKind::Help;
    // The service, the module path of run, or the code of explain.
    std::wstring target;
    InstallOptions install;
    // run: how long the modules run; without it, until Ctrl+C.
    std::optional<std::uint32_t> seconds;
    // uninstall: remove a service whose command line is not this host's for it.
    bool force = false;
    // Help: the command whose help is asked for ("install --help", "help install"); Help for all.
    CommandKind helpFor = CommandKind::Help;
};

struct ParsedArguments {
    std::optional<Command> command;
    // Why the arguments were refused, when command is empty.
    std::wstring error;
};

// The arguments after the program name.
ParsedArguments ParseArguments(const std::vector<std::wstring>& arguments);

// A decimal number, or hexadecimal after "0x", that fits 32 bits.
std::optional<std::uint32_t> ParseUnsigned(const std::wstring& text);

} // namespace QxServiceCtl
