// The event log and event agent sinks on the fake libraries: where they are loaded from, what they
// pass, and how each failure leaves nothing loaded.
#include "Common/audit/EventSinks.h"

#include <gtest/gtest.h>

#include "EventSamples.h"
#include "FakeProductTest.h"
#include "ResKit/Logger/HRXEx.h"

using namespace Qx;
using namespace Qx::Testing;

namespace {

using Names = std::vector<std::string>;
using Strings = std::vector<std::optional<std::wstring>>;

constexpr HRESULT kAccessDenied = MakeHResult(0x80070005u);
constexpr HRESULT kModNotFound = MakeHResult(0x8007007Eu);
constexpr HRESULT kProcNotFound = MakeHResult(0x8007007Fu);
constexpr HRESULT kInvalidData = MakeHResult(0x8007000Du);

using EventSinkTest = FakeProductTest;

TEST_F(EventSinkTest, EventLogLibraryIsInitialisedGivenEveryFieldAndShutDown)
{
    {
        CEventLogReporter reporter(kRoot, L"Audit", L"");
        EXPECT_EQ(platform.libraries.LoadedPaths(), std::vector<std::wstring>{kReporterPath});
        ASSERT_EQ(EventLibraries().Names(), Names{"ErInitialize"});
        EXPECT_EQ(EventLibraries().Calls()[0].sourceName, L"Audit");
        EXPECT_EQ(EventLibraries().Calls()[0].initParam, L"");

        reporter.Report(StartFailedEvent(), false);
        reporter.Report(EventRecord(EventRecord::kServiceStarted), true);
        const auto calls = EventLibraries().Calls();
        ASSERT_EQ(calls.size(), 3u);
        EXPECT_EQ(calls[1].name, "ErReportEvent3");
        EXPECT_EQ(calls[1].type, 1);
        EXPECT_EQ(calls[1].category, 0x0001);
        EXPECT_EQ(calls[1].eventId, 0xC0010103u);
        EXPECT_EQ(calls[1].sid, nullptr) << "a record without a SID";
        EXPECT_EQ(calls[1].numStrings, 6);
        EXPECT_EQ(calls[1].strings,
                  (Strings{std::nullopt, std::nullopt, std::nullopt, L"%%7", std::nullopt, L"Call failed."}));
        EXPECT_EQ(calls[1].alert, 0u);
        EXPECT_EQ(calls[1].extraParam, 0xFFFFFFFFu);

        EXPECT_EQ(calls[2].type, 4);
        EXPECT_EQ(calls[2].eventId, 0x40010101u);
        EXPECT_EQ(calls[2].numStrings, 0) << "no insertion strings";
        EXPECT_TRUE(calls[2].nullArray);
        EXPECT_EQ(calls[2].alert, 1u);
        EXPECT_TRUE(platform.libraries.FreedPaths().empty());
    }
    EXPECT_EQ(EventLibraries().Names().back(), "ErShutdown");
    EXPECT_EQ(platform.libraries.FreedPaths(), std::vector<std::wstring>{kReporterPath});
    EXPECT_TRUE(logger.records.empty()) << "the sinks log nothing of their own";
}

TEST_F(EventSinkTest, EventAgentRegistersWritesWithoutTheAlertAndDeregisters)
{
    {
        const auto agent = CEventAgentReporter::Create(kRoot, L"Audit");
        ASSERT_NE(agent, nullptr);
        EXPECT_EQ(platform.libraries.LoadedPaths(), std::vector<std::wstring>{kAgentPath});
        ASSERT_EQ(EventLibraries().Names(), Names{"EcRegisterEventSource"});
        EXPECT_EQ(EventLibraries().Calls()[0].sourceName, L"Audit");

        agent->Report(StartFailedEvent(), true);
        agent->Report(EventRecord(EventRecord::kServiceStopped), false);
        const auto calls = EventLibraries().Calls();
        ASSERT_EQ(calls.size(), 3u);
        for (const auto& call : {calls[1], calls[2]}) {
            EXPECT_EQ(call.name, "EcWriteEvent");
            EXPECT_EQ(call.handle, FakeEventLibraryState::kSourceHandle);
            EXPECT_EQ(call.sid, nullptr);
            EXPECT_EQ(call.zero, 0u);
            EXPECT_EQ(call.nullData, nullptr);
            EXPECT_EQ(call.zero64, 0u);
            EXPECT_EQ(call.category, 0x0001);
        }
        EXPECT_EQ(calls[1].type, 1);
        EXPECT_EQ(calls[1].eventId, 0xC0010103u);
        EXPECT_EQ(calls[1].numStrings, 6);
        EXPECT_EQ(calls[1].strings,
                  (Strings{std::nullopt, std::nullopt, std::nullopt, L"%%7", std::nullopt, L"Call failed."}));
        EXPECT_EQ(calls[2].type, 4);
        EXPECT_EQ(calls[2].eventId, 0x40010102u);
        EXPECT_EQ(calls[2].numStrings, 0);
        EXPECT_TRUE(calls[2].nullArray);
    }
    const auto calls = EventLibraries().Calls();
    EXPECT_EQ(calls.back().name, "EcDeregisterEventSource");
    EXPECT_EQ(calls.back().handle, FakeEventLibraryState::kSourceHandle);
    EXPECT_EQ(platform.libraries.FreedPaths(), std::vector<std::wstring>{kAgentPath});
    EXPECT_TRUE(logger.records.empty());
}

TEST_F(EventSinkTest, WellFormedSidReachesBothLibrariesAndAnyOtherGoesAsNull)
{
    CEventLogReporter reporter(kRoot, L"Audit", L"");
    const auto agent = CEventAgentReporter::Create(kRoot, L"Audit");
    const std::vector<std::uint8_t> localSystem{1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
    EventRecord withSid(EventRecord::kServiceStarted);
    withSid.SetUserSid(EventUserSid(localSystem));
    EventRecord malformed(EventRecord::kServiceStarted);
    malformed.SetUserSid(EventUserSid(std::vector<std::uint8_t>{1, 3, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}));
    for (IEventReporter* sink : std::initializer_list<IEventReporter*>{&reporter, agent.get()}) {
        sink->Report(withSid, false);
        sink->Report(malformed, false);
    }
    const auto calls = EventLibraries().Calls();
    ASSERT_EQ(calls.size(), 6u);
    for (std::size_t i : {2, 4}) {
        ASSERT_NE(calls[i].sid, nullptr) << calls[i].name;
        const auto* bytes = static_cast<const std::uint8_t*>(calls[i].sid);
        EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + localSystem.size()), localSystem);
        EXPECT_EQ(calls[i + 1].sid, nullptr) << "a SID claiming three sub-authorities in the bytes of one";
    }
}

