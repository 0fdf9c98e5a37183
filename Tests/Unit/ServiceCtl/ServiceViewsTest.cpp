// What start, stop and list decide from the service manager's answers, which files status shows,
// and how config shows a configuration and its changes.
#include <gtest/gtest.h>

#include "InstallRules.h"
#include "Lifecycle.h"
#include "ServiceConfigView.h"
#include "StatusFiles.h"

using namespace QxServiceCtl;

// Wine keeps the state of a service whose process ended: the process decides.
TEST(ServiceViews, ProgressTowardsRunningOrStopped)
{
    struct Case {
        Goal goal;
        std::uint32_t state;
        bool processEnded;
        Progress progress;
    };
    const Case cases[] = {
        {Goal::Running, kStateRunning, false, Progress::Reached},
        {Goal::Running, kStateStartPending, false, Progress::Waiting},
        {Goal::Running, kStateStopPending, false, Progress::Waiting},
        {Goal::Running, kStateStopped, false, Progress::Failed},
        {Goal::Running, kStateRunning, true, Progress::Failed},
        {Goal::Running, kStateStartPending, true, Progress::Failed},
        {Goal::Stopped, kStateStopped, false, Progress::Reached},
        {Goal::Stopped, kStateStopPending, false, Progress::Waiting},
        {Goal::Stopped, kStateRunning, false, Progress::Waiting},
        {Goal::Stopped, kStateRunning, true, Progress::Reached},
    };
    for (const Case& given : cases) {
        EXPECT_EQ(given.progress, ProgressTowards(given.goal, given.state, given.processEnded))
            << static_cast<int>(given.goal) << " from state " << given.state << (given.processEnded ? ", ended" : "");
    }
}

TEST(ServiceViews, ListTellsThisHostsServicesFromAnotherCopysAndFromOtherPrograms)
{
    constexpr const wchar_t* kHost = L"C:\\Qx\\QxServiceHost.exe";
    EXPECT_EQ(HostOwner::ThisHost, HostOwnerOf(L"\"C:\\Qx\\QxServiceHost.exe\" -name=Svc", kHost, L"Svc"));
    EXPECT_EQ(HostOwner::OtherHost, HostOwnerOf(L"\"D:\\Old\\qxservicehost.exe\" -name=Svc", kHost, L"Svc"));
    const SameFileRule sameFile = [](std::wstring_view, std::wstring_view) { return true; };
    EXPECT_EQ(HostOwner::ThisHost, HostOwnerOf(L"C:\\QX~1\\QXSERV~1.EXE -name=Svc", kHost, L"Svc", sameFile))
        << "the host's file under another spelling";
    EXPECT_EQ(HostOwner::OtherHost, HostOwnerOf(L"C:\\Qx\\QxServiceHost.exe -name=Other", kHost, L"Svc"));
    EXPECT_EQ(HostOwner::None, HostOwnerOf(L"C:\\Windows\\notepad.exe", kHost, L"Svc"));
    EXPECT_EQ(HostOwner::None, HostOwnerOf(L"C:\\Qx\\NotQxServiceHost.exe -name=Svc", kHost, L"Svc"));
    EXPECT_EQ(HostOwner::None, HostOwnerOf(L"\"unclosed", kHost, L"Svc"));
}

TEST(ServiceViews, ConfigShowsEveryValueWithItsMeaningAndTheChangesBetweenTwo)
{
    ServiceConfigView before;
    before.startType = 2;
    before.delayedStart = true;
    before.account = L"LocalSystem";
    before.dependencies = {L"Dep", L"+Group"};
    before.recovery = {{1, 60000}, {0, 0}};
    before.resetAfterSeconds = 86400;
    before.modules.text = L"A.dll;B.dll";
    before.displayNameId.text = L"3";
    before.displayNameText = L"Qx Demo Service";
    before.selfDefence = {std::nullopt, false};
    ServiceConfigView after = before;
    after.startType = 3;
    after.recovery.clear();
    after.modules.text = L"A.dll";
    after.displayNameText.clear();

    std::vector<std::wstring> lines;
    for (const ConfigLine& line : ConfigLines(before)) {
        lines.push_back(line.label + L": " + line.value);
    }
    EXPECT_EQ(
        (std::vector<std::wstring>{L"command line: ", L"start: delayed", L"account: LocalSystem", L"display name: ",
                                   L"description: none", L"dependencies: Dep, +Group",
                                   L"recovery: restart after 60 s, none after 0 s; failure count reset after 86400 s",
                                   L"ServiceModules: A.dll;B.dll", L"ServiceName: 3 (\"Qx Demo Service\" in events)",
                                   L"SDEnabled: unreadable: self-defence off",
                                   L"LogCompressor: not set: log compressor off", L"StopAccept: not set"}),
        lines);
    EXPECT_EQ((std::vector<std::wstring>{L"start: delayed -> demand",
                                         L"recovery: restart after 60 s, none after 0 s; failure count reset after "
                                         L"86400 s -> none",
                                         L"ServiceModules: A.dll;B.dll -> A.dll",
                                         L"ServiceName: 3 (\"Qx Demo Service\" in events) -> 3"}),
              ChangedLines(ConfigLines(before), ConfigLines(after)));
    JsonObject json;
    AddConfigJson(json, after);
    EXPECT_NE(std::wstring::npos, json.Text().find(L"\"startType\":\"demand\""));
    EXPECT_NE(std::wstring::npos, json.Text().find(L"\"recoveryActions\":[],\"resetAfterSeconds\":86400,\"modules\":"
                                                   L"\"A.dll\",\"moduleList\":[\"A.dll\"],\"displayNameId\":3,"));
}

// Times are file times; the process started at 100.
TEST(ServiceViews, StatusShowsTheLogOfTheProcessUnlessItsIdIsReusedAndTheDumpOfTheRun)
{
    const FoundFile ownLog{L"S(7).log", 100, 150};
    const FoundFile reusedIdLog{L"S(7).log", 10, 20};
    const FoundFile newest{L"S(9).log", 60, 90};
    const std::vector<FoundFile> serviceLogs{{L"S(5).log", 30, 40}, newest, {L"S(8).log", 50, 80}};
    const FoundFile oldDump{L"S_a.dmp", 50, 50};
    const FoundFile runDump{L"S_b.dmp", 120, 120};

    const StatusFiles own = ChooseStatusFiles({ownLog}, serviceLogs, {oldDump, runDump}, 100);
    EXPECT_EQ(L"S(7).log", own.log->path);
    EXPECT_TRUE(own.logOfProcess);
    EXPECT_EQ(L"S_b.dmp", own.dump->path);
    EXPECT_TRUE(own.DumpOfRun());

    const StatusFiles reused = ChooseStatusFiles({reusedIdLog}, serviceLogs, {oldDump}, 100);
    EXPECT_FALSE(reused.logOfProcess);
    EXPECT_EQ(L"S(9).log", reused.log->path) << "the newest written, not the newest created";
    EXPECT_FALSE(reused.DumpOfRun()) << "written before the process started";

    const StatusFiles unknownStart = ChooseStatusFiles({}, serviceLogs, {oldDump}, std::nullopt);
    EXPECT_EQ(60u, unknownStart.runStarted) << "the log's creation stands for the run's start";
    EXPECT_FALSE(unknownStart.DumpOfRun());
    EXPECT_FALSE(ChooseStatusFiles({}, {}, {}, 100).log);

    const std::vector<std::wstring> lines(12, L"x");
    EXPECT_EQ(kLogLinesShown, LastLines(lines).size());
    EXPECT_EQ(2u, LastLines({L"a", L"b"}).size());
}
