#include "Validation.h"

#include <algorithm>

#include "CodeText.h"
#include "Common/LogCompressor/LogComprLoader.h"
#include "Common/ProductInfo.h"
#include "Common/RegistryValues.h"
#include "Common/ServiceHost/ServiceConfiguration.h"
#include "Common/ServiceHost/ServiceModuleManager.h"
#include "HostFiles.h"
#include "InstallRules.h"
#include "ResKit/Logger/HRXEx.h"

using namespace Qx;
using namespace Qx::Platform;

namespace QxServiceCtl {

namespace {

// ERROR_SERVICE_DEPENDENCY_DELETED: StartService's answer when a dependency is not installed.
constexpr Win32Error kDependencyDeleted = 1075;

std::wstring TypeName(std::uint32_t type)
{
    switch (type) {
    case kRegNone:
        return L"REG_NONE";
    case kRegSz:
        return L"REG_SZ";
    case kRegExpandSz:
        return L"REG_EXPAND_SZ";
    case kRegBinary:
        return L"REG_BINARY";
    case kRegDword:
        return L"REG_DWORD";
    case kRegMultiSz:
        return L"REG_MULTI_SZ";
    case kRegQword:
        return L"REG_QWORD";
    default:
        return L"type " + std::to_wstring(type);
    }
}

std::wstring ErrorSuffix(Win32Error error)
{
    return L" (error " + std::to_wstring(error) + L")";
}

std::wstring HostStops(Win32Error error)
{
    return L": the host stops with " + Hex8(0x80070000u | error);
}

// Why the host's read of a value failed, in words.
std::wstring ValueProblem(NativeHandle key, const wchar_t* name, Win32Error error, bool isString)
{
    if (error == kErrorFileNotFound) {
        return L"missing";
    }
    std::uint32_t type = kRegNone;
    std::uint32_t size = 0;
    const bool described = Registry().QueryValue(key, name, &type, nullptr, &size) == kErrorSuccess;
    if (error == kErrorMoreData) {
        if (isString) {
            return L"longer than " + std::to_wstring(CServiceConfigurationImpl::kMaxServiceModulesLength) +
                   L" characters";
        }
        return TypeName(type) + L" of " + std::to_wstring(size) + L" bytes, not a REG_DWORD";
    }
    if (error != kErrorInvalidData || !described) {
        return L"cannot be read";
    }
    if (!isString && type == kRegDword) {
        return L"REG_DWORD of " + std::to_wstring(size) + L" bytes, not 4";
    }
    if (!isString) {
        return TypeName(type) + L", not a REG_DWORD";
    }
    if (type != kRegSz && type != kRegExpandSz) {
        return TypeName(type) + L", not a REG_SZ or REG_EXPAND_SZ";
    }
    if (size % 2 != 0) {
        return L"an odd number of bytes, no whole UTF-16 string";
    }
    return L"does not end with a NUL";
}

class Validator {
public:
    Validator(const std::wstring& service, const ValidationProbes& probes) : m_service(service), m_probes(probes) {}

    std::vector<Finding> Run()
    {
        if (const auto refusal = ServiceNameRefusal(m_service)) {
            Add(Severity::Error, L"service name", *refusal);
            return std::move(m_findings);
        }
        RegistryKey key;
        const std::wstring keyPath = ParametersKeyPath(m_service);
        if (const Win32Error error = Registry().OpenKey(keyPath, kKeyRead, key); error != kErrorSuccess) {
            const std::wstring problem = error == kErrorFileNotFound ? L"missing" : L"cannot be opened";
            Add(Severity::Error, L"HKLM\\" + keyPath, problem + ErrorSuffix(error) + HostStops(error));
            return std::move(m_findings);
        }
        std::wstring modules;
        if (CheckModuleList(key.get(), modules)) {
            CheckDisplayNameId(key.get());
        }
        bool selfDefence = false;
        bool logCompressor = false;
        CheckFlag(key.get(), kSelfDefenceValue, selfDefence);
        CheckFlag(key.get(), kLogCompressorValue, logCompressor);
        CheckProduct(logCompressor);
        CheckModules(modules);
        CheckManagerRecord();
        return std::move(m_findings);
    }

    std::vector<Finding> RunModules(const std::wstring& modules)
    {
        CheckModules(modules);
        return std::move(m_findings);
    }

private:
    void Add(Severity severity, std::wstring subject, std::wstring text)
    {
        m_findings.push_back({severity, std::move(subject), std::move(text)});
    }

