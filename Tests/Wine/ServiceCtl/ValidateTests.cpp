// validate: the host's rules applied value by value, each refusal by its line and the exit code.
#include <optional>

#include "CtlHarness.h"

using namespace Qx::Testing;

namespace {

class ValidateTest : public CtlTest {
protected:
    void SetUp() override
    {
        CtlTest::SetUp();
        SetString(ParametersKey(), L"ServiceModules", L"QxSampleHeartbeat.dll");
        SetDword(ParametersKey(), L"ServiceName", 3);
        const UniqueServiceHandle manager = OpenManager();
        const UniqueServiceHandle created(
            CreateServiceW(manager.get(), service.c_str(), service.c_str(), SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, ImagePath().c_str(),
                           nullptr, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(created) << GetLastError();
    }

    [[nodiscard]] std::wstring ImagePath(const std::wstring& folder = BinFolder()) const
    {
        return L"\"" + folder + L"QxServiceHost.exe\" -name=" + service;
    }

    void Reconfigure(const std::wstring& imagePath, const wchar_t* dependencies)
    {
        const UniqueServiceHandle manager = OpenManager();
        const UniqueServiceHandle handle(OpenServiceW(manager.get(), service.c_str(), SERVICE_CHANGE_CONFIG));
        ASSERT_TRUE(ChangeServiceConfigW(handle.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                         imagePath.c_str(), nullptr, nullptr, dependencies, nullptr, nullptr, nullptr))
            << GetLastError();
    }

    [[nodiscard]] static std::string NoProductRoot()
    {
        return "ProductInfo2.ini: not found beside the host in " + ToUtf8(BinFolder()) +
               ": no product root, so no event source and no product message library";
    }

    // The findings that are not "ok", exit code 1 and the summary on standard error.
    void ExpectRefused(const std::vector<std::string>& problems)
    {
        const CtlResult result = RunCtl({L"validate", service});
        EXPECT_EQ(1u, result.exitCode);
        EXPECT_EQ(
            std::vector<std::string>{"QxServiceCtl validate: the host would not start service \"" + Service() + "\""},
            result.err);
        std::vector<std::string> found;
        for (const auto& line : result.out) {
            if (!line.starts_with("ok: ")) {
                found.push_back(line);
            }
        }
        EXPECT_EQ(problems, found);
    }
};

} // namespace

TEST_F(ValidateTest, AHealthyServiceWouldStart)
{
    SetDword(ParametersKey(), L"LogCompressor", 0);
    const CtlResult result = RunCtl({L"validate", service});
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_TRUE(result.err.empty());
    EXPECT_EQ((std::vector<std::string>{
                  "ok: ServiceModules: \"QxSampleHeartbeat.dll\"",
                  "ok: ServiceName: display name identifier 3: \"Qx Demo Service\"",
                  "ok: SDEnabled: not set: off",
                  "ok: LogCompressor: off",
                  "warning: " + NoProductRoot(),
                  "ok: module QxSampleHeartbeat.dll: " + ToUtf8(BinFolder()) +
                      "QxSampleHeartbeat.dll exports SmInitialize and SmShutdown",
                  "ok: ImagePath: " + ToUtf8(ImagePath()),
                  "the host would start service " + Service(),
              }),
              result.out);
}

TEST_F(ValidateTest, RefusesAMissingParametersKey)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, ParametersKey().c_str());
    ExpectRefused({"error: HKLM\\" + ToUtf8(ParametersKey()) + ": missing (error 2): the host stops with 0x80070002"});
}

// The names install refuses, by the same rules, before any registry value is read.
TEST_F(ValidateTest, RefusesServiceNamesTheHostWouldMisread)
{
    const std::vector<std::pair<std::wstring, std::string>> refused = {
        {L"QxCtl-Hyphen", "service name \"QxCtl-Hyphen\" contains \"-\": the host cuts its command line at every "
                          "\"-\" and would not see the whole name"},
        {L"QxCtl" + std::wstring(251, L'x'), "service name is 256 characters long: the host takes at most 255"},
        {L"", "the service name is empty"},
    };
    for (const auto& [name, message] : refused) {
        SCOPED_TRACE(message);
        const CtlResult result = RunCtl({L"validate", name});
        EXPECT_EQ(1u, result.exitCode);
        EXPECT_EQ(std::vector<std::string>{"error: service name: " + message}, result.out);
        EXPECT_EQ(std::vector<std::string>{"QxServiceCtl validate: the host would not start service \"" + ToUtf8(name) +
                                           "\""},
                  result.err);
    }
}

