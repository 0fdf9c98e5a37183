// The host's events as an installed product sees them: the start, stop and failed-start events
// reach the event log library, the event agent library and the raw dump in the module log, with
// their identifiers, types, categories and insertion strings; a disabled identifier reaches none
// of them; an absent agent is no failure; a failing sink gives way to one raw dump.
//
// Each test runs the host from a folder of its own, with a ProductInfo2.ini of its own, so no other
// host in the bin folder finds a product registry root.
#include "EventHarness.h"

using namespace Qx::Testing;

namespace {

using EventReporting = EventTest;

constexpr HRESULT kEFail = static_cast<HRESULT>(0x80004005);
constexpr HRESULT kModNotFound = static_cast<HRESULT>(0x8007007E);

// The source "Audit" once the product name is gone.
constexpr const wchar_t* kEventSource = L"Velquor Audit";
const std::string kDisplayNameInsertion = "%%7";

// The insertion strings of the three events as the events files record them.
const std::string kServiceStrings = "strings=4\t%4=%%7";
std::string StartFailedStrings(const std::string& description)
{
    return "strings=6\t%4=%%7\t%6=" + description;
}

// What the event log library records of an event of source Audit.
std::string LibraryReport(int type, std::string_view id, const std::string& strings)
{
    return "ErReportEvent3\tsource=Audit\ttype=" + std::to_string(type) + "\tcategory=1\tid=" + std::string(id) +
           "\tsid=-\talert=0\textra=0xFFFFFFFF\t" + strings;
}

// What the agent library records of an event of source Audit, registered first in its process.
std::string AgentWrite(int type, std::string_view id, const std::string& strings)
{
    return "EcWriteEvent\tsource=Audit\thandle=0x00000001\ttype=" + std::to_string(type) +
           "\tcategory=1\tid=" + std::string(id) + "\tsid=-\t" + strings;
}

// The start and the stop event, each dumped once into the log with the display name's insertion.
void ExpectStartAndStopDumps(const LogFile& log, std::string_view source = "Audit", CheckSite where = CheckSite::Here())
{
    for (const std::uint32_t eventId : {0x40010101u, 0x40010102u}) {
        if (const auto dump = HasOneEventDump(log, source, "Information", eventId, {{4, kDisplayNameInsertion}});
            !dump) {
            ADD_FAILURE_AT(where.file, where.line) << dump.message();
        }
    }
}

const std::string kReporterUp = "ErInitialize\tsource=Audit\tinit=\trefs=1";
const std::string kReporterDown = "ErShutdown\tsource=Audit\trefs=0";
const std::string kAgentUp = "EcRegisterEventSource\tsource=Audit\thandle=0x00000001";
const std::string kAgentDown = "EcDeregisterEventSource\tsource=Audit\thandle=0x00000001";

// A start, a stop and a failed start: each process brings both libraries up for the source that
// "EventSource" names once the product name and the surrounding spaces are gone, reports its events
// through them and the raw dump, and takes them down again as it exits.
TEST_F(EventReporting, StartStopAndFailedStartReachBothLibrariesAndTheRawDump)
{
    ASSERT_NO_FATAL_FAILURE(InstallProduct(true, L"  Velquor Audit  "));

    const DWORD running = RunStartAndStop();
    ASSERT_NE(0u, running);
    const LogFile runLog = ReadServiceLog();
    ExpectStartAndStopDumps(runLog);
    EXPECT_TRUE(HasRecordsInOrder(runLog, {"LogEvent: Service started/resumed",
                                           "Event: [Audit] Type=Information Category=0x01 Id=0x40010101",
                                           "Shutting down ServiceModule QxTestModuleA.dll",
                                           "Event: [Audit] Type=Information Category=0x01 Id=0x40010102"}));
    EXPECT_TRUE(HasNoRecordStartingWith(runLog, "Failed to "));

    const DWORD failing = RunFailedStart();
    ASSERT_NE(0u, failing);
    const LogFile failLog = ReadServiceLog();
    const std::string description = ErrorDescription(kEFail);
    EXPECT_TRUE(HasOneEventDump(failLog, "Audit", "Error", 0xC0010103, {{4, kDisplayNameInsertion}, {6, description}}));
    EXPECT_TRUE(HasNoRecordStartingWith(failLog, "Failed to "));
    EXPECT_TRUE(HasNoRecordStartingWith(failLog, "Event: [Audit] Type=Information"));

    EXPECT_EQ(EventEntries(kEventReporterEvents, running),
              (std::vector<std::string>{kReporterUp, LibraryReport(4, "0x40010101", kServiceStrings),
                                        LibraryReport(4, "0x40010102", kServiceStrings), kReporterDown}));
    EXPECT_EQ(EventEntries(kEventReporterEvents, failing),
              (std::vector<std::string>{kReporterUp, LibraryReport(1, "0xC0010103", StartFailedStrings(description)),
                                        kReporterDown}));
    EXPECT_EQ(EventEntries(kEventAgentEvents, running),
              (std::vector<std::string>{kAgentUp, AgentWrite(4, "0x40010101", kServiceStrings),
                                        AgentWrite(4, "0x40010102", kServiceStrings), kAgentDown}));
    EXPECT_EQ(
        EventEntries(kEventAgentEvents, failing),
        (std::vector<std::string>{kAgentUp, AgentWrite(1, "0xC0010103", StartFailedStrings(description)), kAgentDown}));
}

// "DisabledEvents" lists the start event by its decimal identifier: it reaches neither library nor
// the log, while the stop event still reaches all three.
TEST_F(EventReporting, DisabledEventReachesNothing)
{
    ASSERT_NO_FATAL_FAILURE(InstallProduct(true, kEventSource));
    SetProductValue(L"DisabledEvents", L"x:1073807617");

    const DWORD processId = RunStartAndStop();
    ASSERT_NE(0u, processId);
    const LogFile log = ReadServiceLog();
    EXPECT_TRUE(HasNoRecordStartingWith(log, "Event: [Audit] Type=Information Category=0x01 Id=0x40010101"));
    EXPECT_TRUE(HasOneEventDump(log, "Audit", "Information", 0x40010102, {{4, kDisplayNameInsertion}}));
    EXPECT_TRUE(
        HasRecordsInOrder(log, {"LogEvent: Service started/resumed", "Exiting CServiceModule::PreMessageLoop"}));
    EXPECT_EQ(EventEntries(kEventReporterEvents, processId),
              (std::vector<std::string>{kReporterUp, LibraryReport(4, "0x40010102", kServiceStrings), kReporterDown}));
    EXPECT_EQ(EventEntries(kEventAgentEvents, processId),
              (std::vector<std::string>{kAgentUp, AgentWrite(4, "0x40010102", kServiceStrings), kAgentDown}));
}

// Without QxEventAgentClient.dll in the install folder the chain is the event log library and the
// raw dump, and nothing says so.
TEST_F(EventReporting, MissingAgentLibraryIsSilent)
{
    ASSERT_NO_FATAL_FAILURE(InstallProduct(false, kEventSource));

    const DWORD processId = RunStartAndStop();
    ASSERT_NE(0u, processId);
    const LogFile log = ReadServiceLog();
    ExpectStartAndStopDumps(log);
    EXPECT_TRUE(HasNoRecordStartingWith(log, "Failed to "));
    EXPECT_EQ(EventEntries(kEventReporterEvents, processId),
              (std::vector<std::string>{kReporterUp, LibraryReport(4, "0x40010101", kServiceStrings),
                                        LibraryReport(4, "0x40010102", kServiceStrings), kReporterDown}));
    EXPECT_FALSE(HasEventsFile(kEventAgentEvents));
}

// ErReportEvent3 fails: each event is logged as not reported, skips the agent, and reaches the log
// as one raw dump from the fallback; the service itself starts and stops as usual.
TEST_F(EventReporting, FailingEventLogGivesOneRawDumpPerEvent)
{
    ASSERT_NO_FATAL_FAILURE(InstallProduct(true, kEventSource));
    // The stand-in's test hook, in the subkey it reads in this service's process.
    Override(L"SOFTWARE\\Qx\\QxEventReporter\\" + m_service, L"FailReports").SetDword(static_cast<DWORD>(kEFail));

    const DWORD processId = RunStartAndStop();
    ASSERT_NE(0u, processId);
    const LogFile log = ReadServiceLog();
    EXPECT_TRUE(HasInfoExceptionRecords(log, "Failed to report event: ", kEFail, 2));
    ExpectStartAndStopDumps(log);
    const std::size_t started = FindRecord(log, "Event: [Audit] Type=Information Category=0x01 Id=0x40010101");
    ASSERT_LT(started, log.records.size());
    ASSERT_GT(started, 0u);
    EXPECT_TRUE(log.records[started - 1].text.starts_with("Failed to report event: "))
        << "the failure comes first, then the fallback's dump" << Dump(log);
    EXPECT_EQ(EventEntries(kEventReporterEvents, processId), (std::vector<std::string>{kReporterUp, kReporterDown}));
    EXPECT_EQ(EventEntries(kEventAgentEvents, processId), (std::vector<std::string>{kAgentUp, kAgentDown}));
}

// A chain that cannot be assembled, or a source name that cannot be read, leaves a lone raw dump:
// an install path without its trailing backslash names no event log library, and an "EventSource"
// of the product name alone names no source.
TEST_F(EventReporting, UnusableProductSettingsLeaveTheRawDumpAlone)
{
    const std::wstring folder = InstallProduct(true, kEventSource);
    SetProductValue(L"ProductInstallPath", folder.substr(0, folder.size() - 1));

    const DWORD withoutSeparator = RunStartAndStop();
    ASSERT_NE(0u, withoutSeparator);
    const LogFile pathLog = ReadServiceLog();
    EXPECT_TRUE(HasInfoExceptionRecords(pathLog, "Failed to initialize event reporter: ", kModNotFound, 2))
        << "not kept: tried again for the stop";
    ExpectStartAndStopDumps(pathLog);

    SetProductValue(L"ProductInstallPath", folder);
    SetProductValue(L"EventSource", L"Velquor");
    const DWORD withoutSource = RunStartAndStop();
    ASSERT_NE(0u, withoutSource);
    const LogFile sourceLog = ReadServiceLog();
    EXPECT_TRUE(HasInfoExceptionRecords(sourceLog, "Failed to get product's event source name: ", kEFail, 2));
    ExpectStartAndStopDumps(sourceLog, "");

    EXPECT_FALSE(HasEventsFile(kEventReporterEvents));
    EXPECT_FALSE(HasEventsFile(kEventAgentEvents));
}

} // namespace