TEST_F(EventSinkTest, InstallPathIsTakenAsStoredWithTheFileNameAppended)
{
    // Unexpanded, and without a separator of the host's own.
    platform.registry.SetString(kRoot, L"ProductInstallPath", L"%ProgramFiles%\\Velquor\\", Platform::kRegExpandSz);
    AddFakeEventReporter(platform.libraries, L"%ProgramFiles%\\Velquor\\QxEventReporter.dll");
    CEventLogReporter reporter(kRoot, L"Audit", L"");
    EXPECT_EQ(platform.libraries.LoadedPaths(),
              std::vector<std::wstring>{L"%ProgramFiles%\\Velquor\\QxEventReporter.dll"});

    platform.registry.SetString(kRoot, L"ProductInstallPath", L"C:\\Velquor");
    platform.libraries.Add(L"C:\\Velquor\\QxEventAgentClient.dll");
    EXPECT_EQ(RaisedBy([] { CEventLogReporter(kRoot, L"Audit", L""); }), kModNotFound)
        << "C:\\VelquorQxEventReporter.dll does not exist";
    EXPECT_EQ(CEventAgentReporter::Create(kRoot, L"Audit"), nullptr)
        << "C:\\VelquorQxEventAgentClient.dll: not installed";
}

TEST_F(EventSinkTest, RegistryFailuresRaiseForBothLibrariesAndLoadNothing)
{
    const std::vector<RegistryCase> cases{
        {"root missing", [](FakeRegistry& registry) { (void)registry.DeleteKey(kRoot); }, kEFileNotFound},
        {"root refused", [](FakeRegistry& registry) { registry.FailOpen(kRoot, 5); }, kAccessDenied},
        {"path missing",
         [](FakeRegistry& registry) {
             (void)registry.DeleteKey(kRoot);
             registry.CreateKey(kRoot);
         },
         kEInvalidArg},
        {"path a number", [](FakeRegistry& registry) { registry.SetDword(kRoot, L"ProductInstallPath", 1); },
         kEInvalidArg},
        {"path without data",
         [](FakeRegistry& registry) { registry.SetRaw(kRoot, L"ProductInstallPath", Platform::kRegSz, {}); },
         kEInvalidArg},
        {"path unterminated",
         [](FakeRegistry& registry) {
             registry.SetRaw(kRoot, L"ProductInstallPath", Platform::kRegSz, {'C', 0, ':', 0});
         },
         kInvalidData},
    };
    for (const auto& [what, arrange, expected] : cases) {
        SCOPED_TRACE(what);
        FakePlatform fresh;
        fresh.registry.SetString(kRoot, L"ProductInstallPath", kInstallPath);
        AddFakeEventReporter(fresh.libraries, kReporterPath);
        AddFakeEventAgent(fresh.libraries, kAgentPath);
        arrange(fresh.registry);
        EXPECT_EQ(RaisedBy([] { CEventLogReporter(kRoot, L"Audit", L""); }), expected);
        EXPECT_EQ(RaisedBy([] { (void)CEventAgentReporter::Create(kRoot, L"Audit"); }), expected);
        EXPECT_TRUE(fresh.libraries.LoadedPaths().empty());
        EXPECT_EQ(fresh.registry.OpenKeyCount(), 0) << "the key is closed on every path";
    }
    EXPECT_TRUE(EventLibraries().Calls().empty());
}