TEST_F(ValidateTest, RefusesAModuleListOfAnotherType)
{
    SetDword(ParametersKey(), L"ServiceModules", 1);
    ExpectRefused({"error: ServiceModules: REG_DWORD, not a REG_SZ or REG_EXPAND_SZ (error 13): the host stops with "
                   "0x8007000D",
                   "warning: " + NoProductRoot()});
}

TEST_F(ValidateTest, RefusesAModuleListOver259Characters)
{
    SetString(ParametersKey(), L"ServiceModules", std::wstring(256, L'm') + L".dll");
    ExpectRefused({"error: ServiceModules: longer than 259 characters (error 234): the host stops with 0x800700EA",
                   "warning: " + NoProductRoot()});
}

TEST_F(ValidateTest, RefusesAModuleListWithoutItsNul)
{
    // A non-NUL unit after the data, so that the registry does not add the NUL itself.
    const wchar_t data[] = L"QxSampleHeartbeat.dllX";
    SetRawValue(ParametersKey(), L"ServiceModules", REG_SZ, data, 21 * sizeof(wchar_t));
    ExpectRefused({"error: ServiceModules: does not end with a NUL (error 13): the host stops with 0x8007000D",
                   "warning: " + NoProductRoot()});
}

TEST_F(ValidateTest, RefusesAModuleListOfAnOddSize)
{
    const wchar_t data[] = L"QxSa";
    SetRawValue(ParametersKey(), L"ServiceModules", REG_SZ, data, 7);
    ExpectRefused({"error: ServiceModules: an odd number of bytes, no whole UTF-16 string (error 13): the host stops "
                   "with 0x8007000D",
                   "warning: " + NoProductRoot()});
}

TEST_F(ValidateTest, RefusesAMissingDisplayNameIdentifier)
{
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, ParametersKey().c_str(), L"ServiceName");
    ExpectRefused(
        {"error: ServiceName: missing (error 2): the host stops with 0x80070002", "warning: " + NoProductRoot()});
}

TEST_F(ValidateTest, RefusesADisplayNameIdentifierLongerThanADword)
{
    const ULONGLONG wide = 3;
    SetRawValue(ParametersKey(), L"ServiceName", REG_QWORD, &wide, sizeof(wide));
    ExpectRefused(
        {"error: ServiceName: REG_QWORD of 8 bytes, not a REG_DWORD (error 234): the host stops with 0x800700EA",
         "warning: " + NoProductRoot()});
}

TEST_F(ValidateTest, RefusesADisplayNameIdentifierOfAnotherType)
{
    SetString(ParametersKey(), L"ServiceName", L"3");
    ExpectRefused({"error: ServiceName: REG_SZ, not a REG_DWORD (error 13): the host stops with 0x8007000D",
                   "warning: " + NoProductRoot()});
}

TEST_F(ValidateTest, AFlagOfAnotherTypeIsOnlyAWarning)
{
    SetString(ParametersKey(), L"SDEnabled", L"1");
    const CtlResult result = RunCtl({L"validate", service});
    EXPECT_EQ(0u, result.exitCode);
    ASSERT_GE(result.out.size(), 3u);
    EXPECT_EQ("warning: SDEnabled: REG_SZ, not a REG_DWORD (error 13): the host ignores it and takes off",
              result.out[2]);
}

TEST_F(ValidateTest, RefusesAModuleThatIsNotFound)
{
    SetString(ParametersKey(), L"ServiceModules", L"QxSampleHeartbeat.dll;QxCtlNoSuchModule.dll");
    ExpectRefused({"warning: " + NoProductRoot(), "error: module QxCtlNoSuchModule.dll: not found in " +
                                                      ToUtf8(BinFolder()) +
                                                      " or System32 (error 126): the host stops with 0x8007007E"});
}

TEST_F(ValidateTest, RefusesAModuleWithoutBothExports)
{
    const std::vector<std::pair<std::string, std::string>> incomplete = {
        {"QxTestModuleNoShutdown.dll", "SmShutdown"}, {"QxTestModuleNoInitialize.dll", "SmInitialize"}};
    const auto noExport = [](const std::string& module, const std::string& missing) {
        return "error: module " + module + ": " + ToUtf8(BinFolder()) + module + " does not export " + missing +
               ": the host stops with 0x8007007F";
    };
    for (const auto& [module, missing] : incomplete) {
        SCOPED_TRACE(module);
        SetString(ParametersKey(), L"ServiceModules", ToWide(module));
        ExpectRefused({"warning: " + NoProductRoot(), noExport(module, missing)});
    }
}

