#include "Commands.h"
#include "Console.h"
#include "HostFiles.h"

namespace QxServiceCtl {

int Validate(const std::wstring& service)
{
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

} // namespace QxServiceCtl
