// install and uninstall: what they create and remove, and every refusal by its message.
#include <algorithm>
#include <memory>
#include <vector>

#include "WineDifferences.h"

#include "CtlHarness.h"

using namespace Qx::Testing;

namespace {

std::wstring ReadString(const std::wstring& keyPath, const wchar_t* name, DWORD& type)
{
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, keyPath.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, buffer, &size) !=
        ERROR_SUCCESS) {
        return L"<missing>";
    }
    return buffer;
}

DWORD ReadDword(const std::wstring& keyPath, const wchar_t* name)
{
    DWORD value = 0xDEADBEEF;
    DWORD size = sizeof(value);
    EXPECT_EQ(ERROR_SUCCESS,
              RegGetValueW(HKEY_LOCAL_MACHINE, keyPath.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size))
        << ToUtf8(name);
    return value;
}

bool KeyExists(const std::wstring& keyPath)
{
    UniqueRegKey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.out()) == ERROR_SUCCESS;
}

struct ServiceConfig {
    std::unique_ptr<BYTE[]> bytes;
    QUERY_SERVICE_CONFIGW* config = nullptr;
};

ServiceConfig QueryConfig(const std::wstring& name)
{
    ServiceConfig result;
    const UniqueServiceHandle manager = OpenManager();
    const UniqueServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG));
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    result.bytes = std::make_unique<BYTE[]>(needed);
    result.config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(result.bytes.get());
    EXPECT_TRUE(QueryServiceConfigW(service.get(), result.config, needed, &needed)) << GetLastError();
    return result;
}

// What QueryServiceConfig2W gives for one level; empty when it fails.
std::vector<BYTE> QueryConfig2(const std::wstring& name, DWORD level)
{
    const UniqueServiceHandle manager = OpenManager();
    const UniqueServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG));
    std::vector<BYTE> bytes(4096);
    DWORD needed = 0;
    if (QueryServiceConfig2W(service.get(), level, bytes.data(), static_cast<DWORD>(bytes.size()), &needed) == 0) {
        bytes.clear();
    }
    return bytes;
}

::testing::AssertionResult HasRestarts(const std::vector<BYTE>& bytes, DWORD count, DWORD delay, DWORD reset)
{
    if (bytes.empty()) {
        return ::testing::AssertionFailure() << "no recovery actions reported";
    }
    const auto* actions = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(bytes.data());
    bool restarts = actions->cActions == count && (count == 0 || actions->dwResetPeriod == reset);
    for (DWORD i = 0; restarts && i < count; ++i) {
        restarts = actions->lpsaActions[i].Type == SC_ACTION_RESTART && actions->lpsaActions[i].Delay == delay;
    }
    return restarts
               ? ::testing::AssertionSuccess()
               : ::testing::AssertionFailure() << actions->cActions << " actions, reset " << actions->dwResetPeriod;
}

