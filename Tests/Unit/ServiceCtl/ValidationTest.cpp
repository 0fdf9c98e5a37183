#include "Validation.h"

#include <gtest/gtest.h>

#include "FakePlatform.h"

using namespace Qx::Testing;
using namespace QxServiceCtl;

namespace {

constexpr const wchar_t* kHostFolder = L"C:\\Host\\";
constexpr const wchar_t* kParameters = L"SYSTEM\\CurrentControlSet\\Services\\Svc\\Parameters";
constexpr const wchar_t* kProductRoot = L"SOFTWARE\\Qx\\Product";

class ValidationTest : public ::testing::Test {
protected:
    ValidationTest()
    {
        platform.registry.SetString(kParameters, L"ServiceModules", L"A.dll;B.dll");
        platform.registry.SetDword(kParameters, L"ServiceName", 3);
        platform.files.profileValues[L"C:\\Host\\ProductInfo2.ini|ProductInfo|RegistryRoot"] = kProductRoot;
        platform.registry.SetString(kProductRoot, L"ProductInstallPath", L"C:\\Product\\");
        files = {L"C:\\Host\\ProductInfo2.ini", L"C:\\Product\\QxMessages.dll"};
        modules[L"A.dll"] = {0, L"C:\\Host\\A.dll", {"SmInitialize", "SmShutdown"}};
        modules[L"B.dll"] = {0, L"C:\\Host\\B.dll", {"SmShutdown", "SmInitialize", "Other"}};
        services[L"Svc"] = {L"\"C:\\Host\\QxServiceHost.exe\" -name=Svc", {L"Dep", L"+Group"}};
        services[L"Dep"] = {L"C:\\Dep.exe", {}};
    }

    std::vector<Finding> Validate()
    {
        ValidationProbes probes{
            kHostFolder,
            [this](const std::wstring& name) {
                const auto found = modules.find(name);
                return found != modules.end() ? found->second : ModuleFile{126, {}, {}};
            },
            [this](const std::wstring& path) { return files.contains(path); },
            [this](const std::wstring& name) {
                const auto found = services.find(name);
                return found != services.end() ? std::optional(found->second) : std::nullopt;
            },
            [](std::uint32_t id) { return id == 3 ? std::wstring(L"Qx Demo Service") : std::wstring(); },
        };
        return ValidateService(L"Svc", probes);
    }

    std::vector<Finding> ValidateList(const std::wstring& list)
    {
        const ValidationProbes probes{kHostFolder,
                                      [this](const std::wstring& name) {
                                          const auto found = modules.find(name);
                                          return found != modules.end() ? found->second : ModuleFile{126, {}, {}};
                                      },
                                      {},
                                      {},
                                      {}};
        return ValidateModules(list, probes);
    }

    // The formatted findings that are not "ok".
    std::vector<std::wstring> Problems()
    {
        std::vector<std::wstring> lines;
        const auto findings = Validate();
        lines.reserve(findings.size());
        for (const auto& finding : findings) {
            if (finding.severity != Severity::Ok) {
                lines.push_back(FormatFinding(finding));
            }
        }
        return lines;
    }

    FakePlatform platform;
    std::set<std::wstring> files;
    std::map<std::wstring, ModuleFile> modules;
    std::map<std::wstring, ManagedService> services;
};

} // namespace

TEST_F(ValidationTest, AHealthyServiceHasOnlyOkFindings)
{
    const auto findings = Validate();
    EXPECT_TRUE(HostWouldStart(findings));
    std::vector<std::wstring> lines;
    lines.reserve(findings.size());
    for (const auto& finding : findings) {
        lines.push_back(FormatFinding(finding));
    }
    EXPECT_EQ((std::vector<std::wstring>{
                  L"ok: ServiceModules: \"A.dll;B.dll\"",
                  L"ok: ServiceName: display name identifier 3: \"Qx Demo Service\"",
                  L"ok: SDEnabled: not set: off",
                  L"ok: LogCompressor: not set: off",
                  L"ok: ProductInstallPath: \"C:\\Product\\\"",
                  L"ok: MessageFile: C:\\Product\\QxMessages.dll",
                  L"ok: module A.dll: C:\\Host\\A.dll exports SmInitialize and SmShutdown",
                  L"ok: module B.dll: C:\\Host\\B.dll exports SmInitialize and SmShutdown",
                  L"ok: ImagePath: \"C:\\Host\\QxServiceHost.exe\" -name=Svc",
              }),
              lines);
}

TEST_F(ValidationTest, AMissingParametersKeyStopsTheHost)
{
    platform.registry.FailOpen(kParameters, 2);
    const auto findings = Validate();
    EXPECT_FALSE(HostWouldStart(findings));
    ASSERT_EQ(1u, findings.size());
    EXPECT_EQ(L"error: HKLM\\SYSTEM\\CurrentControlSet\\Services\\Svc\\Parameters: missing (error 2): the host "
              L"stops with 0x80070002",
              FormatFinding(findings[0]));
}

TEST_F(ValidationTest, TheModuleListFollowsTheHostsStringRules)
{
    platform.registry.SetDword(kParameters, L"ServiceModules", 1);
    EXPECT_EQ((std::vector<std::wstring>{L"error: ServiceModules: REG_DWORD, not a REG_SZ or REG_EXPAND_SZ (error "
                                         L"13): the host stops with 0x8007000D"}),
              Problems());
    platform.registry.SetString(kParameters, L"ServiceModules", std::wstring(260, L'a'));
    EXPECT_EQ((std::vector<std::wstring>{
                  L"error: ServiceModules: longer than 259 characters (error 234): the host stops with 0x800700EA"}),
              Problems());
    platform.registry.SetRaw(kParameters, L"ServiceModules", Qx::Platform::kRegSz, {'A', 0, 'B', 0, 'C'});
    EXPECT_EQ((std::vector<std::wstring>{L"error: ServiceModules: an odd number of bytes, no whole UTF-16 string "
                                         L"(error 13): the host stops with 0x8007000D"}),
              Problems());
}

