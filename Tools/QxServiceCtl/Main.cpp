#include <windows.h>

#include <string>
#include <vector>

#include "CodeText.h"
#include "Commands.h"
#include "Console.h"
#include "ResKit/Logger/HRXEx.h"

using namespace QxServiceCtl;

namespace {

int Dispatch(const Command& command)
{
    switch (command.kind) {
    case CommandKind::Install:
        return Install(command.target, command.install, command.force);
    case CommandKind::Config:
        return Config(command);
    case CommandKind::Uninstall:
        return Uninstall(command.target, command.force, command.purge);
    case CommandKind::Validate:
        return Validate(command.target);
    case CommandKind::Status:
        return Status(command.target, command.json);
    case CommandKind::Start:
    case CommandKind::Stop:
    case CommandKind::Restart:
        return Lifecycle(command);
    case CommandKind::List:
        return List(command.json);
    case CommandKind::Run:
        return RunModules(command);
    case CommandKind::Explain:
        return Explain(command.target);
    case CommandKind::Product:
        return Product(command.product);
    case CommandKind::Version:
        return Version();
    case CommandKind::Help:
        break;
    }
    return Help(command.helpFor);
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