TEST_F(EventSinkTest, AgentLibraryIsAbsentOnlyForItsThreeNotFoundErrors)
{
    EXPECT_NE(CEventAgentReporter::Create(kRoot, L"Audit"), nullptr);
    for (const Win32Error absent : {2u, 3u, 126u}) {
        platform.libraries.FailLoad(kAgentPath, absent);
        EXPECT_EQ(CEventAgentReporter::Create(kRoot, L"Audit"), nullptr) << absent;
    }
    for (const Win32Error broken : {5u, 193u, 1114u}) {
        platform.libraries.FailLoad(kAgentPath, broken);
        EXPECT_EQ(RaisedBy([] { (void)CEventAgentReporter::Create(kRoot, L"Audit"); }), HResultFromWin32(broken))
            << broken;
    }
    // The event log library is never optional.
    platform.libraries.FailLoad(kReporterPath, 2);
    EXPECT_EQ(RaisedBy([] { CEventLogReporter(kRoot, L"Audit", L""); }), kEFileNotFound);
    EXPECT_TRUE(logger.records.empty()) << "nothing about the agent is logged";
}

TEST_F(EventSinkTest, MissingExportsRaiseTheLastErrorAndUnloadTheLibrary)
{
    reporterLibrary->exports.erase("ErInitialize");
    EXPECT_EQ(RaisedBy([] { CEventLogReporter(kRoot, L"Audit", L""); }), kProcNotFound)
        << "a lookup that left no error behind still fails";
    platform.process.SetLastError(998);
    EXPECT_EQ(RaisedBy([] { CEventLogReporter(kRoot, L"Audit", L""); }), MakeHResult(0x800703E6u));
    platform.process.SetLastError(0);
    EXPECT_TRUE(EventLibraries().Calls().empty());

    AddFakeEventReporter(platform.libraries, kReporterPath).exports.erase("ErReportEvent3");
    EXPECT_EQ(RaisedBy([] { CEventLogReporter(kRoot, L"Audit", L""); }), kProcNotFound);
    EXPECT_EQ(EventLibraries().Names(), (Names{"ErInitialize", "ErShutdown"})) << "initialised, then shut down";

    agentLibrary->exports.erase("EcWriteEvent");
    EXPECT_EQ(RaisedBy([] { (void)CEventAgentReporter::Create(kRoot, L"Audit"); }), kProcNotFound);
    AddFakeEventAgent(platform.libraries, kAgentPath).exports.erase("EcRegisterEventSource");
    EXPECT_EQ(RaisedBy([] { (void)CEventAgentReporter::Create(kRoot, L"Audit"); }), kProcNotFound);
    EXPECT_EQ(EventLibraries().Names(), (Names{"ErInitialize", "ErShutdown"}))
        << "both agent exports resolve before registering";
    EXPECT_TRUE(platform.libraries.LivePaths().empty());
}