bool Contains(const std::vector<std::string>& lines, const std::string& part)
{
    return std::ranges::any_of(lines, [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

class InstallTest : public CtlTest {
protected:
    // A refused install: exit code 1, the one line on standard error, and nothing installed.
    static void ExpectRefused(const std::vector<std::wstring>& arguments, const std::string& message)
    {
        const CtlResult result = RunCtl(arguments);
        EXPECT_TRUE(EndedWith(result, 1, "QxServiceCtl install: " + message));
        EXPECT_TRUE(result.out.empty());
    }
};

} // namespace

TEST_F(InstallTest, CreatesTheServiceItsParametersAndItsEventSource)
{
    const CtlResult result = Install({L"--modules", L"QxSampleHeartbeat.dll;QxTestModuleA.dll", L"--display-name-id",
                                      L"3", L"--start", L"auto", L"--depend", L"QxCtlDependencyOne",
                                      L"QxCtlDependencyTwo", L"--self-defence", L"--log-compressor"});
    ASSERT_EQ(0u, result.exitCode) << (result.err.empty() ? "" : result.err[0]);
    const std::wstring binaryPath = L"\"" + BinFolder() + L"QxServiceHost.exe\" -name=" + service;
    EXPECT_EQ((std::vector<std::string>{
                  "installed service " + Service() + ": " + ToUtf8(binaryPath),
                  "parameters: HKLM\\" + ToUtf8(ParametersKey()) +
                      " (ServiceModules \"QxSampleHeartbeat.dll;QxTestModuleA.dll\")",
                  "event source: HKLM\\" + ToUtf8(kEventSourcesKey + service),
              }),
              result.out);

    const ServiceConfig config = QueryConfig(service);
    ASSERT_NE(nullptr, config.config);
    EXPECT_EQ(binaryPath, config.config->lpBinaryPathName);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), config.config->dwServiceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config.config->dwStartType);
    EXPECT_EQ(std::wstring(L"Qx Demo Service"), config.config->lpDisplayName);
    Qx::Testing::ExpectWindowsBehaviour(std::wstring(L"QxCtlDependencyOne") == config.config->lpDependencies,
                                        "QueryServiceConfigW gives no dependencies; the service's key holds them");
    wchar_t dependencies[128] = {};
    DWORD size = sizeof(dependencies);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, (kServicesKey + service).c_str(), L"DependOnService",
                                          RRF_RT_REG_MULTI_SZ, nullptr, dependencies, &size));
    EXPECT_EQ(std::wstring(L"QxCtlDependencyOne\0QxCtlDependencyTwo\0\0", 39),
              std::wstring(dependencies, size / sizeof(wchar_t)));

    DWORD type = 0;
    EXPECT_EQ(L"QxSampleHeartbeat.dll;QxTestModuleA.dll", ReadString(ParametersKey(), L"ServiceModules", type));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(3u, ReadDword(ParametersKey(), L"ServiceName"));
    EXPECT_EQ(1u, ReadDword(ParametersKey(), L"SDEnabled"));
    EXPECT_EQ(1u, ReadDword(ParametersKey(), L"LogCompressor"));
    const std::wstring source = kEventSourcesKey + service;
    EXPECT_EQ(BinFolder() + L"QxMessages.dll", ReadString(source, L"EventMessageFile", type));
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
    EXPECT_EQ(7u, ReadDword(source, L"TypesSupported"));
}

