// start, stop, restart, list, config's view, install --replace on a running service, the module check
// of install and config, and uninstall of a service whose process has ended.
#include <algorithm>

#include "CtlHarness.h"

using namespace Qx::Testing;
using namespace std::string_literals;

namespace {

bool Has(const std::vector<std::string>& lines, const std::string& part)
{
    return std::ranges::any_of(lines, [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

::testing::AssertionResult Succeeded(const CtlResult& result)
{
    if (result.exitCode == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "exit code " << result.exitCode << ": "
                                         << (result.err.empty() ? "" : result.err[0]);
}

class LifecycleTest : public CtlTest {
protected:
    CtlResult Ctl(const wchar_t* command, std::vector<std::wstring> options = {})
    {
        options.insert(options.begin(), {command, service});
        return RunCtl(options);
    }

    DWORD State()
    {
        const UniqueServiceHandle manager = OpenManager();
        const UniqueServiceHandle handle(OpenServiceW(manager.get(), service.c_str(), SERVICE_QUERY_STATUS));
        return ServiceState(handle.get());
    }

    void SetModuleValue(const wchar_t* module, const wchar_t* name, DWORD value)
    {
        SetDword(kServicesKey + service + L"\\TestModules\\" + module, name, value);
    }
};

} // namespace

TEST_F(LifecycleTest, StartStopRestartAndListWaitForTheStateAndSayIt)
{
    for (const wchar_t* command : {L"start", L"stop", L"restart"}) {
        ExpectNoSuchService(command, 4);
    }
    ASSERT_EQ(0u, Install({L"--modules", L"QxSampleHeartbeat.dll", L"--start", L"demand"}).exitCode);
    const CtlResult started = Ctl(L"start");
    EXPECT_TRUE(Succeeded(started));
    ASSERT_EQ(1u, started.out.size());
    EXPECT_TRUE(started.out[0].starts_with("service " + Service() + " is running (process id ")) << started.out[0];
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), State());
    EXPECT_EQ(std::vector<std::string>{"service " + Service() + " was running already (process id " +
                                       started.out[0].substr(started.out[0].rfind(' ') + 1)},
              Ctl(L"start").out);

    const CtlResult listed = RunCtl({L"list"});
    EXPECT_TRUE(Has(listed.out, Service() + "  RUNNING  process ")) << "list shows the service running";
    EXPECT_TRUE(Has(listed.out, "  demand  QxSampleHeartbeat.dll"));
    const CtlResult json = RunCtl({L"list", L"--json"});
    ASSERT_EQ(1u, json.out.size());
    EXPECT_TRUE(json.out[0].find("{\"service\":\"" + Service() + "\",\"host\":\"this\",\"state\":\"RUNNING\"") !=
                std::string::npos)
        << json.out[0];
    EXPECT_TRUE(json.out[0].ends_with("],\"schemaVersion\":3}")) << json.out[0];

    const CtlResult restarted = Ctl(L"restart");
    EXPECT_TRUE(Succeeded(restarted));
    ASSERT_EQ(2u, restarted.out.size());
    EXPECT_TRUE(restarted.out[0].starts_with("service " + Service() + " is stopped")) << restarted.out[0];
    EXPECT_NE(started.out[0], restarted.out[1]) << "a new process runs";

    EXPECT_EQ(std::vector<std::string>{"service " + Service() + " is stopped"}, Ctl(L"stop").out);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), State());
    EXPECT_EQ(std::vector<std::string>{"service " + Service() + " was stopped already"}, Ctl(L"stop").out);
}