TEST_F(EventSinkTest, LibrariesWithoutTheirOptionalExportsAreUnloadedWithoutTheCall)
{
    reporterLibrary->exports.erase("ErShutdown");
    agentLibrary->exports.erase("EcDeregisterEventSource");
    {
        CEventLogReporter reporter(kRoot, L"Audit", L"");
        const auto agent = CEventAgentReporter::Create(kRoot, L"Audit");
        ASSERT_NE(agent, nullptr);
    }
    EXPECT_EQ(EventLibraries().Names(), (Names{"ErInitialize", "EcRegisterEventSource"}));
    EXPECT_TRUE(platform.libraries.LivePaths().empty());
}

TEST_F(EventSinkTest, FailedLibraryCallsRaiseTheirHresultWithTheThreadsErrorInformation)
{
    const auto initInfo = HostErrorInfo(L"Source not registered");
    platform.process.threadErrorInfo = initInfo;
    EventLibraries().initializeResult = kAccessDenied;
    const auto initFailure = CaughtBy([] { CEventLogReporter(kRoot, L"Audit", L""); });
    ASSERT_TRUE(initFailure.has_value()) << "ErInitialize failed";
    EXPECT_EQ(initFailure->Result(), kAccessDenied);
    EXPECT_EQ(initFailure->ErrorInfo(), initInfo);
    EventLibraries().registerResult = kEFail;
    EXPECT_EQ(RaisedBy([] { (void)CEventAgentReporter::Create(kRoot, L"Audit"); }), kEFail);
    EXPECT_EQ(EventLibraries().Names(), (Names{"ErInitialize", "EcRegisterEventSource"}))
        << "neither shut down nor deregistered: they never came up";
    EXPECT_TRUE(platform.libraries.LivePaths().empty());

    EventLibraries().Reset();
    CEventLogReporter reporter(kRoot, L"Audit", L"");
    const auto agent = CEventAgentReporter::Create(kRoot, L"Audit");
    EventLibraries().reportResult = kEFail;
    EventLibraries().writeResult = kAccessDenied;
    const auto reportInfo = HostErrorInfo(L"Event log full");
    platform.process.threadErrorInfo = reportInfo;
    const auto reportFailure = CaughtBy([&] { reporter.Report(StartFailedEvent(), false); });
    ASSERT_TRUE(reportFailure.has_value()) << "ErReportEvent3 failed";
    EXPECT_EQ(reportFailure->Result(), kEFail);
    EXPECT_EQ(reportFailure->ErrorInfo(), reportInfo);
    EXPECT_EQ(RaisedBy([&] { agent->Report(StartFailedEvent(), false); }), kAccessDenied);
}

TEST_F(EventSinkTest, MoreStringsThanTheCountCanStateAreRefusedBeforeAnyCall)
{
    CEventLogReporter reporter(kRoot, L"Audit", L"");
    const auto agent = CEventAgentReporter::Create(kRoot, L"Audit");
    EventRecord fits(EventRecord::kServiceStarted);
    fits.SetString(0xFFFF, L"last");
    reporter.Report(fits, false);
    agent->Report(fits, false);
    const auto calls = EventLibraries().Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[2].numStrings, 0xFFFF);
    EXPECT_EQ(calls[3].numStrings, 0xFFFF);
    EXPECT_EQ(calls[3].strings.back(), L"last");

    EventRecord tooMany(EventRecord::kServiceStarted);
    tooMany.SetString(0x10000, L"beyond");
    EXPECT_EQ(RaisedBy([&] { reporter.Report(tooMany, false); }), kEInvalidArg);
    EXPECT_EQ(RaisedBy([&] { agent->Report(tooMany, false); }), kEInvalidArg);
    EXPECT_EQ(EventLibraries().Calls().size(), 4u);
}

} // namespace
