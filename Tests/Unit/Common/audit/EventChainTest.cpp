// The reporter chain on the doubles: the wrappers, the disabled-event list and its 31-second
// refresh on the fake tick count, the event source name, and the registry that assembles and keeps
// one chain per source. Each test builds its own registry and disabled-event state.
#include "Common/audit/EventReporters.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <future>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "Common/audit/EventSinks.h"
#include "FakeProductTest.h"
#include "ResKit/Logger/HRXEx.h"

using namespace Qx;
using namespace Qx::Testing;

namespace {

using Names = std::vector<std::string>;
using Texts = std::vector<std::wstring>;
using Ids = std::set<std::uint32_t>;

const std::wstring kStartedDump = L"Event: [Audit] Type=Information Category=0x01 Id=0x40010101";
const std::wstring kDisplayNameLine = L"       %4=%%7";

EventRecord StartedEvent()
{
    EventRecord event(EventRecord::kServiceStarted);
    event.SetString(4, L"%%7");
    return event;
}

// The log text of an HRXEx raised without return addresses, with this COM description.
std::wstring ExceptionText(const std::wstring& description, std::uint32_t hr)
{
    wchar_t code[16];
    std::swprintf(code, std::size(code), L" 0x%X", hr);
    return description + L"\x7F[EIP: ]" + code;
}

[[noreturn]] void Raise(HRESULT hr, const std::wstring& description)
{
    RaiseWithErrorInfo(hr, HostErrorInfo(description));
    throw std::logic_error("not raised");
}

// Records what it is given; throws when told to.
class RecordingReporter final : public IEventReporter {
public:
    explicit RecordingReporter(std::string name, std::vector<std::string>& journal)
        : m_name(std::move(name)), m_journal(journal)
    {
    }

    void Report(const EventRecord& event, bool alert) override
    {
        char entry[64];
        std::snprintf(entry, sizeof(entry), "%s 0x%08X%s", m_name.c_str(), static_cast<unsigned>(event.EventId()),
                      alert ? " alert" : "");
        m_journal.push_back(entry);
        if (failure) {
            failure();
        }
    }

    std::function<void()> failure;

private:
    std::string m_name;
    std::vector<std::string>& m_journal;
};

class EventChainTest : public FakeProductTest {
protected:
    EventChainTest() { platform.registry.SetString(kRoot, L"EventSource", L"Velquor Audit"); }

    std::shared_ptr<RecordingReporter> Recorder(std::string name)
    {
        return std::make_shared<RecordingReporter>(std::move(name), journal);
    }

