#include "Commands.h"
#include "Console.h"
#include "HostFiles.h"

namespace QxServiceCtl {

namespace {

int Validate(const Command& command)
{
    const std::wstring& service = command.target;
    const auto findings = ValidateService(service, HostProbes());
    for (const auto& finding : findings) {
        Out(FormatFinding(finding));
    }
    if (!HostWouldStart(findings)) {
        return Fail(L"validate", L"the host would not start service \"" + service + L"\"");
    }
    Out(L"the host would start service " + service);
    return kExitSuccess;
}

} // namespace

const CommandEntry kValidateCommand{
    CommandKind::Validate,
    {L"QxServiceCtl validate <service>",
     L"    Checks every value the host reads and every module file; exits 0 only when the host would start."},
    &Validate};

} // namespace QxServiceCtl