// A failed start is named; a stop that takes too long times out (5) unless the operator asks for the
// kill, which is said.
TEST_F(LifecycleTest, AFailedStartFailsAndOnlyAnExplicitKillEndsAHangingStop)
{
    ASSERT_EQ(0u, Install({L"--modules", L"QxTestModuleA.dll"}).exitCode);
    SetModuleValue(L"QxTestModuleA", L"Result", 0x80004005);
    const CtlResult failed = Ctl(L"start");
    EXPECT_EQ(1u, failed.exitCode);
    ASSERT_EQ(1u, failed.err.size());
    EXPECT_TRUE(failed.err[0].starts_with("QxServiceCtl start: service \"" + Service() +
                                          "\": it stopped with exit code 0x80004005"))
        << failed.err[0];

    SetModuleValue(L"QxTestModuleA", L"Result", 0);
    SetModuleValue(L"QxTestModuleA", L"ShutdownDelayMs", 60000);
    ASSERT_TRUE(Succeeded(Ctl(L"start")));
    EXPECT_TRUE(
        EndedWith(Ctl(L"stop", {L"--wait", L"2"}), 5,
                  "QxServiceCtl stop: service \"" + Service() + "\" is not stopped after 2 s: it is STOP_PENDING"));
    const CtlResult killed = Ctl(L"stop", {L"--kill-after", L"1"});
    EXPECT_TRUE(Succeeded(killed));
    ASSERT_EQ(2u, killed.out.size());
    EXPECT_TRUE(killed.out[0].starts_with("--kill-after: service " + Service() +
                                          " did not stop in time: ended its "
                                          "process "))
        << killed.out[0];
    EXPECT_TRUE(killed.out[1].starts_with("service " + Service() + " is stopped")) << killed.out[1];
}

// The same install --replace twice on a running service leaves it running on the new settings.
TEST_F(LifecycleTest, InstallReplaceStartsARunningServiceAgain)
{
    ASSERT_EQ(0u, Install({L"--modules", L"QxTestModuleA.dll"}).exitCode);
    ASSERT_TRUE(Succeeded(Ctl(L"start")));
    for (int run = 0; run < 2; ++run) {
        const CtlResult replaced = Install({L"--modules", L"QxSampleHeartbeat.dll", L"--replace"});
        EXPECT_TRUE(Succeeded(replaced));
        EXPECT_TRUE(Has(replaced.out, "service " + Service() +
                                          " was running: stopped for the change and started "
                                          "again (process id "));
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), State());
    }
    const CtlResult status = RunCtl({L"status", service, L"--json"});
    ASSERT_EQ(1u, status.out.size());
    EXPECT_NE(std::string::npos,
              status.out[0].find("\"startType\":\"demand\",\"modules\":\"QxSampleHeartbeat.dll\",\"schemaVersion\":3"))
        << status.out[0];

    // A replacement whose modules no longer start says so and fails.
    ASSERT_EQ(0u, Install({L"--modules", L"QxTestModuleA.dll", L"--replace"}).exitCode);
    SetModuleValue(L"QxTestModuleA", L"Result", 0x80004005);
    const CtlResult failed = Install({L"--modules", L"QxTestModuleA.dll", L"--replace"});
    EXPECT_EQ(1u, failed.exitCode);
    ASSERT_EQ(2u, failed.err.size());
    EXPECT_EQ("QxServiceCtl install: warning: no --display-name-id: events name the service \"%%0\"", failed.err[0]);
    EXPECT_TRUE(failed.err[1].starts_with("QxServiceCtl install: service \"" + Service() +
                                          "\" was replaced but did not run again: it stopped with exit code "
                                          "0x80004005"))
        << failed.err[1];
}

