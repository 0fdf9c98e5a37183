// status, run, explain, --help and --version.
#include <algorithm>
#include <iterator>
#include <regex>

#include "CtlHarness.h"
#include "WineDifferences.h"

using namespace Qx::Testing;

namespace {

constexpr const wchar_t* kToolSettings = L"SYSTEM\\CurrentControlSet\\Services\\QxServiceCtl";

bool Matches(const std::string& line, const std::string& pattern)
{
    return std::regex_match(line, std::regex(pattern));
}

std::string Escaped(const std::string& text)
{
    return std::regex_replace(text, std::regex(R"([\\^$.|?*+()\[\]{}])"), R"(\$&)");
}

class ToolTest : public CtlTest {
protected:
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kToolSettings);
        CtlTest::TearDown();
    }

    // The test modules run by the tool read their settings below its executable's name.
    static void SetModuleSetting(const wchar_t* module, const wchar_t* name, DWORD value)
    {
        SetDword(std::wstring(kToolSettings) + L"\\TestModules\\" + module, name, value);
    }

    // run of the service once test module B has the value that makes it fail: the tool ends with 1.
    CtlResult RunFailingModuleB(const wchar_t* name, DWORD value, std::vector<std::wstring> options = {})
    {
        SetModuleSetting(L"QxTestModuleB", name, value);
        options.insert(options.begin(), {L"run", service});
        CtlResult result = RunCtl(options);
        EXPECT_EQ(1u, result.exitCode);
        return result;
    }
};

} // namespace

// A dump of an earlier run, written long before the process started.
std::wstring PlantOldDump(const std::wstring& service)
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    std::wstring path = std::wstring(temp) + service + L"_00000000_2001_01_01__00_00_00.dmp";
    const UniqueKernelHandle file = CreateOutputFile(path);
    const FILETIME old{0, 0x01C07400};
    EXPECT_TRUE(file && SetFileTime(file.get(), &old, &old, &old)) << GetLastError();
    return path;
}

