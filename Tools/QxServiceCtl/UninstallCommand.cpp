#include <windows.h>

#include "Commands.h"
#include "Common/ServiceFileName.h"
#include "Console.h"
#include "HostFiles.h"
#include "ServiceManager.h"

namespace QxServiceCtl {

int Uninstall(const std::wstring& service, bool force)
{
    constexpr const wchar_t* kCommand = L"uninstall";
    const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return Fail(kCommand, L"the Service Control Manager cannot be opened" + Win32Reason(GetLastError()));
    }
    const ServiceHandle handle(OpenServiceW(manager.get(), service.c_str(), SERVICE_ALL_ACCESS));
    if (!handle) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
            return Fail(kCommand, L"service \"" + service + L"\" does not exist");
        }
        return Fail(kCommand, L"service \"" + service + L"\" cannot be opened" + Win32Reason(error));
    }
    std::wstring reason;
    if (!MayTakeOver(handle.get(), service, force, L"remove", reason)) {
        return Fail(kCommand, reason);
    }
    if (!RemoveService(handle.get(), service, reason)) {
        return Fail(kCommand, L"service \"" + service + L"\": " + reason);
    }
    Out(L"removed service " + service + L", its Parameters and its event source");
    Out(L"its logs stay in " + ToolFolder() + L"Logs\\" + ServiceFileName(service) + L"(<pid>).log");
    Out(L"its crash dumps stay as " + ServiceFileName(service) +
        L"_*.dmp in the temporary folder of the service's account (" + TempFolder() + L" or " + WindowsTempFolder() +
        L")");
    return kExitSuccess;
}

} // namespace QxServiceCtl
