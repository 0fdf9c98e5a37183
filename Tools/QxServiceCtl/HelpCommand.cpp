#include "Commands.h"
#include "Console.h"
#include "Version.h"

// The same version the host's VERSIONINFO states, as wide text.
#define QX_CTL_WIDEN_TEXT(text) L##text
#define QX_CTL_WIDE(text) QX_CTL_WIDEN_TEXT(text)

namespace QxServiceCtl {

int Help()
{
    static constexpr const wchar_t* kLines[] = {
        L"QxServiceCtl: installs, checks and runs services of QxServiceHost.exe, which sits beside it.",
        L"",
        L"QxServiceCtl install <service> --modules <list> [--display-name-id N] [--start auto|demand]",
        L"                     [--depend S...] [--self-defence] [--log-compressor] [--replace [--force]]",
        L"    Creates the service \"<host>\" -name=<service>, its Parameters and its event source.",
        L"    --replace changes an existing service of this host in place, keeping what install does not",
        L"    set; a service whose command line is not this host's for the name needs --force too.",
        L"    The name must not contain \"-\" (the host cuts its command line there) and must be shorter",
        L"    than 256 characters; module names are cut at \";\" and \",\" and never trimmed, so no",
        L"    space may stand next to a separator; the list holds at most 259 characters.",
        L"QxServiceCtl uninstall <service> [--force]",
        L"    Stops the service (waiting up to 30 s), deletes it, its Parameters and its event source.",
        L"    A service whose command line is not \"<host>\" -name=<service> is left alone without --force.",
        L"QxServiceCtl validate <service>",
        L"    Checks every value the host reads and every module file; exits 0 only when the host would start.",
        L"QxServiceCtl status <service>",
        L"    State, process id, accepted controls, exit code, newest module log and crash dump.",
        L"QxServiceCtl run <service>|<module path> [--seconds N]",
        L"    Loads the modules here, calls SmInitialize in order, waits for Ctrl+C or N seconds,",
        L"    then calls SmShutdown in reverse.",
        L"QxServiceCtl explain <code>",
        L"    The text of an exit code, HRESULT, Win32 error or event identifier.",
        L"QxServiceCtl --help | --version",
        L"",
        L"Exit codes: 0 success, 1 failure (named on standard error), 2 unusable command line.",
    };
    for (const auto* line : kLines) {
        Out(line);
    }
    return kExitSuccess;
}

int Version()
{
    Out(L"QxServiceCtl " QX_CTL_WIDE(QX_VERSION_STRING));
    return kExitSuccess;
}

} // namespace QxServiceCtl