TEST_F(ValidationTest, TheDisplayNameIdentifierMustBeADword)
{
    platform.registry.SetQword(kParameters, L"ServiceName", 3);
    EXPECT_EQ((std::vector<std::wstring>{L"error: ServiceName: REG_QWORD of 8 bytes, not a REG_DWORD (error 234): "
                                         L"the host stops with 0x800700EA"}),
              Problems());
}

TEST_F(ValidationTest, AFlagOfAnotherTypeOrSizeIsIgnoredAsTheHostIgnoresIt)
{
    platform.registry.SetRaw(kParameters, L"SDEnabled", Qx::Platform::kRegBinary, {1, 0, 0, 0});
    platform.registry.SetRaw(kParameters, L"LogCompressor", Qx::Platform::kRegDword, {1, 0, 0});
    const auto findings = Validate();
    EXPECT_TRUE(HostWouldStart(findings));
    EXPECT_EQ(
        (std::vector<std::wstring>{
            L"warning: SDEnabled: REG_BINARY, not a REG_DWORD (error 13): the host ignores it and takes off",
            L"warning: LogCompressor: REG_DWORD of 3 bytes, not 4 (error 13): the host ignores it and takes off"}),
        Problems());
}

TEST_F(ValidationTest, EveryModuleMustResolveAndExportBothFunctions)
{
    modules[L"B.dll"].exports = {"SmInitialize"};
    platform.registry.SetString(kParameters, L"ServiceModules", L"A.dll;B.dll,C.dll");
    EXPECT_EQ((std::vector<std::wstring>{
                  L"error: module B.dll: C:\\Host\\B.dll does not export SmShutdown: the host stops with 0x8007007F",
                  L"error: module C.dll: not found in C:\\Host\\ or System32 (error 126): the host stops with "
                  L"0x8007007E",
              }),
              Problems());
}

// install and config check a module list alone; a path is looked for there only.
TEST_F(ValidationTest, AModuleListAloneIsCheckedModuleByModule)
{
    modules[L"Z:\\Nope.dll"] = {126, L"Z:\\Nope.dll", {}};
    std::vector<std::wstring> lines;
    for (const Finding& finding : ValidateList(L"A.dll;Z:\\Nope.dll")) {
        lines.push_back(FormatFinding(finding));
    }
    EXPECT_EQ((std::vector<std::wstring>{
                  L"ok: module A.dll: C:\\Host\\A.dll exports SmInitialize and SmShutdown",
                  L"error: module Z:\\Nope.dll: not found (error 126): the host stops with 0x8007007E",
              }),
              lines);
}

TEST_F(ValidationTest, WithoutAProductRootTheHostStartsButTheLogCompressorCannot)
{
    files.erase(L"C:\\Host\\ProductInfo2.ini");
    EXPECT_EQ((std::vector<std::wstring>{L"warning: ProductInfo2.ini: not found beside the host in C:\\Host\\: no "
                                         L"product root, so no event source and no product message library"}),
              Problems());
    EXPECT_TRUE(HostWouldStart(Validate()));
    platform.registry.SetDword(kParameters, L"LogCompressor", 1);
    EXPECT_FALSE(HostWouldStart(Validate()));
}

TEST_F(ValidationTest, TheLogCompressorMustExportInitialize)
{
    platform.registry.SetDword(kParameters, L"LogCompressor", 1);
    modules[L"C:\\Product\\QxLogCompr.dll"] = {0, L"C:\\Product\\QxLogCompr.dll", {"Shutdown"}};
    EXPECT_EQ((std::vector<std::wstring>{L"error: log compressor C:\\Product\\QxLogCompr.dll: does not export "
                                         L"Initialize: the host stops with 0x8007007F"}),
              Problems());
}

// The service manager must run this host for the service after services that exist; an identifier
// without a message is only a warning, as the host starts all the same.
TEST_F(ValidationTest, TheServiceManagersRecordAndTheDisplayNameMessageAreChecked)
{
    platform.registry.SetDword(kParameters, L"ServiceName", 7);
    services[L"Svc"] = {L"C:\\Host\\QxServiceHost.exe -name=Other", {L"Dep", L"Gone"}};
    EXPECT_EQ((std::vector<std::wstring>{
                  L"warning: ServiceName: display name identifier 7 names no message of C:\\Host\\QxMessages.dll: "
                  L"events name the service \"%%7\"",
                  L"error: ImagePath: \"C:\\Host\\QxServiceHost.exe -name=Other\" does not run "
                  L"\"C:\\Host\\QxServiceHost.exe\" -name=Svc",
                  L"error: dependency Gone: no such service: the service manager refuses the start (error 1075)",
              }),
              Problems());
    services.clear();
    EXPECT_EQ((std::vector<std::wstring>{
                  L"warning: ServiceName: display name identifier 7 names no message of C:\\Host\\QxMessages.dll: "
                  L"events name the service \"%%7\"",
                  L"warning: service manager: no service \"Svc\" is installed: only QxServiceCtl run can start its "
                  L"modules",
              }),
              Problems());
}