TEST_F(ToolTest, StatusOfARunningService)
{
    ASSERT_EQ(0u, Install({L"--modules", L"QxSampleHeartbeat.dll"}).exitCode);
    const std::wstring oldDump = PlantOldDump(service);
    ASSERT_TRUE(StartService(service));
    const CtlResult result = RunCtl({L"status", service});
    EXPECT_EQ(0u, result.exitCode);
    ASSERT_GE(result.out.size(), 7u);
    EXPECT_EQ("service: " + Service(), result.out[0]);
    EXPECT_EQ("state: RUNNING", result.out[1]);
    ASSERT_TRUE(Matches(result.out[2], "process id: [0-9]+")) << result.out[2];
    const std::string pid = result.out[2].substr(12);
    EXPECT_EQ("accepted controls: STOP, SHUTDOWN", result.out[3]);
    EXPECT_TRUE(Matches(result.out[4], "exit code: 0x00000000, success: .+")) << result.out[4];
    EXPECT_EQ("module log: " + ToUtf8(BinFolder()) + "Logs\\" + Service() + "(" + pid + ").log", result.out[5]);
    EXPECT_EQ("newest crash dump: " + ToUtf8(oldDump) + " (written before the last run started)", result.out.back());
    for (std::size_t i = 6; i + 1 < result.out.size(); ++i) {
        EXPECT_TRUE(result.out[i].starts_with("  ")) << result.out[i];
    }

    const CtlResult json = RunCtl({L"status", service, L"--json"});
    EXPECT_EQ(0u, json.exitCode);
    ASSERT_EQ(1u, json.out.size());
    std::string log;
    for (const char c : ToUtf8(BinFolder()) + "Logs\\" + Service() + "(" + pid + ").log") {
        log += c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    log = Escaped(log);
    EXPECT_TRUE(Matches(json.out[0],
                        "\\{\"service\":\"" + Service() + "\",\"state\":\"RUNNING\",\"processId\":" + pid +
                            ",\"processEnded\":false,\"acceptedControls\":\\[\"STOP\",\"SHUTDOWN\"\\],"
                            "\"exitCode\":0,\"exitCodeText\":\"0x00000000, success: .+\",\"moduleLog\":\"" +
                            log +
                            "\",\"moduleLogOfProcess\":true,\"moduleLogLastLines\":\\[.+\\],"
                            "\"crashDump\":\".+\",\"crashDumpOfLastRun\":false,\"status\":0,\"failedModule\":null,"
                            "\"failure\":null,\"pendingModule\":null,\"pendingEntry\":null,"
                            "\"pendingSeconds\":null,\"startType\":\"demand\",\"modules\":\"QxSampleHeartbeat\\.dll\","
                            "\"schemaVersion\":3\\}"))
        << json.out[0];
    DeleteFileW(oldDump.c_str());
}

TEST_F(ToolTest, StatusDecodesTheExitCodeOfAFailedStart)
{
    ASSERT_EQ(0u, Install({L"--modules", L"QxCtlNoSuchModule.dll", L"--no-check"}).exitCode);
    {
        const UniqueServiceHandle manager = OpenManager();
        const UniqueServiceHandle handle(OpenServiceW(manager.get(), service.c_str(), SERVICE_ALL_ACCESS));
        ASSERT_TRUE(ServiceStartedDespiteWineInternalError(handle.get())) << GetLastError();
        ASSERT_TRUE(WaitForState(handle.get(), SERVICE_STOPPED));
    }
    const CtlResult result = RunCtl({L"status", service});
    EXPECT_EQ(1u, result.exitCode) << "stopped with a failure";
    ASSERT_EQ(19u, result.out.size());
    EXPECT_EQ("state: STOPPED", result.out[1]);
    EXPECT_EQ("process id: none", result.out[2]);
    EXPECT_EQ("accepted controls: none", result.out[3]);
    EXPECT_EQ("exit code: 0x8007007E, HRESULT of Win32 error 126: " + MessageText(0x8007007E, nullptr), result.out[4]);
    // The failure comes first, whatever the last lines are.
    EXPECT_EQ("failure: Failed to load QxCtlNoSuchModule.dll Error:126", result.out[5]);
    EXPECT_EQ("failed module: QxCtlNoSuchModule.dll", result.out[6]);
    ASSERT_TRUE(result.out[7].starts_with("newest module log: ")) << result.out[7];
    const auto log = Qx::Testing::ReadWholeFile(ToWide(result.out[7].substr(19)));
    ASSERT_TRUE(log);
    EXPECT_NE(std::string::npos, log->find("Failed to load QxCtlNoSuchModule.dll Error:126"));
    // The last ten lines of that log follow, indented, before the crash dump line.
    const std::vector<std::string> logLines = Qx::Testing::SplitCrLfLines(*log);
    ASSERT_GE(logLines.size(), 10u);
    std::vector<std::string> expected;
    for (auto line = logLines.end() - 10; line != logLines.end(); ++line) {
        expected.push_back("  " + *line);
    }
    EXPECT_EQ(expected, std::vector<std::string>(result.out.begin() + 8, result.out.end() - 1));
    const CtlResult json = RunCtl({L"status", service, L"--json"});
    ASSERT_EQ(1u, json.out.size());
    EXPECT_NE(std::string::npos, json.out[0].find("\"failedModule\":\"QxCtlNoSuchModule.dll\",\"failure\":\"Failed to "
                                                  "load QxCtlNoSuchModule.dll Error:126\""))
        << json.out[0];
}

// A module whose SmInitialize has not returned is named with how long it has run, while the
// service is still starting.
TEST_F(ToolTest, StatusNamesTheModuleAStartWaitsFor)
{
    ASSERT_EQ(0u, Install({L"--modules", L"QxTestModuleA.dll"}).exitCode);
    constexpr DWORD kDelayMs = 4000;
    SetDword(kServicesKey + service + L"\\TestModules\\QxTestModuleA", L"DelayMs", kDelayMs);
    const UniqueServiceHandle manager = OpenManager();
    const UniqueServiceHandle handle(OpenServiceW(manager.get(), service.c_str(), SERVICE_ALL_ACCESS));
    ASSERT_TRUE(ServiceStartedDespiteWineInternalError(handle.get())) << GetLastError();
    CtlResult result;
    PollUntil(
        [&] {
            result = RunCtl({L"status", service});
            return result.out.size() <= 5 || result.out[5].starts_with("waiting for: ");
        },
        kDelayMs, 50);
    EXPECT_EQ(3u, result.exitCode);
    ASSERT_GE(result.out.size(), 6u);
    EXPECT_EQ("state: START_PENDING", result.out[1]);
    EXPECT_TRUE(Matches(result.out[5], "waiting for: SmInitialize of QxTestModuleA\\.dll, called [0-4] s ago \\("
                                       "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:.]{12}\\)"))
        << result.out[5];
    const CtlResult json = RunCtl({L"status", service, L"--json"});
    ASSERT_EQ(1u, json.out.size());
    EXPECT_TRUE(Matches(json.out[0],
                        ".*\"pendingModule\":\"QxTestModuleA\\.dll\",\"pendingEntry\":\"SmInitialize\","
                        "\"pendingSeconds\":[0-4],\"startType\":\"demand\",\"modules\":\"QxTestModuleA\\.dll\","
                        "\"schemaVersion\":3\\}"))
        << json.out[0];
    EXPECT_TRUE(WaitForState(handle.get(), SERVICE_RUNNING));
}

// Wine keeps a service whose process crashed in its last state, with the dead process's id: status
// looks at the process itself.
TEST_F(ToolTest, StatusTellsAServiceWhoseProcessEnded)
{
    ASSERT_EQ(0u, Install({L"--modules", L"QxTestModuleA.dll"}).exitCode);
    SetDword(kServicesKey + service + L"\\TestModules\\QxTestModuleA", L"Crash", 1);
    const UniqueServiceHandle manager = OpenManager();
    const UniqueServiceHandle handle(OpenServiceW(manager.get(), service.c_str(), SERVICE_ALL_ACCESS));
    ASSERT_TRUE(ServiceStartedDespiteWineInternalError(handle.get())) << GetLastError();
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceStatusEx(handle.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                     sizeof(status), &needed));
    const UniqueKernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
    ASSERT_TRUE(process) << GetLastError();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.get(), kStateGuardMs));

    const CtlResult result = RunCtl({L"status", service});
    EXPECT_EQ(1u, result.exitCode);
    ASSERT_GE(result.out.size(), 5u);
    EXPECT_EQ("process id: " + std::to_string(status.dwProcessId) + " (process ended)", result.out[2]);
    EXPECT_EQ("accepted controls: none", result.out[3]);
    EXPECT_TRUE(result.out.back().starts_with("crash dump of the last run: ")) << result.out.back();
    const CtlResult json = RunCtl({L"status", service, L"--json"});
    EXPECT_EQ(1u, json.exitCode);
    ASSERT_EQ(1u, json.out.size());
    const std::string crash = "\"failure\":\"Crash 0xC0000005 at QxTestModuleA.dll+0x";
    for (const char* fact : {"\"processEnded\":true", "\"acceptedControls\":[]", "\"crashDumpOfLastRun\":true",
                             "\"status\":1,", "\"failedModule\":\"QxTestModuleA.dll\"", crash.c_str()}) {
        EXPECT_NE(std::string::npos, json.out[0].find(fact)) << fact << " in " << json.out[0];
    }
    EXPECT_TRUE(result.out[4] == "exit code: unknown: the process ended without reporting SERVICE_STOPPED" ||
                result.out[4].starts_with("exit code: 0xC0000005, NTSTATUS (an exception or crash code): access "
                                          "violation"))
        << result.out[4];

    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    WIN32_FIND_DATAW found{};
    const UniqueFindHandle dumps(FindFirstFileW((std::wstring(temp) + service + L"_*.dmp").c_str(), &found));
    ASSERT_NE(INVALID_HANDLE_VALUE, dumps.get()) << "the crash left no dump";
    do {
        DeleteFileW((std::wstring(temp) + found.cFileName).c_str());
    } while (FindNextFileW(dumps.get(), &found) != 0);
}

