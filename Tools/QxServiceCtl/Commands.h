// The commands of QxServiceCtl. Each has one entry, in its own source beside the code that runs it;
// its name and the parser of its arguments are its row in CtlArguments' table.
#pragma once

#include <initializer_list>
#include <span>

#include "CtlArguments.h"

namespace QxServiceCtl {

struct CommandEntry {
    CommandKind kind;
    // The usage lines, then what the command does, as help prints them.
    std::initializer_list<const wchar_t*> help;
    // Runs the parsed command; returns the process exit code.
    int (*run)(const Command& command);
};

extern const CommandEntry kInstallCommand;
extern const CommandEntry kConfigCommand;
extern const CommandEntry kUninstallCommand;
extern const CommandEntry kValidateCommand;
extern const CommandEntry kStatusCommand;
extern const CommandEntry kStartCommand;
extern const CommandEntry kStopCommand;
extern const CommandEntry kRestartCommand;
extern const CommandEntry kListCommand;
extern const CommandEntry kRunCommand;
extern const CommandEntry kExplainCommand;
extern const CommandEntry kProductCommand;
extern const CommandEntry kHelpCommand;
extern const CommandEntry kVersionCommand;

// Every command, in the order help shows them.
std::span<const CommandEntry* const> CommandEntries();

} // namespace QxServiceCtl