// Every setting goes through the service manager's own calls and is read back from it; config
// changes what it is given and nothing else.
TEST_F(InstallTest, InstallAndConfigSetTheServiceManagersSettings)
{
    const CtlResult installed = Install({L"--modules",         L"QxSampleHeartbeat.dll",
                                         L"--display-name-id", L"3",
                                         L"--display-name",    L"Free text",
                                         L"--description",     L"What it does",
                                         L"--start",           L"delayed",
                                         L"--account",         L"NT AUTHORITY\\LocalService",
                                         L"--restart",         L"on-failure",
                                         L"--restart-delay",   L"5",
                                         L"--reset-after",     L"600",
                                         L"--log-compressor",  L"--self-defence"});
    ASSERT_EQ(0u, installed.exitCode) << (installed.err.empty() ? "" : installed.err[0]);
    ServiceConfig config = QueryConfig(service);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config.config->dwStartType);
    EXPECT_EQ(std::wstring(L"Free text"), config.config->lpDisplayName);
    EXPECT_EQ(std::wstring(L"NT AUTHORITY\\LocalService"), config.config->lpServiceStartName);
    const std::vector<BYTE> description = QueryConfig2(service, SERVICE_CONFIG_DESCRIPTION);
    ASSERT_FALSE(description.empty());
    EXPECT_EQ(std::wstring(L"What it does"),
              reinterpret_cast<const SERVICE_DESCRIPTIONW*>(description.data())->lpDescription);
    const std::vector<BYTE> delayed = QueryConfig2(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO);
    Qx::Testing::ExpectWindowsBehaviour(
        !delayed.empty() &&
            (reinterpret_cast<const SERVICE_DELAYED_AUTO_START_INFO*>(delayed.data())->fDelayedAutostart != 0),
        "no delayed automatic start (ChangeServiceConfig2W level 3 gives error 124)");
    Qx::Testing::ExpectWindowsBehaviour(
        HasRestarts(QueryConfig2(service, SERVICE_CONFIG_FAILURE_ACTIONS), 3, 5000, 600),
        "failure actions are taken but not kept (QueryServiceConfig2W gives 124)");
    // What the service manager did not keep is said, and the install stands.
    const std::vector<std::string> windowsWarnings;
    Qx::Testing::ExpectWindowsBehaviour(installed.err == windowsWarnings,
                                        "three warnings: delayed start, recovery flag, recovery actions unconfirmed");
    if (Qx::Testing::RunningOnWine()) {
        EXPECT_EQ(3u, installed.err.size());
        for (const char* warning :
             {"warning: the service manager knows no delayed start (error 124",
              "warning: the service manager knows no recovery from a failure without a crash (error 124",
              "warning: the service manager does not report recovery actions back (error 124"}) {
            EXPECT_TRUE(Contains(installed.err, warning)) << warning;
        }
    }

    const CtlResult changed = RunCtl({L"config", service, L"--start", L"disabled", L"--modules", L"QxTestModuleA.dll",
                                      L"--no-self-defence", L"--restart", L"never"});
    ASSERT_EQ(0u, changed.exitCode) << (changed.err.empty() ? "" : changed.err[0]);
    const std::vector<std::string> wineChanges = {"changed service " + Service(), "  start: auto -> disabled",
                                                  "  ServiceModules: QxSampleHeartbeat.dll -> QxTestModuleA.dll",
                                                  "  SDEnabled: on -> off"};
    Qx::Testing::ExpectWindowsBehaviour(changed.out.size() == 5u && changed.out[1] == "  start: delayed -> disabled" &&
                                            changed.out[2].ends_with(" -> none"),
                                        "no delayed start and no recovery actions kept, so neither shows as changed");
    if (Qx::Testing::RunningOnWine()) {
        EXPECT_EQ(wineChanges, changed.out);
    }
    config = QueryConfig(service);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DISABLED), config.config->dwStartType);
    EXPECT_EQ(std::wstring(L"Free text"), config.config->lpDisplayName);
    Qx::Testing::ExpectWindowsBehaviour(HasRestarts(QueryConfig2(service, SERVICE_CONFIG_FAILURE_ACTIONS), 0, 0, 0),
                                        "failure actions are not reported (QueryServiceConfig2W gives 124)");
    DWORD type = 0;
    EXPECT_EQ(L"QxTestModuleA.dll", ReadString(ParametersKey(), L"ServiceModules", type));
    EXPECT_EQ(0u, ReadDword(ParametersKey(), L"SDEnabled"));
    EXPECT_EQ(1u, ReadDword(ParametersKey(), L"LogCompressor"));
    EXPECT_EQ(3u, ReadDword(ParametersKey(), L"ServiceName"));
}

// An identifier the message library has no message for would put "%%7" into every event.
TEST_F(InstallTest, RefusesADisplayNameIdentifierWithoutAMessage)
{
    const std::string noMessage = "--display-name-id 7: " + ToUtf8(BinFolder()) +
                                  "QxMessages.dll holds no message 7, so events would name the service \"%%7\"";
    ExpectRefused({L"install", service, L"--modules", L"QxSampleHeartbeat.dll", L"--display-name-id", L"7"}, noMessage);
    EXPECT_FALSE(ServiceExists(service));
    ExpectNoSuchService(L"config", 1, {L"--start", L"auto"});
    EXPECT_TRUE(EndedWith(Install({L"--modules", L"QxSampleHeartbeat.dll"}), 0,
                          "QxServiceCtl install: warning: no --display-name-id: events name the "
                          "service \"%%0\""));
}