// With --json the failure is an object on standard output too; an option where the name belongs is a
// command-line error.
TEST_F(ToolTest, StatusOfAMissingServiceFails)
{
    ExpectNoSuchService(L"status", 4);
    const CtlResult json = RunCtl({L"status", service, L"--json"});
    EXPECT_EQ(4u, json.exitCode);
    EXPECT_EQ(std::vector<std::string>{"{\"service\":\"" + Service() + "\",\"error\":\"service \\\"" + Service() +
                                       "\\\" does not exist\",\"status\":4,\"schemaVersion\":3}"},
              json.out);
    for (const wchar_t* option : {L"--json", L"--all"}) {
        EXPECT_TRUE(EndedWith(RunCtl({L"status", option}), 2,
                              "QxServiceCtl: status: <service> is missing before \"" + ToUtf8(option) + "\""));
    }
}

TEST_F(ToolTest, RunLoadsTheSampleModuleByItsPath)
{
    const std::wstring path = BinFolder() + L"QxSampleHeartbeat.dll";
    const CtlResult result = RunCtl({L"run", path, L"--seconds", L"1"});
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_TRUE(result.err.empty());
    ASSERT_EQ(4u, result.out.size());
    const std::string name = Escaped(ToUtf8(path));
    EXPECT_TRUE(
        Matches(result.out[0], "SmInitialize " + name + R"(: 0x00000000 in [0-9]+\.[0-9] ms, flags 0x[0-9A-F]{8})"))
        << result.out[0];
    EXPECT_EQ("running for 1 s (Ctrl+C stops sooner)", result.out[1]);
    EXPECT_TRUE(Matches(result.out[2], "SmShutdown " + name + R"(: returned in [0-9]+\.[0-9] ms)")) << result.out[2];
    EXPECT_EQ("stopped: every module shut down", result.out[3]);
}