    std::vector<std::string> journal;
    DisabledEventState disabledEvents{kRoot};
    EventReporterRegistry registry{kRoot, disabledEvents};
};

// --- Wrappers -------------------------------------------------------------------------------------

TEST_F(EventChainTest, CompositeReportsFirstThenSecondAndAFailureSkipsSecond)
{
    const auto first = Recorder("first");
    CCompositeReporter composite(first, Recorder("second"));
    composite.Report(StartedEvent(), true);
    composite.Report(EventRecord(EventRecord::kServiceStopped), false);
    EXPECT_EQ(journal,
              (Names{"first 0x40010101 alert", "second 0x40010101 alert", "first 0x40010102", "second 0x40010102"}));

    journal.clear();
    first->failure = [] { Raise(kEFail, L"first failed"); };
    EXPECT_THROW(composite.Report(StartedEvent(), false), HRXEx);
    EXPECT_EQ(journal, Names{"first 0x40010101"});
    EXPECT_TRUE(logger.records.empty()) << "no handling of its own";
}

TEST_F(EventChainTest, NoThrowLogsAFailureAndHandsTheEventToTheFallbackWithoutAlert)
{
    const auto inner = Recorder("inner");
    CNoThrowReporter reporter(inner, Recorder("fallback"));
    reporter.Report(StartedEvent(), true);
    EXPECT_EQ(journal, Names{"inner 0x40010101 alert"});

    journal.clear();
    inner->failure = [] { Raise(MakeHResult(0x80070005u), L"Access is denied."); };
    reporter.Report(StartedEvent(), true);
    EXPECT_EQ(journal, (Names{"inner 0x40010101 alert", "fallback 0x40010101"}));
    ASSERT_EQ(logger.records.size(), 1u);
    EXPECT_EQ(logger.records[0].text, L"Failed to report event: " + ExceptionText(L"Access is denied.", 0x80070005));
    EXPECT_EQ(logger.records[0].level, 1);
    EXPECT_EQ(logger.records[0].severity, L"INFO");

    journal.clear();
    inner->failure = [] { throw std::runtime_error("not ours"); };
    EXPECT_THROW(reporter.Report(StartedEvent(), false), std::runtime_error);
    EXPECT_EQ(journal, Names{"inner 0x40010101"}) << "other exceptions pass through, untouched";
}

// --- Disabled events ------------------------------------------------------------------------------

TEST_F(EventChainTest, DisabledEventsListsWholeDecimalIdentifiersAfterTheFirstColon)
{
    struct Case {
        const char* what;
        std::wstring value;
        std::wstring prefix;
        Ids ids;
    };
    const std::vector<Case> cases{
        {"example", L"x:1073807617,3221291267", L"x", {0x40010101, 0xC0010103}},
        {"no colon", L"1073807617", L"", {}},
        {"zero, empty and trailing text", L":0,,12abc,5", L"", {12, 5}},
        {"only the first colon splits", L"a:b:7,8", L"a", {8}},
        {"as wcstoul reads them",
         L"p: 9,+10,\t11 ,-1,4294967295,4294967296,99999999999999999999",
         L"p",
         {9, 10, 11, 0xFFFFFFFF}},
        {"nothing after the colon", L"x:", L"x", {}},
        {"empty", L"", L"", {}},
    };
    for (const auto& [what, value, prefix, ids] : cases) {
        SCOPED_TRACE(what);
        platform.registry.SetString(kRoot, L"DisabledEvents", value);
        DisabledEventList list{L"stale", {1, 2}};
        ReadDisabledEvents(kRoot, list);
        EXPECT_EQ(list.prefix, prefix);
        EXPECT_EQ(list.ids, ids);
    }
}

TEST_F(EventChainTest, DisabledEventsOfAnotherTypeOrUnreadableDisableNothing)
{
    const auto listOf = [&] {
        DisabledEventList list{L"stale", {1, 2}};
        ReadDisabledEvents(kRoot, list);
        return list;
    };
    platform.registry.SetString(kRoot, L"DisabledEvents", std::wstring(L"x:5\0", 4), Platform::kRegMultiSz);
    EXPECT_EQ(listOf().ids, Ids{}) << "REG_MULTI_SZ";
    EXPECT_EQ(listOf().prefix, L"");
    platform.registry.SetString(kRoot, L"DisabledEvents", L"x:5", Platform::kRegExpandSz);
    EXPECT_EQ(listOf().ids, Ids{}) << "REG_EXPAND_SZ";
    platform.registry.SetDword(kRoot, L"DisabledEvents", 5);
    EXPECT_EQ(listOf().ids, Ids{}) << "REG_DWORD";

    (void)platform.registry.DeleteKey(kRoot);
    platform.registry.CreateKey(kRoot);
    EXPECT_EQ(listOf().ids, Ids{}) << "no value";
    platform.registry.FailOpen(kRoot, 5);
    EXPECT_EQ(listOf().ids, Ids{}) << "no key";
    EXPECT_EQ(listOf().prefix, L"");
}

TEST_F(EventChainTest, DisabledEventsOfAnyLengthAreReadWholeAndNeverPastTheirData)
{
    std::wstring value = L"long:";
    Ids expected;
    for (std::uint32_t id = 1000000; id < 1002000; ++id) {
        value += std::to_wstring(id) + L",";
        expected.insert(id);
    }
    platform.registry.SetString(kRoot, L"DisabledEvents", value);
    DisabledEventList list;
    ReadDisabledEvents(kRoot, list);
    EXPECT_EQ(list.prefix, L"long");
    EXPECT_EQ(list.ids, expected);

    // Without a NUL of its own the text ends with the data.
    platform.registry.SetRaw(kRoot, L"DisabledEvents", Platform::kRegSz, {'x', 0, ':', 0, '5', 0, ',', 0, '6', 0});
    ReadDisabledEvents(kRoot, list);
    EXPECT_EQ(list.ids, (Ids{5, 6}));
}

TEST_F(EventChainTest, FilterDropsDisabledIdentifiersWhateverTheirType)
{
    platform.registry.SetString(kRoot, L"DisabledEvents", L"x:1073807617,3221291267,2147516418");
    CIgnoreDisabledAuditEventsReporter filter(Recorder("inner"), disabledEvents);
    filter.Report(StartedEvent(), false);
    filter.Report(EventRecord(EventRecord::kServiceStartFailed), true);
    filter.Report(EventRecord(0x80008002), false);
    filter.Report(EventRecord(EventRecord::kServiceStopped), true);
    EXPECT_EQ(journal, Names{"inner 0x40010102 alert"});
    EXPECT_TRUE(logger.records.empty());
}

TEST_F(EventChainTest, DisabledListIsRefreshedByTheFirstReport31000MsAfterTheLastRead)
{
    platform.registry.SetString(kRoot, L"DisabledEvents", L"x:1073807617");
    CIgnoreDisabledAuditEventsReporter filter(Recorder("inner"), disabledEvents);
    EXPECT_EQ(platform.registry.OpenCalls(), 0) << "nothing is read before the first report";

    platform.process.tickCount = 50000;
    filter.Report(StartedEvent(), false);
    EXPECT_EQ(platform.registry.OpenCalls(), 1);
    platform.registry.SetString(kRoot, L"DisabledEvents", L"x:1073807618");

    const auto reportBothAt = [&](std::uint64_t tickCount) {
        journal.clear();
        platform.process.tickCount = tickCount;
        filter.Report(StartedEvent(), false);
        filter.Report(EventRecord(EventRecord::kServiceStopped), false);
    };
    reportBothAt(50000 + 30999);
    EXPECT_EQ(platform.registry.OpenCalls(), 1) << "30 999 ms after the read: still the old list";
    EXPECT_EQ(journal, Names{"inner 0x40010102"});
    reportBothAt(50000 + 31000);
    EXPECT_EQ(platform.registry.OpenCalls(), 2) << "31 000 ms, not 30 000";
    EXPECT_EQ(journal, Names{"inner 0x40010101"});

    // The list is shared: a second filter of the same state reads nothing of its own.
    journal.clear();
    CIgnoreDisabledAuditEventsReporter other(Recorder("other"), disabledEvents);
    other.Report(EventRecord(EventRecord::kServiceStopped), false);
    EXPECT_EQ(platform.registry.OpenCalls(), 2);
    EXPECT_EQ(journal, Names{});

    // An unreadable list no longer applies.
    platform.registry.FailOpen(kRoot, 5);
    platform.process.tickCount += 31000;
    other.Report(EventRecord(EventRecord::kServiceStopped), false);
    EXPECT_EQ(journal, Names{"other 0x40010102"});
    EXPECT_TRUE(logger.records.empty()) << "refresh failures are not reported";
}

// The lock guards the refresh and the lookup only: while a report is inside the sinks, another
// thread's filter gets through.
TEST_F(EventChainTest, FilterIsNotHeldWhileTheInnerReporterRuns)
{
    const auto inner = Recorder("inner");
    CIgnoreDisabledAuditEventsReporter filter(inner, disabledEvents);
    std::future_status otherThread = std::future_status::deferred;
    inner->failure = [&] {
        auto other = std::async(std::launch::async, [&] { return disabledEvents.IsDisabled(0x40010101); });
        otherThread = other.wait_for(std::chrono::seconds(10));
    };
    filter.Report(StartedEvent(), false);
    EXPECT_EQ(otherThread, std::future_status::ready);
}

// --- Event source name ----------------------------------------------------------------------------

TEST_F(EventChainTest, EventSourceNameLosesTheProductNameAndSurroundingWhitespace)
{
    struct Case {
        std::wstring value;
        std::uint32_t type;
        std::wstring name;
    };
    const std::vector<Case> cases{
        {L"  Velquor Audit  ", Platform::kRegSz, L"Audit"},
        {L"Audit", Platform::kRegSz, L"Audit"},
        {L"VelquorVelquor\t Firewall Velquor\r\n", Platform::kRegSz, L"Firewall"},
        {L"Velquor  Network  Audit", Platform::kRegSz, L"Network  Audit"},
        {L"velquor Audit", Platform::kRegSz, L"velquor Audit"},
        {std::wstring(L"Audit\0Ignored", 13), Platform::kRegSz, L"Audit"},
        // The type is not examined.
        {L"Velquor Audit", Platform::kRegExpandSz, L"Audit"},
        {std::wstring(L"Audit\0Second\0\0", 14), Platform::kRegMultiSz, L"Audit"},
    };
    for (const auto& [value, type, name] : cases) {
        SCOPED_TRACE(std::string(value.begin(), value.end()));
        platform.registry.SetString(kRoot, L"EventSource", value, type);
        std::wstring read = L"stale";
        EXPECT_EQ(ReadEventSourceName(kRoot, read), kSOk);
        EXPECT_EQ(read, name);
    }
}

TEST_F(EventChainTest, EventSourceNameFailsWhenNothingIsLeftOrTheValueCannotBeRead)
{
    const std::vector<RegistryCase> cases{
        {"the product name alone", [](FakeRegistry& r) { r.SetString(kRoot, L"EventSource", L"Velquor"); }, kEFail},
        {"spaces only", [](FakeRegistry& r) { r.SetString(kRoot, L"EventSource", L"   "); }, kEFail},
        {"empty", [](FakeRegistry& r) { r.SetString(kRoot, L"EventSource", L""); }, kEFail},
        {"no data", [](FakeRegistry& r) { r.SetRaw(kRoot, L"EventSource", Platform::kRegSz, {}); }, kEFail},
        {"a NUL first", [](FakeRegistry& r) { r.SetString(kRoot, L"EventSource", std::wstring(L"\0Audit", 6)); },
         kEFail},
        {"260 characters and a NUL",
         [](FakeRegistry& r) { r.SetString(kRoot, L"EventSource", std::wstring(260, L'a')); },
         MakeHResult(0x800700EAu)},
        {"no value",
         [](FakeRegistry& r) {
             (void)r.DeleteKey(kRoot);
             r.CreateKey(kRoot);
         },
         kEFileNotFound},
        {"no key", [](FakeRegistry& r) { (void)r.DeleteKey(kRoot); }, kEFileNotFound},
        {"key refused", [](FakeRegistry& r) { r.FailOpen(kRoot, 5); }, MakeHResult(0x80070005u)},
    };
    for (const auto& [what, arrange, expected] : cases) {
        SCOPED_TRACE(what);
        FakePlatform fresh;
        fresh.registry.CreateKey(kRoot);
        arrange(fresh.registry);
        std::wstring name = L"stale";
        EXPECT_EQ(ReadEventSourceName(kRoot, name), expected);
        EXPECT_EQ(name, L"");
    }
}

TEST_F(EventChainTest, EventSourceNameThatFillsTheWholeBufferIsReadUpToItsEndOnly)
{
    std::wstring name;
    platform.registry.SetString(kRoot, L"EventSource", std::wstring(259, L'b'));
    EXPECT_EQ(ReadEventSourceName(kRoot, name), kSOk);
    EXPECT_EQ(name, std::wstring(259, L'b'));

    // 260 characters without a NUL fill the buffer exactly: the name ends with the buffer.
    platform.registry.SetRaw(kRoot, L"EventSource", Platform::kRegSz,
                             std::vector<std::uint8_t>(std::size_t{2} * 260, 'c'));
    EXPECT_EQ(ReadEventSourceName(kRoot, name), kSOk);
    EXPECT_EQ(name, std::wstring(260, static_cast<wchar_t>(0x6363)));
}

// --- Registry -------------------------------------------------------------------------------------

TEST_F(EventChainTest, ChainDeliversToEventLogThenAgentThenRawDumpAndIsKept)
{
    const auto chain = registry.GetReporter(L"Audit", L"");
    EXPECT_EQ(platform.libraries.LoadedPaths(), (Texts{kReporterPath, kAgentPath}));
    EXPECT_EQ(EventLibraries().Names(), (Names{"ErInitialize", "EcRegisterEventSource"}));
    EXPECT_EQ(EventLibraries().Calls()[0].sourceName, L"Audit");
    EXPECT_EQ(EventLibraries().Calls()[1].sourceName, L"Audit");

    chain->Report(StartedEvent(), false);
    EXPECT_EQ(EventLibraries().Names(),
              (Names{"ErInitialize", "EcRegisterEventSource", "ErReportEvent3", "EcWriteEvent"}));
    EXPECT_EQ(logger.Texts(), (Texts{kStartedDump, kDisplayNameLine}));

    const int opens = platform.registry.OpenCalls();
    EXPECT_EQ(registry.GetReporter(L"Audit", L"ignored"), chain) << "the same chain, by name alone";
    EXPECT_EQ(platform.registry.OpenCalls(), opens) << "without touching the registry";
    EXPECT_EQ(platform.libraries.LoadedPaths().size(), 2u);

    EXPECT_NE(registry.GetReporter(L"audit", L""), chain) << "names compare exactly";
    EXPECT_EQ(EventLibraries().Calls().back().sourceName, L"audit");
}

TEST_F(EventChainTest, ChainWithoutTheAgentLibraryIsBuiltSilently)
{
    platform.libraries.FailLoad(kAgentPath, 126);
    const auto chain = registry.GetReporter(L"Audit", L"");
    chain->Report(StartedEvent(), false);
    EXPECT_EQ(EventLibraries().Names(), (Names{"ErInitialize", "ErReportEvent3"}));
    EXPECT_EQ(logger.Texts(), (Texts{kStartedDump, kDisplayNameLine})) << "nothing about the agent is logged";
    EXPECT_EQ(platform.libraries.LivePaths(), Texts{kReporterPath});
}

TEST_F(EventChainTest, DisabledEventReachesNoSinkNotEvenTheRawDump)
{
    platform.registry.SetString(kRoot, L"DisabledEvents", L"x:1073807617");
    const auto chain = registry.GetReporter(L"Audit", L"");
    chain->Report(StartedEvent(), true);
    EXPECT_EQ(EventLibraries().Names(), (Names{"ErInitialize", "EcRegisterEventSource"}));
    EXPECT_TRUE(logger.records.empty());

    chain->Report(EventRecord(EventRecord::kServiceStopped), false);
    EXPECT_EQ(EventLibraries().Names().size(), 4u);
    EXPECT_EQ(logger.Texts(), Texts{L"Event: [Audit] Type=Information Category=0x01 Id=0x40010102"});
}

TEST_F(EventChainTest, FailingSinkGivesOneRawDumpAfterTheFailureIsLogged)
{
    const auto chain = registry.GetReporter(L"Audit", L"");
    platform.process.threadErrorInfo = HostErrorInfo(L"Event log full");
    EventLibraries().reportResult = kEFail;
    chain->Report(StartedEvent(), true);
    EXPECT_EQ(EventLibraries().Names().back(), "ErReportEvent3") << "the agent is skipped";
    EXPECT_EQ(logger.Texts(), (Texts{L"Failed to report event: " + ExceptionText(L"Event log full", 0x80004005),
                                     kStartedDump, kDisplayNameLine}))
        << "the fallback gets the event without the alert";
    EXPECT_EQ(logger.records[1].severity, L"DBG");

    logger.records.clear();
    EventLibraries().reportResult = kSOk;
    EventLibraries().writeResult = MakeHResult(0x80070005u);
    platform.process.threadErrorInfo = HostErrorInfo(L"Agent gone");
    chain->Report(StartedEvent(), false);
    EXPECT_EQ(EventLibraries().Names().back(), "EcWriteEvent");
    EXPECT_EQ(logger.Texts(), (Texts{L"Failed to report event: " + ExceptionText(L"Agent gone", 0x80070005),
                                     kStartedDump, kDisplayNameLine}))
        << "one dump: the normal path's was skipped";
}

TEST_F(EventChainTest, AlertReachesTheEventLogAndTheDumpAsInfo)
{
    const auto chain = registry.GetReporter(L"Audit", L"");
    chain->Report(StartedEvent(), true);
    EXPECT_EQ(EventLibraries().Calls()[2].alert, 1u);
    ASSERT_EQ(logger.records.size(), 2u);
    EXPECT_EQ(logger.records[0].text, kStartedDump + L" (ALERT)");
    EXPECT_EQ(logger.records[0].severity, L"INFO");
    EXPECT_EQ(logger.records[1].severity, L"INFO");
}

TEST_F(EventChainTest, UnassembledChainFallsBackToALoneRawDumpAndIsTriedAgain)
{
    platform.registry.SetString(kRoot, L"ProductInstallPath", L"C:\\Velquor");
    const auto first = registry.GetReporter(L"Audit", L"");
    ASSERT_EQ(logger.records.size(), 1u);
    EXPECT_EQ(logger.records[0].text.rfind(L"Failed to initialize event reporter: ", 0), 0u) << "logged first";
    EXPECT_TRUE(logger.records[0].text.ends_with(L"\x7F[EIP: ] 0x8007007E")) << "the load error";
    EXPECT_EQ(logger.records[0].severity, L"INFO");
    logger.records.clear();
    first->Report(StartedEvent(), true);
    EXPECT_EQ(logger.Texts(), (Texts{kStartedDump + L" (ALERT)", kDisplayNameLine})) << "a lone raw dump";
    EXPECT_TRUE(EventLibraries().Calls().empty());

    // Not kept: the next request tries again, and succeeds once the path is right.
    platform.registry.SetString(kRoot, L"ProductInstallPath", kInstallPath);
    const auto second = registry.GetReporter(L"Audit", L"");
    second->Report(StartedEvent(), false);
    EXPECT_EQ(EventLibraries().Names(),
              (Names{"ErInitialize", "EcRegisterEventSource", "ErReportEvent3", "EcWriteEvent"}));
    EXPECT_EQ(registry.GetReporter(L"Audit", L""), second);
}

TEST_F(EventChainTest, AgentFailureUndoesTheEventLogLibraryAndFallsBack)
{
    EventLibraries().registerResult = MakeHResult(0x80070005u);
    const auto chain = registry.GetReporter(L"Audit", L"");
    EXPECT_EQ(EventLibraries().Names(), (Names{"ErInitialize", "EcRegisterEventSource", "ErShutdown"}));
    EXPECT_TRUE(platform.libraries.LivePaths().empty());
    ASSERT_EQ(logger.records.size(), 1u);
    EXPECT_TRUE(logger.records[0].text.starts_with(L"Failed to initialize event reporter: "));
    EXPECT_TRUE(logger.records[0].text.ends_with(L" 0x80070005"));
}

TEST_F(EventChainTest, ConcurrentReportsThroughOneChainAllArrive)
{
    const auto chain = registry.GetReporter(L"Audit", L"");
    constexpr int kThreads = 4;
    constexpr int kReports = 50;
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kReports; ++i) {
                chain->Report(StartedEvent(), false);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const auto names = EventLibraries().Names();
    EXPECT_EQ(std::count(names.begin(), names.end(), "ErReportEvent3"), kThreads * kReports);
    EXPECT_EQ(std::count(names.begin(), names.end(), "EcWriteEvent"), kThreads * kReports);
    const auto texts = logger.Texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), kStartedDump), kThreads * kReports);
    EXPECT_EQ(platform.registry.OpenCalls(), 3) << "two library paths and one refresh";
}

