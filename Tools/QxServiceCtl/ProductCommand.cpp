#include <windows.h>

#include "CodeText.h"
#include "Commands.h"
#include "Common/ProductInfo.h"
#include "Common/audit/EventReporters.h"
#include "Console.h"
#include "HostFiles.h"
#include "InstallRules.h"
#include "ResKit/Logger/HRXEx.h"
#include "ServiceManager.h"
#include "ServiceSetup.h"
#include "Win32Support/WholeFile.h"

namespace QxServiceCtl {

namespace {

constexpr const wchar_t* kCommand = L"product";

bool SetString(HKEY key, const std::wstring& path, const wchar_t* name, const std::wstring& value, std::wstring& reason)
{
    const LSTATUS error = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    if (error != ERROR_SUCCESS) {
        reason = L"HKLM\\" + path + L"\\" + name + L" cannot be written" + Win32Reason(static_cast<DWORD>(error));
    }
    return error == ERROR_SUCCESS;
}

bool WriteRootValues(const ProductOptions& options, const std::wstring& root, std::wstring& reason)
{
    UniqueRegKey key;
    const LSTATUS error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, root.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                          KEY_SET_VALUE, nullptr, key.out(), nullptr);
    if (error != ERROR_SUCCESS) {
        reason = L"HKLM\\" + root + L" cannot be created" + Win32Reason(static_cast<DWORD>(error));
        return false;
    }
    if ((options.registryRoot || options.installPath) &&
        !SetString(key.get(), root, L"ProductInstallPath", WithBackslash(options.installPath.value_or(ToolFolder())),
                   reason)) {
        return false;
    }
    return !options.eventSource || (SetString(key.get(), root, L"EventSource", *options.eventSource, reason) &&
                                    WriteEventSource(*options.eventSource, reason));
}

bool WriteProduct(const ProductOptions& options, const std::wstring& iniPath, std::wstring& reason)
{
    if (options.registryRoot && (WritePrivateProfileStringW(ProductInfo::kSection, L"RegistryRoot",
                                                            options.registryRoot->c_str(), iniPath.c_str()) == 0)) {
        reason = iniPath + L" cannot be written" + Win32Reason(GetLastError());
        return false;
    }
    const std::wstring root = ProductInfo::ReadFile(iniPath).RegistryRoot();
    if (root.empty()) {
        reason = L"no product root in " + iniPath + L": give --registry-root <key below HKEY_LOCAL_MACHINE>";
        return false;
    }
    return WriteRootValues(options, root, reason);
}

void ShowRootValues(const std::wstring& root)
{
    try {
        Out(L"  ProductInstallPath: " + ProductLibraryPath(root, L""));
    } catch (const HRXEx& error) {
        Out(L"  ProductInstallPath: missing, empty or not a string (" +
            Hex8(static_cast<std::uint32_t>(error.Result())) + L")");
    }
    std::wstring source;
    if (const HRESULT result = ReadEventSourceName(root, source); FAILED(result)) {
        Out(L"  EventSource: missing or empty (" + Hex8(static_cast<std::uint32_t>(result)) +
            L"): events go to the module log only");
        return;
    }
    UniqueRegKey key;
    const bool registered =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, EventSourceKeyPath(source).c_str(), 0, KEY_READ, key.out()) == ERROR_SUCCESS;
    Out(L"  EventSource: " + source + L" (HKLM\\" + EventSourceKeyPath(source) +
        (registered ? L")" : L" is not registered: the event log shows no text)"));
}

int ShowProduct(const std::wstring& iniPath)
{
    const ProductInfo info = ProductInfo::ReadFile(iniPath);
    Out(L"product information: " + iniPath + (Qx::Win32Support::FileExists(iniPath) ? L"" : L" (not found)"));
    Out(L"  RegistryRoot=" + info.RegistryRoot());
    Out(L"  MessageFile=" + info.MessageFile());
    Out(L"  EventLogName=" + info.EventLogName());
    if (info.RegistryRoot().empty()) {
        return Fail(kCommand, L"no product root: give --registry-root <key below HKEY_LOCAL_MACHINE>");
    }
    Out(L"product root: HKLM\\" + info.RegistryRoot());
    ShowRootValues(info.RegistryRoot());
    return kExitSuccess;
}

int Product(const ProductOptions& options)
{
    if (options.registryRoot) {
        if (const auto refusal = RegistryRootRefusal(*options.registryRoot)) {
            return Fail(kCommand, *refusal);
        }
    }
    if (options.eventSource) {
        if (const auto refusal = EventSourceRefusal(*options.eventSource)) {
            return Fail(kCommand, *refusal);
        }
    }
    const std::wstring iniPath = ToolFolder() + ProductInfo::kFileName;
    std::wstring reason;
    if ((options.registryRoot || options.eventSource || options.installPath) &&
        !WriteProduct(options, iniPath, reason)) {
        return Fail(kCommand, reason);
    }
    return ShowProduct(iniPath);
}

} // namespace

const CommandEntry kProductCommand{
    CommandKind::Product,
    {L"QxServiceCtl product [--registry-root KEY] [--event-source NAME] [--install-path FOLDER]",
     L"    Writes what is given of the product root: RegistryRoot in ProductInfo2.ini beside the host,",
     L"    ProductInstallPath (this folder unless given) and EventSource below HKLM\\KEY, and registers",
     L"    the event source with QxMessages.dll; then shows the product root. Exits 1 without one."},
    [](const Command& command) { return Product(command.Get<ProductOptions>()); }};

} // namespace QxServiceCtl