TEST_F(ToolTest, RunLoadsAServicesModulesInOrderAndShutsThemDownInReverse)
{
    ASSERT_EQ(0u, Install({L"--modules", L"QxSampleHeartbeat.dll,QxTestModuleA.dll"}).exitCode);
    const CtlResult result = RunCtl({L"run", service, L"--seconds", L"0"});
    EXPECT_EQ(0u, result.exitCode);
    ASSERT_EQ(6u, result.out.size());
    EXPECT_TRUE(result.out[0].starts_with("SmInitialize QxSampleHeartbeat.dll: 0x00000000 in ")) << result.out[0];
    EXPECT_TRUE(result.out[1].starts_with("SmInitialize QxTestModuleA.dll: 0x00000000 in ")) << result.out[1];
    EXPECT_EQ("running for 0 s (Ctrl+C stops sooner)", result.out[2]);
    EXPECT_TRUE(result.out[3].starts_with("SmShutdown QxTestModuleA.dll: returned in ")) << result.out[3];
    EXPECT_TRUE(result.out[4].starts_with("SmShutdown QxSampleHeartbeat.dll: returned in ")) << result.out[4];
    EXPECT_EQ("stopped: every module shut down", result.out[5]);
}

TEST_F(ToolTest, RunStopsAtAFailingModuleAndShutsDownThoseBefore)
{
    ASSERT_EQ(0u, Install({L"--modules", L"QxTestModuleA.dll;QxTestModuleB.dll;QxTestModuleC.dll"}).exitCode);
    const CtlResult result = RunFailingModuleB(L"Result", 0x80004005);
    ASSERT_EQ(3u, result.out.size());
    EXPECT_TRUE(result.out[0].starts_with("SmInitialize QxTestModuleA.dll: 0x00000000 in ")) << result.out[0];
    EXPECT_TRUE(result.out[1].starts_with("SmInitialize QxTestModuleB.dll: failed with 0x80004005 (" +
                                          MessageText(0x80004005, nullptr) + ") after "))
        << result.out[1];
    EXPECT_TRUE(result.out[2].starts_with("SmShutdown QxTestModuleA.dll: returned in ")) << result.out[2];
    EXPECT_EQ(std::vector<std::string>{"QxServiceCtl run: module QxTestModuleB.dll did not start: failed with "
                                       "0x80004005"},
              result.err);
}

TEST_F(ToolTest, RunCatchesAnExceptionFromSmInitialize)
{
    ASSERT_EQ(0u, Install({L"--modules", L"QxTestModuleA.dll;QxTestModuleB.dll"}).exitCode);
    const CtlResult result = RunFailingModuleB(L"Throw", 1);
    ASSERT_EQ(3u, result.out.size());
    // The thrown type as the module's runtime names it, and the standard exception's what().
    constexpr std::string_view kWhat = ": SmInitialize of the test module throws";
    EXPECT_TRUE(result.out[1].starts_with("SmInitialize QxTestModuleB.dll: threw ")) << result.out[1];
    EXPECT_NE(std::string::npos, result.out[1].find(std::string(kWhat) + " after ")) << result.out[1];
    EXPECT_TRUE(result.out[2].starts_with("SmShutdown QxTestModuleA.dll: returned in ")) << result.out[2];
    ASSERT_EQ(1u, result.err.size());
    EXPECT_TRUE(result.err[0].starts_with("QxServiceCtl run: module QxTestModuleB.dll did not start: threw "));
    EXPECT_TRUE(result.err[0].ends_with(kWhat)) << result.err[0];
}

