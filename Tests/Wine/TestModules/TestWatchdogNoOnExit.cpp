// QxTestWatchdogNoOnExit.dll: a watchdog agent lacking WAOnExit, which the host must refuse to bind
// although it never calls that export. Its calls are traced (see TestTrace.h) as
//     <qpc> <pid> <tid> QxTestWatchdogNoOnExit WAInitW <service name>
//     <qpc> <pid> <tid> QxTestWatchdogNoOnExit WADeinit
// under this fixed name, whatever the file is called, since a test puts it in place as
// QxWatchdogAgent.dll; the lines let it prove that neither was called.
#include <windows.h>

#include <string>

#include "TestTrace.h"

namespace {

constexpr const wchar_t* kTraceName = L"QxTestWatchdogNoOnExit";

} // namespace

extern "C" __declspec(dllexport) int WAInitW(const wchar_t* serviceName)
{
    try {
        const std::string name = serviceName != nullptr ? Qx::Testing::ToUtf8(serviceName) : "(null)";
        Qx::Testing::Trace(kTraceName, "WAInitW " + name);
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return 0;
}

extern "C" __declspec(dllexport) int WADeinit()
{
    try {
        Qx::Testing::Trace(kTraceName, "WADeinit");
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return 0;
}

extern "C" __declspec(dllexport) int WAOnEnter()
{
    return 0;
}