TEST_F(LifecycleTest, InstallAndConfigCheckEachModuleUnlessToldNotTo)
{
    const std::string missing = "module Z:\\nonexistent\\Nope.dll: not found (error 126): the host stops with "
                                "0x8007007E";
    const std::string bare = "module QxCtlNotBeside.dll: not found in " + ToUtf8(BinFolder()) +
                             " or System32 (error 126): the host stops with 0x8007007E";
    const std::string hint = "; pass --no-check to take the module list all the same";
    EXPECT_TRUE(
        EndedWith(Install({L"--modules", L"Z:\\nonexistent\\Nope.dll"}), 1, "QxServiceCtl install: " + missing + hint));
    EXPECT_TRUE(EndedWith(Install({L"--modules", L"QxTestModuleA.dll;QxCtlNotBeside.dll"}), 1,
                          "QxServiceCtl install: " + bare + hint));
    EXPECT_FALSE(ServiceExists(service));
    const CtlResult unchecked =
        Install({L"--modules", L"Z:\\nonexistent\\Nope.dll", L"--no-check", L"--display-name-id", L"1"});
    EXPECT_TRUE(EndedWith(unchecked, 0, "QxServiceCtl install: warning: --no-check: " + missing));
    EXPECT_TRUE(
        EndedWith(Ctl(L"config", {L"--modules", L"QxCtlNotBeside.dll"}), 1, "QxServiceCtl config: " + bare + hint));

    const CtlResult changed = Ctl(L"config", {L"--modules", L"QxTestModuleA.dll", L"--start", L"auto"});
    EXPECT_TRUE(Succeeded(changed));
    EXPECT_EQ((std::vector<std::string>{"changed service " + Service(), "  start: demand -> auto",
                                        "  ServiceModules: Z:\\nonexistent\\Nope.dll -> QxTestModuleA.dll"}),
              changed.out);
    const CtlResult shown = Ctl(L"config");
    EXPECT_TRUE(Succeeded(shown));
    for (const std::string& line :
         {"service: " + Service(), "start: auto"s, "account: LocalSystem"s, "ServiceModules: QxTestModuleA.dll"s,
          "ServiceName: 1 (\"Qx Sample Service\" in events)"s, "SDEnabled: off"s}) {
        EXPECT_TRUE(std::ranges::find(shown.out, line) != shown.out.end()) << line;
    }
    const CtlResult json = Ctl(L"config", {L"--json"});
    ASSERT_EQ(1u, json.out.size());
    EXPECT_NE(std::string::npos, json.out[0].find("\"moduleList\":[\"QxTestModuleA.dll\"],\"displayNameId\":1"))
        << json.out[0];
}

// Wine's service manager keeps a service whose process crashed RUNNING: uninstall deletes it without a
// stop request, and uninstall --purge after it still removes the log and the dump the run left.
TEST_F(LifecycleTest, UninstallsAServiceWhoseProcessEndedAndPurgesAfterwards)
{
    ASSERT_EQ(0u, Install({L"--modules", L"QxTestModuleA.dll"}).exitCode);
    SetModuleValue(L"QxTestModuleA", L"Crash", 1);
    const CtlResult started = Ctl(L"start");
    EXPECT_EQ(1u, started.exitCode);
    const CtlResult removed = Ctl(L"uninstall");
    EXPECT_TRUE(Succeeded(removed));
    ASSERT_FALSE(removed.out.empty());
    EXPECT_EQ("removed service " + Service() + " and its Parameters", removed.out[0]);
    EXPECT_EQ("uninstall --purge removes what stays", removed.out.back());
    const auto stays = std::ranges::count_if(removed.out, [](const std::string& line) {
        return line.starts_with("stays: ") && (line.ends_with(".log") || line.ends_with(".dmp"));
    });
    EXPECT_GE(stays, 2) << "the run's log and its dump";

    const CtlResult purged = Ctl(L"uninstall", {L"--purge"});
    EXPECT_TRUE(Succeeded(purged));
    ASSERT_FALSE(purged.out.empty());
    EXPECT_EQ("service " + Service() + " is not installed: removing what its runs left", purged.out[0]);
    for (const std::string& line : removed.out) {
        if (line.starts_with("stays: ")) {
            EXPECT_TRUE(Has(purged.out, "removed " + line.substr(7))) << line;
        }
    }
    EXPECT_TRUE(
        EndedWith(Ctl(L"uninstall"), 1, "QxServiceCtl uninstall: service \"" + Service() + "\" does not exist"));
}