// An exception out of SmShutdown is reported while the module is still loaded (reading it after the
// library was freed crashed the tool), and the shut-down ends there, as in the service.
TEST_F(ToolTest, RunReportsAnExceptionFromSmShutdown)
{
    ASSERT_EQ(0u, Install({L"--modules", L"QxTestModuleA.dll;QxTestModuleB.dll"}).exitCode);
    const CtlResult result = RunFailingModuleB(L"Throw", 2, {L"--seconds", L"0"});
    ASSERT_EQ(4u, result.out.size());
    EXPECT_TRUE(result.out[3].starts_with("SmShutdown QxTestModuleB.dll: threw ")) << result.out[3];
    EXPECT_NE(std::string::npos, result.out[3].find(": SmShutdown of the test module throws after ")) << result.out[3];
    ASSERT_EQ(1u, result.err.size());
    EXPECT_TRUE(result.err[0].ends_with(" out of SmShutdown: the service ends there through std::terminate (exit "
                                        "code 3, one crash dump), and the modules before it get no SmShutdown"))
        << result.err[0];
}

// A crash inside a module goes through the host's own crash handling: one dump, named after the
// service, and the tool says what crashed where and ends with the crash's code: a write through a null
// pointer in SmInitialize, std::terminate there, and an exception nothing catches on a thread of the
// module's own, named by its type and the module that threw it in either ABI.
TEST_F(ToolTest, RunReportsACrashInAModuleAndWritesItsDump)
{
    ASSERT_EQ(0u, Install({L"--modules", L"QxTestModuleA.dll"}).exitCode);
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    const struct {
        const wchar_t* setting;
        DWORD value;
        std::string report;
    } kCrashes[] = {
        {L"Crash", 1,
         "crash 0xC0000005 \\(access violation[^)]*\\) at QxTestModuleA\\.dll\\+0x[0-9A-F]+ on thread [0-9]+"},
        {L"Crash", 2, "the process ends through std::terminate or abort\\(\\)"},
        {L"ThreadCrash", 2,
         "crash 0x(20474343|E06D7363) \\(a C\\+\\+ exception[^)]*\\): C\\+\\+ exception "
         "(St13runtime_error|\\.\\?AVruntime_error@std@@) thrown in QxTestModuleA\\.dll on thread [0-9]+"},
    };
    for (const auto& crash : kCrashes) {
        SCOPED_TRACE(ToUtf8(crash.setting) + "=" + std::to_string(crash.value));
        SetModuleSetting(L"QxTestModuleA", L"Crash", 0);
        SetModuleSetting(L"QxTestModuleA", L"ThreadCrash", 0);
        SetModuleSetting(L"QxTestModuleA", crash.setting, crash.value);
        const CtlResult result = RunCtl({L"run", service});
        // The module's own runtime may add its words on terminate.
        std::vector<std::string> report;
        std::ranges::copy_if(result.err, std::back_inserter(report),
                             [](const std::string& line) { return line.starts_with("QxServiceCtl run: "); });
        ASSERT_EQ(2u, report.size());
        EXPECT_TRUE(Matches(report[0], "QxServiceCtl run: " + crash.report)) << report[0];
        // A crash with an exception ends with its code and names its dump with it; terminate ends with
        // abort()'s code and a dump of code 0.
        const bool withException = report[0].starts_with("QxServiceCtl run: crash 0x");
        const std::string code =
            withException ? report[0].substr(std::string_view("QxServiceCtl run: crash 0x").size(), 8) : "00000000";
        if (withException) {
            EXPECT_EQ(std::stoul(code, nullptr, 16), result.exitCode);
        } else {
            EXPECT_NE(0u, result.exitCode);
        }
        const std::string dumpLine = "QxServiceCtl run: crash dump: " + ToUtf8(temp) + Service() + "_" + code;
        ASSERT_TRUE(report[1].starts_with(dumpLine)) << report[1];
        const std::wstring dump = ToWide(report[1].substr(30));
        EXPECT_TRUE(Qx::Testing::FileExists(dump));
        DeleteFileW(dump.c_str());
    }
}