TEST_F(InstallTest, DefaultsToDemandStartWithTheFlagsOff)
{
    ASSERT_EQ(0u, Install({L"--modules", L"QxSampleHeartbeat.dll"}).exitCode);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), QueryConfig(service).config->dwStartType);
    EXPECT_EQ(0u, ReadDword(ParametersKey(), L"ServiceName"));
    EXPECT_EQ(0u, ReadDword(ParametersKey(), L"SDEnabled"));
    EXPECT_EQ(0u, ReadDword(ParametersKey(), L"LogCompressor"));
}

TEST_F(InstallTest, RefusesAServiceNameWithAHyphen)
{
    ExpectRefused({L"install", L"QxCtl-Hyphen", L"--modules", L"QxSampleHeartbeat.dll"},
                  "service name \"QxCtl-Hyphen\" contains \"-\": the host cuts its command line at every \"-\" and "
                  "would not see the whole name");
    EXPECT_FALSE(ServiceExists(L"QxCtl-Hyphen"));
}

TEST_F(InstallTest, RefusesAServiceNameOf256Characters)
{
    const std::wstring name = L"QxCtl" + std::wstring(251, L'x');
    ExpectRefused({L"install", name, L"--modules", L"QxSampleHeartbeat.dll"},
                  "service name is 256 characters long: the host takes at most 255");
}

TEST_F(InstallTest, RefusesAnEmptyServiceName)
{
    ExpectRefused({L"install", L"", L"--modules", L"QxSampleHeartbeat.dll"}, "the service name is empty");
}

TEST_F(InstallTest, RefusesAModuleListOver259Characters)
{
    const std::wstring modules = std::wstring(256, L'm') + L".dll";
    ExpectRefused({L"install", service, L"--modules", modules},
                  "module list is 260 characters long: the host reads at most 259 of ServiceModules");
    EXPECT_FALSE(ServiceExists(service));
}

TEST_F(InstallTest, RefusesSpacesAroundTheSeparators)
{
    ExpectRefused({L"install", service, L"--modules", L"QxTestModuleA.dll; QxTestModuleB.dll"},
                  "module \" QxTestModuleB.dll\" begins or ends with a space: the host does not trim the names "
                  "between \";\" and \",\"");
    ExpectRefused({L"install", service, L"--modules", L"QxTestModuleA.dll ,QxTestModuleB.dll"},
                  "module \"QxTestModuleA.dll \" begins or ends with a space: the host does not trim the names "
                  "between \";\" and \",\"");
    EXPECT_FALSE(ServiceExists(service));
}

// --replace changes what install sets and keeps the rest: a description, an Environment and a
// value of the Parameters that an operator set with sc or reg.
TEST_F(InstallTest, RefusesAnExistingServiceUnlessAskedToReplaceItInPlace)
{
    ASSERT_EQ(0u, Install({L"--modules", L"QxTestModuleA.dll"}).exitCode);
    ExpectRefused({L"install", service, L"--modules", L"QxSampleHeartbeat.dll"},
                  "service \"" + Service() + "\" already exists: uninstall it first, or pass --replace");
    DWORD type = 0;
    EXPECT_EQ(L"QxTestModuleA.dll", ReadString(ParametersKey(), L"ServiceModules", type));
    {
        const UniqueServiceHandle manager = OpenManager();
        const UniqueServiceHandle handle(OpenServiceW(manager.get(), service.c_str(), SERVICE_CHANGE_CONFIG));
        SERVICE_DESCRIPTIONW description{const_cast<wchar_t*>(L"set by sc")};
        ASSERT_TRUE(ChangeServiceConfig2W(handle.get(), SERVICE_CONFIG_DESCRIPTION, &description)) << GetLastError();
    }
    const std::wstring serviceKey = kServicesKey + service;
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, serviceKey.c_str(), L"Environment", REG_MULTI_SZ,
                                             L"A=1\0\0", 8 * sizeof(wchar_t)));
    const DWORD kept = 7;
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(HKEY_LOCAL_MACHINE, ParametersKey().c_str(), L"Kept", REG_DWORD, &kept, sizeof(kept)));

    const CtlResult replaced = Install({L"--modules", L"QxSampleHeartbeat.dll", L"--replace"});
    EXPECT_EQ(0u, replaced.exitCode) << (replaced.err.empty() ? "" : replaced.err[0]);
    EXPECT_EQ(L"QxSampleHeartbeat.dll", ReadString(ParametersKey(), L"ServiceModules", type));
    EXPECT_EQ(7u, ReadDword(ParametersKey(), L"Kept"));
    EXPECT_EQ(L"set by sc", ReadString(serviceKey, L"Description", type));
    EXPECT_EQ(L"A=1", ReadString(serviceKey, L"Environment", type));
}