    // The host reads the display name identifier only after the module list.
    bool CheckModuleList(NativeHandle key, std::wstring& modules)
    {
        const Win32Error error = ReadServiceModulesValue(key, modules);
        if (error != kErrorSuccess) {
            Add(Severity::Error, kServiceModulesValue,
                ValueProblem(key, kServiceModulesValue, error, true) + ErrorSuffix(error) + HostStops(error));
            return false;
        }
        if (const auto refusal = ModuleListRefusal(modules)) {
            Add(Severity::Error, kServiceModulesValue, *refusal);
        } else {
            Add(Severity::Ok, kServiceModulesValue, L"\"" + modules + L"\"");
        }
        return true;
    }

    void CheckDisplayNameId(NativeHandle key)
    {
        std::uint32_t id = 0;
        const Win32Error error = ReadDwordValue(key, kDisplayNameIdValue, id);
        if (error != kErrorSuccess) {
            Add(Severity::Error, kDisplayNameIdValue,
                ValueProblem(key, kDisplayNameIdValue, error, false) + ErrorSuffix(error) + HostStops(error));
            return;
        }
        const std::wstring text = m_probes.messageText(id);
        if (text.empty()) {
            Add(Severity::Warning, kDisplayNameIdValue,
                L"display name identifier " + std::to_wstring(id) + L" names no message of " + m_probes.hostFolder +
                    kMessageLibraryName + L": events name the service \"%%" + std::to_wstring(id) + L"\"");
            return;
        }
        Add(Severity::Ok, kDisplayNameIdValue,
            L"display name identifier " + std::to_wstring(id) + L": \"" + text + L"\"");
    }

    // The service manager must start this host for the service, after services that exist.
    void CheckManagerRecord()
    {
        const std::optional<ManagedService> record = m_probes.managedService(m_service);
        if (!record) {
            Add(Severity::Warning, L"service manager",
                L"no service \"" + m_service + L"\" is installed: only QxServiceCtl run can start its modules");
            return;
        }
        const std::wstring host = m_probes.hostFolder + kHostFileName;
        if (RunsHostFor(record->imagePath, host, m_service)) {
            Add(Severity::Ok, L"ImagePath", record->imagePath);
        } else {
            Add(Severity::Error, L"ImagePath",
                L"\"" + record->imagePath + L"\" does not run \"" + host + L"\" -name=" + m_service);
        }
        for (const std::wstring& dependency : record->dependencies) {
            // "+" names a load-order group, which the service manager resolves itself.
            if (!dependency.starts_with(L'+') && !m_probes.managedService(dependency)) {
                Add(Severity::Error, L"dependency " + dependency,
                    L"no such service: the service manager refuses the start" + ErrorSuffix(kDependencyDeleted));
            }
        }
    }

    void CheckFlag(NativeHandle key, const wchar_t* name, bool& flag)
    {
        const Win32Error error = ReadFlagValue(key, name, flag);
        if (error == kErrorFileNotFound) {
            Add(Severity::Ok, name, L"not set: off");
        } else if (error != kErrorSuccess) {
            Add(Severity::Warning, name,
                ValueProblem(key, name, error, false) + ErrorSuffix(error) + L": the host ignores it and takes off");
        } else {
            Add(Severity::Ok, name, flag ? L"on" : L"off");
        }
    }

    // Without a product root the host still starts; only the log compressor needs one.
    void CheckProduct(bool logCompressor)
    {
        const std::wstring iniPath = m_probes.hostFolder + ProductInfo::kFileName;
        const Severity severity = logCompressor ? Severity::Error : Severity::Warning;
        if (!m_probes.fileExists(iniPath)) {
            Add(severity, ProductInfo::kFileName,
                L"not found beside the host in " + m_probes.hostFolder +
                    L": no product root, so no event source and no product message library");
            return;
        }
        const ProductInfo info = ProductInfo::ReadFile(iniPath);
        if (info.RegistryRoot().empty()) {
            Add(severity, L"RegistryRoot", L"empty in " + iniPath + L": no product root");
            return;
        }
        RegistryKey root;
        if (const Win32Error error = Registry().OpenKey(info.RegistryRoot(), kGenericRead, root);
            error != kErrorSuccess) {
            Add(severity, L"HKLM\\" + info.RegistryRoot(), L"the product root cannot be opened" + ErrorSuffix(error));
            return;
        }
        std::wstring installPath;
        try {
            installPath = ProductLibraryPath(info.RegistryRoot(), L"");
        } catch (const HRXEx& error) {
            Add(severity, L"HKLM\\" + info.RegistryRoot() + L"\\ProductInstallPath",
                L"missing, empty or not a NUL-terminated string: " + Hex8(static_cast<std::uint32_t>(error.Result())));
            return;
        }
        Add(Severity::Ok, L"ProductInstallPath", L"\"" + installPath + L"\"");
        CheckMessageFile(info, installPath);
        if (logCompressor) {
            CheckLogCompressor(installPath + CLogComprLdr::kLibraryName);
        }
    }