// A module that ends the start thread inside its SmInitialize is named, the modules before it are
// shut down, and the tool fails as the service's start would.
TEST_F(ToolTest, RunNamesAModuleThatEndsTheStartThread)
{
    ASSERT_EQ(0u, Install({L"--modules", L"QxTestModuleA.dll;QxTestModuleB.dll"}).exitCode);
    const CtlResult result = RunFailingModuleB(L"ExitThread", 0);
    ASSERT_EQ(3u, result.out.size());
    EXPECT_EQ("SmInitialize QxTestModuleB.dll: ended its thread without returning (thread exit code 0x00000000)",
              result.out[1]);
    EXPECT_TRUE(result.out[2].starts_with("SmShutdown QxTestModuleA.dll: returned in ")) << result.out[2];
    EXPECT_EQ(std::vector<std::string>{"QxServiceCtl run: module QxTestModuleB.dll did not start: its SmInitialize "
                                       "ended the thread (ExitThread, or a stack overflow); the service's start "
                                       "fails there with E_ABORT (0x80004004)"},
              result.err);
}

TEST_F(ToolTest, RunRefusesAModuleWithoutBothExports)
{
    const std::vector<std::pair<std::string, std::string>> incomplete = {
        {"QxTestModuleNoShutdown.dll", "SmShutdown"}, {"QxTestModuleNoInitialize.dll", "SmInitialize"}};
    const auto noExport = [](const std::string& module, const std::string& missing) {
        return "QxServiceCtl run: module " + module + " does not export " + missing;
    };
    for (const auto& [module, missing] : incomplete) {
        SCOPED_TRACE(module);
        const CtlResult result = RunCtl({L"run", ToWide(module)});
        EXPECT_EQ(1u, result.exitCode);
        EXPECT_TRUE(result.out.empty());
        EXPECT_EQ(std::vector<std::string>{noExport(module, missing)}, result.err);
    }
}

TEST_F(ToolTest, RunNamesAModuleThatCannotBeLoaded)
{
    EXPECT_TRUE(EndedWith(RunCtl({L"run", L"QxCtlNoSuchModule.dll"}), 1,
                          "QxServiceCtl run: module QxCtlNoSuchModule.dll cannot be loaded (error 126: " +
                              MessageText(126, nullptr) + ")"));
}

TEST_F(ToolTest, ExplainDecodesAnHResultAndItsText)
{
    const CtlResult result = RunCtl({L"explain", L"0x8007007E"});
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ((std::vector<std::string>{"0x8007007E, HRESULT of Win32 error 126", MessageText(0x8007007E, nullptr)}),
              result.out);
    const CtlResult negative = RunCtl({L"explain", L"-2147467259"});
    EXPECT_EQ((std::vector<std::string>{"0x80004005, HRESULT", MessageText(0x80004005, nullptr)}), negative.out);
}

// The common crash codes in the tool's own words, then in the system's where ntdll's message table
// has a text for them (Windows' has; Wine's ntdll has no table, so there the tool's words stand alone).
TEST_F(ToolTest, ExplainNamesTheCommonCrashCodes)
{
    for (const std::string code : {"0x80000003", "0xC0000094", "0xC00000FD"}) {
        SCOPED_TRACE(code);
        const CtlResult result = RunCtl({L"explain", ToWide(code)});
        EXPECT_EQ(0u, result.exitCode);
        ASSERT_GE(result.out.size(), 2u);
        EXPECT_EQ(code + ", NTSTATUS (an exception or crash code)", result.out[0]);
        EXPECT_TRUE(result.out[1].ends_with("; one crash dump")) << result.out[1];
        const std::string system = MessageText(std::stoul(code, nullptr, 16), GetModuleHandleW(L"ntdll.dll"));
        Qx::Testing::ExpectWindowsBehaviour(!system.empty(), "Wine's ntdll.dll has no message table");
        if (system.empty()) {
            EXPECT_EQ(2u, result.out.size());
        } else {
            ASSERT_EQ(3u, result.out.size());
            EXPECT_EQ(system.substr(0, system.find_first_of("\r\n")), result.out[2]);
        }
    }
}