// A service of another program under the name: neither uninstall nor install --replace touches it
// without --force, and both say what they found.
TEST_F(InstallTest, LeavesAServiceOfAnotherProgramAloneWithoutForce)
{
    const std::wstring notepad = L"C:\\windows\\notepad.exe";
    {
        const UniqueServiceHandle manager = OpenManager();
        const UniqueServiceHandle created(CreateServiceW(
            manager.get(), service.c_str(), service.c_str(), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
            SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, notepad.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(created) << GetLastError();
    }
    const std::string found = "service \"" + Service() + "\" runs \"" + ToUtf8(notepad) + "\", not \"" +
                              ToUtf8(BinFolder()) + "QxServiceHost.exe\" -name=" + Service();
    const CtlResult uninstall = RunCtl({L"uninstall", service});
    EXPECT_EQ(1u, uninstall.exitCode);
    EXPECT_EQ(std::vector<std::string>{"QxServiceCtl uninstall: " + found +
                                       ": it is no service of this host; pass --force to remove it all the same"},
              uninstall.err);
    ExpectRefused({L"install", service, L"--modules", L"QxTestModuleA.dll", L"--replace"},
                  found + ": it is no service of this host; pass --force to replace it all the same");
    const CtlResult config = RunCtl({L"config", service, L"--start", L"auto"});
    EXPECT_EQ(std::vector<std::string>{"QxServiceCtl config: " + found +
                                       ": it is no service of this host; pass --force to change it all the same"},
              config.err);
    ASSERT_TRUE(ServiceExists(service));
    EXPECT_EQ(notepad, QueryConfig(service).config->lpBinaryPathName);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), QueryConfig(service).config->dwStartType);

    const CtlResult forced = RunCtl({L"uninstall", service, L"--force"});
    EXPECT_EQ(0u, forced.exitCode) << (forced.err.empty() ? "" : forced.err[0]);
    EXPECT_EQ("--force: " + found + "; remove it all the same", forced.out.at(0));
    EXPECT_FALSE(ServiceExists(service));
}

TEST_F(InstallTest, UsageErrorsExitWithTwo)
{
    EXPECT_TRUE(EndedWith(RunCtl({L"install", service}), 2, "QxServiceCtl: install: --modules <list> is required"));
}