    void CheckMessageFile(const ProductInfo& info, std::wstring installPath)
    {
        if (!installPath.empty() && installPath.back() != L'\\' && installPath.back() != L'/') {
            installPath += L'\\';
        }
        const std::wstring path = installPath + info.MessageFile();
        if (m_probes.fileExists(path)) {
            Add(Severity::Ok, L"MessageFile", path);
        } else {
            Add(Severity::Warning, L"MessageFile",
                path + L" not found: events and error texts come without the product's messages");
        }
    }

    void CheckLogCompressor(const std::wstring& path)
    {
        const ModuleFile file = m_probes.inspectModule(path);
        if (file.error != kErrorSuccess) {
            Add(Severity::Error, L"log compressor " + path, LoadProblem(file) + HostStops(file.error));
        } else if (std::ranges::find(file.exports, "Initialize") == file.exports.end()) {
            Add(Severity::Error, L"log compressor " + path, L"does not export Initialize" + HostStops(127));
        } else {
            Add(Severity::Ok, L"log compressor", path);
        }
    }

    void CheckModules(const std::wstring& modules)
    {
        for (const auto& name : SplitModuleList(modules)) {
            CheckModule(name);
        }
    }

    void CheckModule(const std::wstring& name)
    {
        const std::wstring subject = L"module " + name;
        const ModuleFile file = m_probes.inspectModule(name);
        if (file.error != kErrorSuccess) {
            Add(Severity::Error, subject, LoadProblem(file) + HostStops(file.error));
            return;
        }
        for (const char* entry : {"SmInitialize", "SmShutdown"}) {
            if (std::ranges::find(file.exports, entry) == file.exports.end()) {
                Add(Severity::Error, subject,
                    file.path + L" does not export " +
                        std::wstring(entry, entry + std::char_traits<char>::length(entry)) + HostStops(127));
                return;
            }
        }
        Add(Severity::Ok, subject, file.path + L" exports SmInitialize and SmShutdown");
    }

    // A name with a path is looked for there alone, a bare name in the host's folder and System32.
    std::wstring LoadProblem(const ModuleFile& file) const
    {
        const Win32Error error = file.error;
        switch (error) {
        case kErrorModNotFound:
            return (file.path.empty() ? L"not found in " + m_probes.hostFolder + L" or System32" : L"not found") +
                   ErrorSuffix(error);
        case kErrorBadExeFormat:
            return L"not a 64-bit Windows library" + ErrorSuffix(error);
        case kErrorInvalidParameter:
            return L"refused: the name leads out of " + m_probes.hostFolder + L" or is no file name" +
                   ErrorSuffix(error);
        case kErrorAccessDenied:
            return L"cannot be read" + ErrorSuffix(error);
        default:
            return L"cannot be loaded" + ErrorSuffix(error);
        }
    }

    const std::wstring& m_service;
    const ValidationProbes& m_probes;
    std::vector<Finding> m_findings;
};

} // namespace

std::vector<Finding> ValidateService(const std::wstring& service, const ValidationProbes& probes)
{
    return Validator(service, probes).Run();
}

std::vector<Finding> ValidateModules(const std::wstring& modules, const ValidationProbes& probes)
{
    return Validator(std::wstring(), probes).RunModules(modules);
}

bool HostWouldStart(const std::vector<Finding>& findings)
{
    return std::ranges::none_of(findings, [](const Finding& finding) { return finding.severity == Severity::Error; });
}

std::wstring FormatFinding(const Finding& finding)
{
    static constexpr const wchar_t* kSeverities[] = {L"ok", L"warning", L"error"};
    return std::wstring(kSeverities[static_cast<int>(finding.severity)]) + L": " + finding.subject + L": " +
           finding.text;
}

} // namespace QxServiceCtl
