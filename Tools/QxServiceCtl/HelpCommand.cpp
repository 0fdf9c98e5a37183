#include "Commands.h"

#include "Console.h"
#include "Version.h"

// The same version the host's VERSIONINFO states, as wide text.
#define QX_CTL_WIDEN_TEXT(text) L##text
#define QX_CTL_WIDE(text) QX_CTL_WIDEN_TEXT(text)

namespace QxServiceCtl {

namespace {

constexpr const wchar_t* kExitCodes = L"Exit codes: 0 success, 1 failure (named on standard error), 2 unusable "
                                      L"command line; status, start, stop and restart: 4 no such service; start, "
                                      L"stop and restart: 5 time-out; run ends a crash with its exception code (a "
                                      L"Unix shell shows the low 8 bits, 5 for 0xC0000005).";

int Help(CommandKind command)
{
    if (command == CommandKind::Help) {
        Out(L"QxServiceCtl: installs, checks and runs services of QxServiceHost.exe, which sits beside it.");
        Out(L"");
    }
    for (const CommandEntry* entry : CommandEntries()) {
        if (command == CommandKind::Help || entry->kind == command) {
            for (const wchar_t* line : entry->help) {
                Out(line);
            }
        }
    }
    Out(L"");
    Out(kExitCodes);
    return kExitSuccess;
}

int Version()
{
    Out(L"QxServiceCtl " QX_CTL_WIDE(QX_VERSION_STRING));
    return kExitSuccess;
}

} // namespace

const CommandEntry kHelpCommand{CommandKind::Help,
                                {L"QxServiceCtl --help | help <command> | <command> --help"},
                                [](const Command& command) { return Help(command.Get<HelpOptions>().about); }};

const CommandEntry kVersionCommand{
    CommandKind::Version, {L"QxServiceCtl --version"}, [](const Command&) { return Version(); }};

} // namespace QxServiceCtl