// What the runs left (logs, logger settings) stays and is named, unless --purge removes it too.
TEST_F(InstallTest, UninstallStopsARunningServiceAndRemovesEverything)
{
    const std::wstring loggerKey = L"SOFTWARE\\Qx\\QxLogger\\Services\\" + service;
    SetDword(loggerKey, L"LogLevel", 1);
    // Earlier runs of this test leave no log behind, but a failed one might.
    WIN32_FIND_DATAW found{};
    const std::wstring logs = BinFolder() + L"Logs\\";
    if (const UniqueFindHandle find(FindFirstFileW((logs + service + L"(*).log").c_str(), &found)); find) {
        do {
            DeleteFileW((logs + found.cFileName).c_str());
        } while (FindNextFileW(find.get(), &found) != 0);
    }
    ASSERT_EQ(0u, Install({L"--modules", L"QxSampleHeartbeat.dll"}).exitCode);
    ASSERT_TRUE(StartService(service));
    const CtlResult result = RunCtl({L"uninstall", service});
    EXPECT_EQ(0u, result.exitCode) << (result.err.empty() ? "" : result.err[0]);
    EXPECT_FALSE(ServiceExists(service));
    EXPECT_FALSE(KeyExists(ParametersKey()));
    EXPECT_FALSE(KeyExists(kEventSourcesKey + service));
    ASSERT_EQ(5u, result.out.size());
    EXPECT_EQ("removed service " + Service() + " and its Parameters", result.out[0]);
    const std::string stays = "stays: " + ToUtf8(BinFolder()) + "Logs\\" + Service() + "(";
    EXPECT_TRUE(result.out[1].starts_with(stays) && result.out[1].ends_with(").log")) << result.out[1];
    const std::wstring log = ToWide(result.out[1].substr(7));
    const std::wstring status = BinFolder() + L"QxWatchdogAgent." + service + L".status";
    EXPECT_EQ("stays: " + ToUtf8(status), result.out[2]);
    EXPECT_EQ("stays: HKLM\\" + ToUtf8(loggerKey), result.out[3]);
    EXPECT_EQ("uninstall --purge removes what stays", result.out[4]);

    ASSERT_EQ(0u, Install({L"--modules", L"QxSampleHeartbeat.dll"}).exitCode);
    const CtlResult purged = RunCtl({L"uninstall", service, L"--purge"});
    EXPECT_EQ(0u, purged.exitCode) << (purged.err.empty() ? "" : purged.err[0]);
    EXPECT_EQ(
        (std::vector<std::string>{"removed service " + Service() + " and its Parameters", "removed " + ToUtf8(log),
                                  "removed " + ToUtf8(status), "removed HKLM\\" + ToUtf8(loggerKey)}),
        purged.out);
    EXPECT_FALSE(Qx::Testing::FileExists(log));
    EXPECT_FALSE(Qx::Testing::FileExists(status));
    EXPECT_FALSE(KeyExists(loggerKey));
}

// Another service's files begin with this one's name but are no files of it: "<service>_av" and
// "<service>(1)" have dumps and logs of that form. Neither uninstall --purge nor status takes them.
TEST_F(InstallTest, PurgeAndStatusLeaveFilesOfServicesWhoseNamesBeginTheSame)
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring logs = BinFolder() + L"Logs\\";
    CreateDirectoryW(logs.c_str(), nullptr);
    const std::vector<std::wstring> others = {
        std::wstring(temp) + service + L"_av_C0000005_2026_12_10__14_11_27.dmp",
        std::wstring(temp) + service + L"_1_C0000005_2026_12_10__14_11_27.dmp",
        logs + service + L"(1)(520).log",
        logs + service + L"_av(520).log",
    };
    for (const std::wstring& path : others) {
        Qx::Testing::WriteFileBytes(path, "another service's\r\n");
    }
    ASSERT_EQ(0u, Install({L"--modules", L"QxSampleHeartbeat.dll"}).exitCode);
    const CtlResult status = RunCtl({L"status", service});
    EXPECT_EQ(3u, status.exitCode) << "a service that has never started has not failed";
    ASSERT_GE(status.out.size(), 6u);
    EXPECT_TRUE(status.out[4].starts_with("exit code: 0x00000435, Win32 error 1077: never started")) << status.out[4];
    EXPECT_TRUE(status.out.back().starts_with("crash dump: none in ")) << status.out.back();
    EXPECT_EQ(std::string::npos, status.out[5].find("(520)")) << status.out[5];

    const CtlResult purged = RunCtl({L"uninstall", service, L"--purge"});
    EXPECT_EQ(0u, purged.exitCode);
    EXPECT_EQ(std::vector<std::string>{"removed service " + Service() + " and its Parameters"}, purged.out);
    for (const std::wstring& path : others) {
        EXPECT_TRUE(Qx::Testing::FileExists(path)) << ToUtf8(path);
        DeleteFileW(path.c_str());
    }
}

TEST_F(InstallTest, UninstallOfAMissingServiceFails)
{
    ExpectNoSuchService(L"uninstall", 1);
}