// A name with a space beside a separator is refused as install refuses it; the module check then
// looks the name up as it stands.
TEST_F(ValidateTest, RefusesSpacesAroundTheSeparators)
{
    const std::string untrimmed =
        " begins or ends with a space: the host does not trim the names between \";\" and \",\"";
    SetString(ParametersKey(), L"ServiceModules", L"QxSampleHeartbeat.dll; QxTestModuleA.dll");
    ExpectRefused({"error: ServiceModules: module \" QxTestModuleA.dll\"" + untrimmed, "warning: " + NoProductRoot(),
                   "error: module  QxTestModuleA.dll: not found in " + ToUtf8(BinFolder()) +
                       " or System32 (error 126): the host stops with 0x8007007E"});
    SetString(ParametersKey(), L"ServiceModules", L"QxSampleHeartbeat.dll ,QxTestModuleA.dll");
    ExpectRefused(
        {"error: ServiceModules: module \"QxSampleHeartbeat.dll \"" + untrimmed, "warning: " + NoProductRoot()});
}

// Names Windows takes for devices: the host refuses them by the same rule before it loads anything,
// so validate predicts the host's 0x80070057, not what opening the device would fail with.
TEST_F(ValidateTest, RefusesDeviceNamesAsTheHostDoes)
{
    for (const std::string module : {"CON", "CONIN$", "NUL.dll"}) {
        SCOPED_TRACE(module);
        SetString(ParametersKey(), L"ServiceModules", ToWide(module));
        ExpectRefused({"warning: " + NoProductRoot(), "error: module " + module + ": refused: the name leads out of " +
                                                          ToUtf8(BinFolder()) +
                                                          " or is no file name (error 87): the host stops with "
                                                          "0x80070057"});
    }
}

TEST_F(ValidateTest, RefusesAModuleThatIsNoLibrary)
{
    const std::wstring path = BinFolder() + service + L".dll";
    Qx::Testing::WriteFileBytes(path, "not a library");
    SetString(ParametersKey(), L"ServiceModules", path);
    ExpectRefused({"warning: " + NoProductRoot(),
                   "error: module " + ToUtf8(path) +
                       ": not a 64-bit Windows library (error 193): the host stops with 0x800700C1"});
    DeleteFileW(path.c_str());
}

TEST_F(ValidateTest, RefusesTheLogCompressorWithoutAProductRoot)
{
    SetDword(ParametersKey(), L"LogCompressor", 1);
    ExpectRefused({"error: " + NoProductRoot()});
}

TEST_F(ValidateTest, RunsNoCodeOfTheModules)
{
    // The planted test module traces its loading from DllMain into the file its settings name; the
    // tool, run without -name=, reads them below its own executable's name.
    const std::wstring settings = kServicesKey + std::wstring(L"QxServiceCtl\\TestModules");
    const std::wstring trace = BinFolder() + service + L".trace";
    DeleteFileW(trace.c_str());
    SetString(settings, L"TraceFile", trace);
    SetString(ParametersKey(), L"ServiceModules", L"QxTestPlantedModule.dll");
    const CtlResult validated = RunCtl({L"validate", service});
    EXPECT_EQ(0u, validated.exitCode);
    EXPECT_FALSE(Qx::Testing::FileExists(trace));
    // The same module run does load, so the trace would have shown a load.
    const CtlResult run = RunCtl({L"run", service, L"--seconds", L"0"});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(Qx::Testing::FileExists(trace));
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kServicesKey + std::wstring(L"QxServiceCtl")).c_str());
    DeleteFileW(trace.c_str());
}