// The upgrade's pair: a record stop --all cannot write stops nothing, and a record start --recorded
// cannot read fails instead of counting as none, which would leave the services it names stopped.
TEST_F(LifecycleTest, StopAllStopsNothingWithoutItsRecordAndStartRecordedFailsOnAnUnreadableOne)
{
    ASSERT_EQ(0u, Install({L"--modules", L"QxSampleHeartbeat.dll", L"--start", L"demand"}).exitCode);
    ASSERT_TRUE(Succeeded(Ctl(L"start")));
    const std::wstring unwritable = BinFolder() + L"QxCtlNoSuchFolder\\" + service + L".txt";
    const CtlResult stopped = RunCtl({L"stop", L"--all", L"--record", unwritable});
    EXPECT_EQ(1u, stopped.exitCode);
    ASSERT_EQ(1u, stopped.err.size());
    EXPECT_TRUE(
        stopped.err[0].starts_with("QxServiceCtl stop: the record " + ToUtf8(unwritable) + " cannot be written"))
        << stopped.err[0];
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), State());

    const CtlResult unreadable = RunCtl({L"start", L"--recorded", BinFolder()});
    EXPECT_EQ(1u, unreadable.exitCode);
    ASSERT_EQ(1u, unreadable.err.size());
    EXPECT_TRUE(
        unreadable.err[0].starts_with("QxServiceCtl start: the record " + ToUtf8(BinFolder()) + " cannot be read"))
        << unreadable.err[0];
    const CtlResult none = RunCtl({L"start", L"--recorded", unwritable});
    EXPECT_TRUE(Succeeded(none));
    EXPECT_EQ(std::vector<std::string>{"no record at " + ToUtf8(unwritable) + ": no service to start"}, none.out);
    EXPECT_TRUE(Succeeded(Ctl(L"stop")));
}

// A command line may spell the host's folder otherwise than the system names the running image (its
// short name here; a junction or a SUBST drive likewise): the process is still the service's, the
// service is still the host's, and stop --all stops it instead of passing it over.
TEST_F(LifecycleTest, TheServicesProcessIsKnownWhateverSpellingItsCommandLineGivesTheHost)
{
    const FolderCopy copy(BinFolder() + service + L"\\", {L"QxServiceCtl.exe", L"QxServiceHost.exe", L"QxLogger.dll",
                                                          L"QxMessages.dll", L"QxSampleHeartbeat.dll"});
    ASSERT_EQ(0u, RunCtlIn(copy.Folder(), {L"install", service, L"--modules", L"QxSampleHeartbeat.dll"}).exitCode);
    wchar_t shortFolder[MAX_PATH];
    const DWORD length = GetShortPathNameW(copy.Folder().c_str(), shortFolder, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH) << GetLastError();
    const std::wstring spelt(shortFolder, length);
    ASSERT_NE(spelt, copy.Folder()) << "the folder has a short name of its own";
    {
        const UniqueServiceHandle manager = OpenManager();
        const UniqueServiceHandle handle(OpenServiceW(manager.get(), service.c_str(), SERVICE_ALL_ACCESS));
        const std::wstring commandLine = L"\"" + spelt + L"QxServiceHost.exe\" -name=" + service;
        ASSERT_TRUE(ChangeServiceConfigW(handle.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                         commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
            << GetLastError();
    }
    ASSERT_TRUE(Succeeded(RunCtlIn(copy.Folder(), {L"start", service})));
    const CtlResult listed = RunCtlIn(copy.Folder(), {L"list"});
    const auto line =
        std::ranges::find_if(listed.out, [&](const std::string& shown) { return shown.starts_with(Service() + "  "); });
    ASSERT_NE(line, listed.out.end());
    EXPECT_TRUE(line->starts_with(Service() + "  RUNNING  process ")) << *line;
    EXPECT_EQ(std::string::npos, line->find("other host")) << "the host's own service: " << *line;
    EXPECT_EQ(std::vector<std::string>{"service " + Service() + " is stopped"},
              RunCtlIn(copy.Folder(), {L"stop", L"--all"}).out)
        << "an upgrade's stop takes it too";
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), State());
}
