#include <windows.h>

#include <string>
#include <vector>

#include "CodeText.h"
#include "Commands.h"
#include "Console.h"
#include "ResKit/Logger/HRXEx.h"

using namespace QxServiceCtl;

namespace QxServiceCtl {

std::span<const CommandEntry* const> CommandEntries()
{
    static constexpr const CommandEntry* kEntries[] = {
        &kInstallCommand, &kConfigCommand,  &kUninstallCommand, &kValidateCommand, &kStatusCommand,
        &kStartCommand,   &kStopCommand,    &kRestartCommand,   &kListCommand,     &kRunCommand,
        &kExplainCommand, &kProductCommand, &kHelpCommand,      &kVersionCommand,
    };
    return kEntries;
}

} // namespace QxServiceCtl

namespace {

int Dispatch(const Command& command)
{
    for (const CommandEntry* entry : CommandEntries()) {
        if (entry->kind == command.kind) {
            return entry->run(command);
        }
    }
    return kHelpCommand.run(command);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::vector<std::wstring> arguments(argv + 1, argv + argc);
    const ParsedArguments parsed = ParseArguments(arguments);
    if (!parsed.command) {
        Err(L"QxServiceCtl: " + parsed.error);
        return kExitUsage;
    }
    try {
        return Dispatch(*parsed.command);
    } catch (const HRXEx& error) {
        Err(L"QxServiceCtl: failed: " + Hex8(static_cast<std::uint32_t>(error.Result())));
    } catch (const std::exception& error) {
        Err(L"QxServiceCtl: failed: " +
            std::wstring(error.what(), error.what() + std::char_traits<char>::length(error.what())));
    }
    return kExitFailure;
}
