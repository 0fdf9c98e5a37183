#include "Commands.h"

#include <initializer_list>

#include "Console.h"
#include "Version.h"

// The same version the host's VERSIONINFO states, as wide text.
#define QX_CTL_WIDEN_TEXT(text) L##text
#define QX_CTL_WIDE(text) QX_CTL_WIDEN_TEXT(text)

namespace QxServiceCtl {

namespace {

// One command's usage and what it does; its lines are indented by the printing.
struct CommandHelp {
    CommandKind kind;
    std::initializer_list<const wchar_t*> lines;
};

const CommandHelp kCommandHelp[] = {
    {CommandKind::Install,
     {L"QxServiceCtl install <service> --modules <list> [settings] [--no-check] [--replace [--force]]",
      L"    Creates the service \"<host>\" -name=<service>, its Parameters and its event source.",
      L"    The name must not contain \"-\" (the host cuts its command line there) and must be shorter",
      L"    than 256 characters; module names are cut at \";\" and \",\" and never trimmed, so no",
      L"    space may stand next to a separator; the list holds at most 259 characters.",
      L"    Settings (install's defaults in brackets):",
      L"      --display-name-id N    message N of QxMessages.dll names the service in events [0: \"%%0\"]",
      L"      --display-name TEXT    the service manager's display name [message N, else the name]",
      L"      --description TEXT     the service manager's description",
      L"      --start auto|delayed|demand|disabled   [demand]",
      L"      --depend S... | --no-depend   services separated by spaces or \"/\"; repeated, they add up",
      L"      --account NAME [--password P]  [LocalSystem]",
      L"      --restart on-failure|never    restart after a crash or a failed start [never]",
      L"      --restart-delay SECONDS       [60]   --reset-after SECONDS  failure count reset [86400]",
      L"      --self-defence | --no-self-defence, --log-compressor | --no-log-compressor   [off]",
      L"    Each module is checked as validate checks it; --no-check takes one that is deployed later.",
      L"    --replace changes an existing service of this host in place, keeping what is not given; a",
      L"    running service is stopped for the change and started again. A service whose command line",
      L"    is not this host's for the name needs --force too.",
      L"    What the service manager takes but does not keep is named by a warning on standard error."}},
    {CommandKind::Config,
     {L"QxServiceCtl config <service> [--json] | config <service> <settings...> [--no-check] [--force]",
      L"    Without settings, shows the whole configuration: the service manager's settings and every",
      L"    Parameters value the host reads, with its meaning. With settings, changes those of install",
      L"    (the module list included) and nothing else, and shows each change as before -> after; the",
      L"    host reads them at the service's next start. A service whose command line is not this",
      L"    host's for the name needs --force."}},
    {CommandKind::Uninstall,
     {L"QxServiceCtl uninstall <service> [--purge] [--force]",
      L"    Stops the service (waiting up to 30 s), deletes it, its Parameters and its event source (the",
      L"    product's only when no other service of the host reports under it), and lists what stays:",
      L"    its module logs, crash dumps, watchdog status file and logger settings; --purge removes them.",
      L"    A service whose process has ended is deleted without a stop request. A service whose command",
      L"    line is not \"<host>\" -name=<service> is left alone without --force. Once the service is",
      L"    gone, uninstall <service> --purge still removes what its runs left."}},
    {CommandKind::Validate,
     {L"QxServiceCtl validate <service>",
      L"    Checks every value the host reads and every module file; exits 0 only when the host would start."}},
    {CommandKind::Status,
     {L"QxServiceCtl status <service> [--json]",
      L"    State, process id (and whether that process still runs), accepted controls, exit code, the",
      L"    process's module log (or the newest), the newest crash dump and whether the last run wrote it.",
      L"    --json prints the same as one JSON object.",
      L"    Exits 0 running, 3 not running (stopped with exit code 0, never started, pending, paused),",
      L"    1 stopped with a failure or its process ended, 4 no such service."}},
    {CommandKind::Start,
     {L"QxServiceCtl start <service> [--wait SECONDS]",
      L"    Starts the service and waits (30 s unless given) until it runs; a start that fails is named."}},
    {CommandKind::Stop,
     {L"QxServiceCtl stop <service> [--wait SECONDS] [--kill-after SECONDS]",
      L"    Asks the service to stop and waits until it has stopped or its process has ended. With",
      L"    --kill-after, the operator's choice, its process is ended after that long, and this is said;",
      L"    the wait then defaults to 30 s beyond it."}},
    {CommandKind::Stop,
     {L"QxServiceCtl stop --all [--record FILE] [--wait SECONDS] [--kill-after SECONDS]",
      L"QxServiceCtl start --recorded FILE [--wait SECONDS]",
      L"    Every running service of this host stopped one after another, their names written to FILE;",
      L"    then those services started again, and FILE removed once all run: the product's package",
      L"    does this around an upgrade of the host's files."}},
    {CommandKind::Restart,
     {L"QxServiceCtl restart <service> [--wait SECONDS] [--kill-after SECONDS]",
      L"    stop, then start, each waiting as they do.",
      L"    start, stop and restart exit 0 once the state is reached, 1 on a failure, 4 when there is no",
      L"    such service, 5 when the wait ran out."}},
    {CommandKind::List,
     {L"QxServiceCtl list [--json]",
      L"    Every installed service whose command line runs QxServiceHost.exe: name, state, process id,",
      L"    start type and module list; a service of a host in another folder is marked \"other host\"."}},
    {CommandKind::Run,
     {L"QxServiceCtl run <service>|<module path> [--seconds N]",
      L"    Loads the modules here, calls SmInitialize in order, waits for Ctrl+C or N seconds,",
      L"    then calls SmShutdown in reverse, on another thread, as the service does. A module that ends",
      L"    the start thread is named (exit 1). A crash inside a module prints its code, module and",
      L"    offset (a thrown C++ object: its type and the module that threw it), the host's crash handling",
      L"    writes the dump, and the tool ends with the crash's exception code."}},
    {CommandKind::Explain,
     {L"QxServiceCtl explain <code>",
      L"    The meaning of an exit code, HRESULT, Win32 error, crash code or event identifier."}},
    {CommandKind::Product,
     {L"QxServiceCtl product [--registry-root KEY] [--event-source NAME] [--install-path FOLDER]",
      L"    Writes what is given of the product root: RegistryRoot in ProductInfo2.ini beside the host,",
      L"    ProductInstallPath (this folder unless given) and EventSource below HKLM\\KEY, and registers",
      L"    the event source with QxMessages.dll; then shows the product root. Exits 1 without one."}},
    {CommandKind::Help, {L"QxServiceCtl --help | help <command> | <command> --help", L"QxServiceCtl --version"}},
};

constexpr const wchar_t* kExitCodes = L"Exit codes: 0 success, 1 failure (named on standard error), 2 unusable "
                                      L"command line; status, start, stop and restart: 4 no such service; start, "
                                      L"stop and restart: 5 time-out; run ends a crash with its exception code (a "
                                      L"Unix shell shows the low 8 bits, 5 for 0xC0000005).";

} // namespace

int Help(CommandKind command)
{
    if (command == CommandKind::Help) {
        Out(L"QxServiceCtl: installs, checks and runs services of QxServiceHost.exe, which sits beside it.");
        Out(L"");
    }
    for (const CommandHelp& help : kCommandHelp) {
        if (command == CommandKind::Help || help.kind == command) {
            for (const wchar_t* line : help.lines) {
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

} // namespace QxServiceCtl