TEST_F(ToolTest, ExplainGivesTheTextOfAnEventIdentifier)
{
    const HMODULE messages =
        LoadLibraryExW((BinFolder() + L"QxMessages.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, messages);
    const std::string text = MessageText(0x40010101, messages);
    FreeLibrary(messages);
    ASSERT_FALSE(text.empty());
    const CtlResult result = RunCtl({L"explain", L"0x40010101"});
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ(
        (std::vector<std::string>{"0x40010101, event or message of the product", "event: the service started", text}),
        result.out);
}

// Small numbers are Win32 errors and the host's exit codes, never the display names the product's
// message library holds under the same numbers.
TEST_F(ToolTest, ExplainNamesTheHostsCodesAndNeverADisplayNameForASmallNumber)
{
    const CtlResult abort = RunCtl({L"explain", L"3"});
    EXPECT_EQ(0u, abort.exitCode);
    ASSERT_EQ(3u, abort.out.size());
    EXPECT_EQ("0x00000003, Win32 error 3", abort.out[0]);
    EXPECT_EQ(0u, abort.out[1].find("QxServiceHost's exit code after abort()")) << abort.out[1];
    EXPECT_EQ(MessageText(3, nullptr), abort.out[2]);
    const CtlResult notFound = RunCtl({L"explain", L"2"});
    EXPECT_EQ((std::vector<std::string>{"0x00000002, Win32 error 2", MessageText(2, nullptr)}), notFound.out);
    const CtlResult crash = RunCtl({L"explain", L"0xC0000005"});
    EXPECT_EQ(0u, crash.out.at(1).find("access violation")) << crash.out.at(1);

    EXPECT_TRUE(EndedWith(RunCtl({L"explain", L"E_FAIL"}), 2,
                          "QxServiceCtl: explain: \"E_FAIL\" is no code: give a decimal number, a "
                          "negative one as %ERRORLEVEL% shows it, or 0x and hexadecimal digits"));
}

// Each command's own help, asked for in any of the ways operators try, and its exit codes.
TEST_F(ToolTest, EachCommandHasItsHelp)
{
    for (const std::vector<std::wstring>& asked :
         {std::vector<std::wstring>{L"install", L"--help"}, {L"help", L"install"}, {L"install", L"Svc", L"-h"}}) {
        const CtlResult result = RunCtl(asked);
        EXPECT_EQ(0u, result.exitCode);
        ASSERT_FALSE(result.out.empty());
        EXPECT_EQ(0u, result.out.front().find("QxServiceCtl install <service> --modules <list>")) << result.out.front();
        EXPECT_EQ("Exit codes: 0 success, 1 failure (named on standard error), 2 unusable command line; status, "
                  "start, stop and restart: 4 no such service; start, stop and restart: 5 time-out; run ends a crash "
                  "with its exception code (a Unix shell shows the low 8 bits, 5 for 0xC0000005).",
                  result.out.back());
        for (const std::string& line : result.out) {
            EXPECT_EQ(std::string::npos, line.find("QxServiceCtl uninstall")) << "only install's help";
        }
    }
    const CtlResult status = RunCtl({L"status", L"-h"});
    EXPECT_EQ(0u, status.exitCode);
    EXPECT_EQ("QxServiceCtl status <service> [--json]", status.out.at(0));
    EXPECT_EQ(2u, RunCtl({L"help", L"nothing"}).exitCode);
}

TEST_F(ToolTest, HelpListsEveryCommand)
{
    const CtlResult result = RunCtl({L"--help"});
    EXPECT_EQ(0u, result.exitCode);
    for (const char* command :
         {"install <service> --modules <list>", "uninstall <service>", "validate <service>", "status <service>",
          "run <service>|<module path> [--seconds N]", "explain <code>", "--help | help <command>", "--version"}) {
        bool listed = false;
        for (const auto& line : result.out) {
            listed = listed || line.starts_with(std::string("QxServiceCtl ") + command);
        }
        EXPECT_TRUE(listed) << command;
    }
}

TEST_F(ToolTest, VersionIsTheHostsFileVersion)
{
    const std::wstring host = BinFolder() + L"QxServiceHost.exe";
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(host.c_str(), &handle);
    ASSERT_NE(0u, size);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(host.c_str(), 0, size, block.data()));
    wchar_t* version = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904b0\\FileVersion",
                               reinterpret_cast<void**>(&version), &length));
    const CtlResult result = RunCtl({L"--version"});
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ(std::vector<std::string>{"QxServiceCtl " + ToUtf8(version)}, result.out);
}