// --- Default chain --------------------------------------------------------------------------------

TEST_F(EventChainTest, DefaultChainIsTheProductSourcesOnceItsNameIsRead)
{
    platform.registry.SetString(kRoot, L"EventSource", L"  Velquor Audit  ");
    const auto chain = registry.GetDefaultReporter();
    EXPECT_EQ(registry.GetReporter(L"Audit", L""), chain);
    EXPECT_EQ(EventLibraries().Calls()[0].initParam, L"");
    chain->Report(StartedEvent(), false);
    EXPECT_EQ(logger.Texts(), (Texts{kStartedDump, kDisplayNameLine}));

    // The name is kept for the life of the registry.
    platform.registry.SetString(kRoot, L"EventSource", L"Other");
    const int opens = platform.registry.OpenCalls();
    EXPECT_EQ(registry.GetDefaultReporter(), chain);
    EXPECT_EQ(registry.GetProductEventSourceName(), L"Audit");
    EXPECT_EQ(platform.registry.OpenCalls(), opens);
}

TEST_F(EventChainTest, UnreadableSourceNameGivesARawDumpWithoutNameAndIsReadAgainEachTime)
{
    platform.registry.SetString(kRoot, L"EventSource", L"Velquor");
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        logger.records.clear();
        platform.process.threadErrorInfo = HostErrorInfo(L"No source configured");
        const int opens = platform.registry.OpenCalls();
        registry.GetDefaultReporter()->Report(StartedEvent(), false);
        EXPECT_EQ(platform.registry.OpenCalls(), opens + 1);
        EXPECT_EQ(logger.Texts(), (Texts{L"Failed to get product's event source name: " +
                                             ExceptionText(L"No source configured", 0x80004005),
                                         L"Event: [] Type=Information Category=0x01 Id=0x40010101", kDisplayNameLine}));
        EXPECT_EQ(logger.records[0].severity, L"INFO");
    }
    EXPECT_TRUE(EventLibraries().Calls().empty());

    // Longer than the buffer: the read itself fails.
    logger.records.clear();
    platform.registry.SetString(kRoot, L"EventSource", std::wstring(300, L'a'));
    EXPECT_THROW((void)registry.GetProductEventSourceName(), HRXEx);
    ASSERT_EQ(logger.records.size(), 1u);
    EXPECT_TRUE(logger.records[0].text.ends_with(L" 0x800700EA"));

    platform.registry.SetString(kRoot, L"EventSource", L"Velquor Audit");
    EXPECT_EQ(registry.GetProductEventSourceName(), L"Audit");
    registry.GetDefaultReporter()->Report(StartedEvent(), false);
    EXPECT_EQ(logger.Texts().back(), kDisplayNameLine);
    EXPECT_EQ(logger.Texts()[logger.records.size() - 2], kStartedDump);
}

} // namespace