// product writes the product root beside the tool; install registers the event source it names
// with the message library for the display name reference too, and uninstall leaves that source to
// the services of the host that still report under it.
TEST_F(InstallTest, TheProductRootAndItsSharedEventSource)
{
    const FolderCopy copy(BinFolder() + service + L"\\",
                          {L"QxServiceCtl.exe", L"QxServiceHost.exe", L"QxMessages.dll", L"QxSampleHeartbeat.dll"});
    const std::wstring& folder = copy.Folder();
    const std::wstring root = L"SOFTWARE\\Qx\\CtlTest\\" + service;
    const std::wstring source = service + L"Source";
    const std::wstring second = service + L"Second";
    RemoveServiceAndKeys(second);
    EXPECT_TRUE(EndedWith(RunCtlIn(folder, {L"product"}), 1,
                          "QxServiceCtl product: no product root: give --registry-root <key below "
                          "HKEY_LOCAL_MACHINE>"));
    EXPECT_EQ(1u, RunCtlIn(folder, {L"product", L"--registry-root", L"HKLM\\" + root}).exitCode);

    const CtlResult written = RunCtlIn(folder, {L"product", L"--registry-root", root, L"--event-source", source});
    ASSERT_EQ(0u, written.exitCode) << (written.err.empty() ? "" : written.err[0]);
    const std::wstring sourceKey = kEventSourcesKey + source;
    EXPECT_EQ((std::vector<std::string>{"product information: " + ToUtf8(folder) + "ProductInfo2.ini",
                                        "  RegistryRoot=" + ToUtf8(root), "  MessageFile=QxMessages.dll",
                                        "  EventLogName=Application", "product root: HKLM\\" + ToUtf8(root),
                                        "  ProductInstallPath: " + ToUtf8(folder),
                                        "  EventSource: " + ToUtf8(source) + " (HKLM\\" + ToUtf8(sourceKey) + ")"}),
              written.out);
    DWORD type = 0;
    EXPECT_EQ(folder + L"QxMessages.dll", ReadString(sourceKey, L"ParameterMessageFile", type));
    EXPECT_EQ(folder + L"QxMessages.dll", ReadString(sourceKey, L"EventMessageFile", type));

    const CtlResult sameName = RunCtlIn(
        folder, {L"install", service, L"--modules", L"QxSampleHeartbeat.dll", L"--display-name", L"Qx Shared"});
    ASSERT_EQ(0u, sameName.exitCode);
    EXPECT_EQ(
        std::vector<std::string>{"QxServiceCtl install: service \"" + ToUtf8(second) +
                                 "\" cannot be created (error 1078: " + MessageText(1078, nullptr) +
                                 "): another service has the display name \"Qx Shared\"; give --display-name"},
        RunCtlIn(folder, {L"install", second, L"--modules", L"QxSampleHeartbeat.dll", L"--display-name", L"Qx Shared"})
            .err);
    ASSERT_EQ(0u, RunCtlIn(folder, {L"uninstall", service}).exitCode);
    for (const std::wstring& name : {service, second}) {
        const CtlResult installed = RunCtlIn(folder, {L"install", name, L"--modules", L"QxSampleHeartbeat.dll",
                                                      L"--display-name-id", L"3", L"--display-name", name});
        ASSERT_EQ(0u, installed.exitCode) << (installed.err.empty() ? "" : installed.err[0]);
        EXPECT_EQ("event source: HKLM\\" + ToUtf8(sourceKey), installed.out.at(2));
        EXPECT_FALSE(KeyExists(kEventSourcesKey + name));
    }
    const CtlResult first = RunCtlIn(folder, {L"uninstall", service});
    EXPECT_EQ(0u, first.exitCode);
    EXPECT_EQ("event source " + ToUtf8(source) + " stays: " + ToUtf8(second) + " report under it too", first.out.at(1));
    EXPECT_TRUE(KeyExists(sourceKey));
    EXPECT_EQ(0u, RunCtlIn(folder, {L"uninstall", second}).exitCode);
    EXPECT_FALSE(KeyExists(sourceKey));
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, root.c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, sourceKey.c_str());
}