namespace {

// The tool in a folder of the test's own beside a ProductInfo2.ini that names a product registry
// root, whose ProductInstallPath is that folder, holding the message library and the log compressor.
class ProductRootTest : public ValidateTest {
protected:
    void SetUp() override
    {
        ValidateTest::SetUp();
        copy.emplace(BinFolder() + service + L"\\",
                     std::vector{L"QxServiceCtl.exe", L"QxMessages.dll", L"QxLogCompr.dll"});
        folder = copy->Folder();
        productRoot = L"SOFTWARE\\Qx\\CtlTest\\" + service;
        Qx::Testing::WriteFileBytes(folder + L"ProductInfo2.ini",
                                    "[ProductInfo]\r\nRegistryRoot=" + ToUtf8(productRoot) + "\r\n");
        SetString(productRoot, L"ProductInstallPath", folder);
        SetString(ParametersKey(), L"ServiceModules", BinFolder() + L"QxSampleHeartbeat.dll");
        SetDword(ParametersKey(), L"LogCompressor", 1);
        Reconfigure(ImagePath(folder), nullptr);
    }

    void TearDown() override
    {
        copy.reset();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, productRoot.c_str());
        ValidateTest::TearDown();
    }

    CtlResult Validate() { return RunCtlIn(folder, {L"validate", service}); }

    // Validate ends with exitCode after lineCount lines, line at being the finding.
    void ExpectFinding(DWORD exitCode, std::size_t lineCount, std::size_t at, const std::string& finding)
    {
        const CtlResult result = Validate();
        EXPECT_EQ(exitCode, result.exitCode);
        ASSERT_EQ(lineCount, result.out.size());
        EXPECT_EQ(finding, result.out[at]);
    }

    std::optional<FolderCopy> copy;
    std::wstring folder;
    std::wstring productRoot;
};

} // namespace

TEST_F(ProductRootTest, AProductRootWithTheLogCompressorWouldStart)
{
    const CtlResult result = Validate();
    EXPECT_EQ(0u, result.exitCode);
    const std::string heartbeat = ToUtf8(BinFolder()) + "QxSampleHeartbeat.dll";
    EXPECT_EQ((std::vector<std::string>{
                  "ok: ServiceModules: \"" + heartbeat + "\"",
                  "ok: ServiceName: display name identifier 3: \"Qx Demo Service\"",
                  "ok: SDEnabled: not set: off",
                  "ok: LogCompressor: on",
                  "ok: ProductInstallPath: \"" + ToUtf8(folder) + "\"",
                  "ok: MessageFile: " + ToUtf8(folder) + "QxMessages.dll",
                  "ok: log compressor: " + ToUtf8(folder) + "QxLogCompr.dll",
                  "ok: module " + heartbeat + ": " + heartbeat + " exports SmInitialize and SmShutdown",
                  "ok: ImagePath: " + ToUtf8(ImagePath(folder)),
                  "the host would start service " + Service(),
              }),
              result.out);
}

TEST_F(ProductRootTest, RefusesTheLogCompressorWithoutAProductInstallPath)
{
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, productRoot.c_str(), L"ProductInstallPath");
    ExpectFinding(1, 7, 4,
                  "error: HKLM\\" + ToUtf8(productRoot) +
                      "\\ProductInstallPath: missing, empty or not a NUL-terminated string: 0x80070057");
}

TEST_F(ProductRootTest, RefusesALogCompressorThatIsNotThere)
{
    DeleteFileW((folder + L"QxLogCompr.dll").c_str());
    ExpectFinding(1, 9, 6,
                  "error: log compressor " + ToUtf8(folder) +
                      "QxLogCompr.dll: not found (error 126): the host stops with 0x8007007E");
}

TEST_F(ProductRootTest, AMissingMessageLibraryIsOnlyAWarning)
{
    DeleteFileW((folder + L"QxMessages.dll").c_str());
    ExpectFinding(0, 10, 5,
                  "warning: MessageFile: " + ToUtf8(folder) +
                      "QxMessages.dll not found: events and error texts come without the product's messages");
}

// What the service manager holds: another program, or a dependency that is not installed, stops the
// start before the host runs.
TEST_F(ValidateTest, RefusesAnotherProgramAndAMissingDependency)
{
    Reconfigure(L"C:\\windows\\notepad.exe", L"QxCtlNoSuchService\0\0");
    SetDword(ParametersKey(), L"ServiceName", 7);
    ExpectRefused({
        "warning: ServiceName: display name identifier 7 names no message of " + ToUtf8(BinFolder()) +
            "QxMessages.dll: events name the service \"%%7\"",
        "warning: " + NoProductRoot(),
        "error: ImagePath: \"C:\\windows\\notepad.exe\" does not run \"" + ToUtf8(BinFolder()) +
            "QxServiceHost.exe\" -name=" + Service(),
        "error: dependency QxCtlNoSuchService: no such service: the service manager refuses the start (error 1075)",
    });
}
