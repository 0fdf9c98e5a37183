#include "InstallRules.h"

#include <algorithm>

#include "Common/AtlServiceEx.h"
#include "Common/ProductInfo.h"
#include "Common/ServiceFileName.h"
#include "Common/ServiceHost/ServiceConfiguration.h"
#include "Common/ServiceHost/ServiceModuleManager.h"
#include "ResKit/ServiceHost/CommandLine.h"
#include "ToolText.h"

namespace QxServiceCtl {

namespace {

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

} // namespace

std::optional<std::wstring> ServiceNameRefusal(std::wstring_view name)
{
    const auto fault = CheckServiceName(name);
    if (fault && fault->kind == ServiceNameFault::Kind::Empty) {
        return L"the service name is empty";
    }
    if (name.find(L'-') != std::wstring_view::npos) {
        return L"service name " + Quoted(name) +
               L" contains \"-\": the host cuts its command line at every \"-\" and would not see the whole name";
    }
    if (name.front() == L' ' || name.back() == L' ') {
        return L"service name " + Quoted(name) +
               L" begins or ends with a space: the host trims the spaces and would serve another name";
    }
    if (fault && fault->kind == ServiceNameFault::Kind::TooLong) {
        return L"service name is " + std::to_wstring(name.size()) + L" characters long: the host takes at most " +
               std::to_wstring(CServiceModule::kServiceNameCapacity - 1);
    }
    if (fault) {
        return L"service name " + Quoted(name) + L" contains " + CharacterCode(fault->character) +
               L": the host refuses \"\\\", \"/\", \":\" and control characters in a service name";
    }
    // Other files of the Logs folder are named as a service's module logs are, "<name>(<pid>).log".
    for (const auto& [other, what] : {std::pair{L"QxServiceHost", L"the host's early logs"},
                                      std::pair{L"QxSampleHeartbeat", L"the sample module's heartbeat logs"}}) {
        if (SameIgnoringCase(name, other)) {
            return L"service name " + Quoted(name) + L" is the name of " + what +
                   L" in Logs: its module logs would be mixed up with them, and its log retention would delete them";
        }
    }
    if (const std::wstring fileName = ServiceFileName(name); fileName != name) {
        return L"service name " + Quoted(name) + L" is no file name: the host would write its log and dumps as " +
               Quoted(fileName) +
               L", which other names share (\"*<>?| and a device name such as CON or COM1 "
               L"before a dot are not allowed)";
    }
    return std::nullopt;
}

std::optional<std::wstring> ModuleListRefusal(const std::wstring& modules)
{
    constexpr std::size_t kLongest = CServiceConfigurationImpl::kMaxServiceModulesLength;
    if (modules.size() > kLongest) {
        return L"module list is " + std::to_wstring(modules.size()) + L" characters long: the host reads at most " +
               std::to_wstring(kLongest) + L" of ServiceModules";
    }
    const auto names = SplitModuleList(modules);
    if (names.empty()) {
        return L"module list " + Quoted(modules) + L" names no module";
    }
    for (const auto& name : names) {
        if (IsBlank(name.front()) || IsBlank(name.back())) {
            return L"module " + Quoted(name) +
                   L" begins or ends with a space: the host does not trim the names between \";\" and \",\"";
        }
    }
    return std::nullopt;
}

std::optional<std::wstring> RegistryRootRefusal(std::wstring_view root)
{
    const std::wstring_view hive = root.substr(0, root.find(L'\\'));
    if (SameIgnoringCase(hive, L"HKLM") || SameIgnoringCase(hive, L"HKEY_LOCAL_MACHINE")) {
        return L"registry root " + Quoted(root) + L" names the hive: give the key below HKEY_LOCAL_MACHINE, as " +
               Quoted(root.substr(std::min(root.size(), hive.size() + 1)));
    }
    if (root.empty() || root.front() == L'\\' || root.back() == L'\\' ||
        root.find(L"\\\\") != std::wstring_view::npos) {
        return L"registry root " + Quoted(root) + L" is no key path: give names separated by single \"\\\"";
    }
    return std::nullopt;
}

std::optional<std::wstring> EventSourceRefusal(std::wstring_view source)
{
    if (source.empty() || source.find(L'\\') != std::wstring_view::npos) {
        return L"event source " + Quoted(source) + L" is no event source name: it must not be empty or hold \"\\\"";
    }
    if (source.find(ProductInfo::kProductName) != std::wstring_view::npos || IsBlank(source.front()) ||
        IsBlank(source.back())) {
        return L"event source " + Quoted(source) + L" would not be the host's: it removes \"" +
               std::wstring(ProductInfo::kProductName) + L"\" from the name and trims its blanks";
    }
    return std::nullopt;
}

std::wstring_view ProgramOf(std::wstring_view imagePath)
{
    if (imagePath.starts_with(L'"')) {
        const std::size_t close = imagePath.find(L'"', 1);
        return close == std::wstring_view::npos ? std::wstring_view() : imagePath.substr(1, close - 1);
    }
    return imagePath.substr(0, imagePath.find(L' '));
}

bool RunsHostFor(std::wstring_view imagePath, std::wstring_view hostPath, std::wstring_view service,
                 SameFileRule sameFile)
{
    const std::wstring_view program = ProgramOf(imagePath);
    if (program.empty()) {
        return false;
    }
    const std::size_t programEnd = imagePath.starts_with(L'"') ? program.size() + 2 : program.size();
    const std::wstring_view arguments = imagePath.substr(programEnd);
    std::optional<std::wstring> served;
    for (const std::wstring& parameter : SplitParameters(arguments)) {
        if (IsServiceNameParameter(parameter)) {
            served = ExtractServiceNameValue(parameter).value;
        }
    }
    const bool hostProgram =
        SameIgnoringCase(program, hostPath) || (sameFile != nullptr && sameFile(program, hostPath));
    return hostProgram && served && SameIgnoringCase(*served, service);
}

HostOwner HostOwnerOf(std::wstring_view imagePath, std::wstring_view hostPath, std::wstring_view service,
                      SameFileRule sameFile)
{
    if (RunsHostFor(imagePath, hostPath, service, sameFile)) {
        return HostOwner::ThisHost;
    }
    const auto fileName = [](std::wstring_view path) { return path.substr(path.find_last_of(L"\\/") + 1); };
    const std::wstring_view program = ProgramOf(imagePath);
    return !program.empty() && SameIgnoringCase(fileName(program), fileName(hostPath)) ? HostOwner::OtherHost
                                                                                       : HostOwner::None;
}

} // namespace QxServiceCtl
