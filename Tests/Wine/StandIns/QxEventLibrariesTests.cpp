// QxEventReporter.dll and QxEventAgentClient.dll as the host binds them: loaded by name, exports
// resolved, called with the host's arguments and with bad ones. What they record shows in their
// events files in Logs beside this executable (the host's folder), which other runs share: each
// test reads only what was appended after it began, by this process.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "EventsFileLines.h"
#include "StandInTestSupport.h"

namespace {

using namespace Qx::Testing;

using ErInitializeFunction = HRESULT (*)(const wchar_t*, const wchar_t*);
using ErReportEvent3Function = HRESULT (*)(std::uint16_t, std::uint16_t, std::uint32_t, void*, std::uint16_t,
                                           const wchar_t**, std::uint32_t, std::uint32_t);
using ErShutdownFunction = void (*)();
using EcRegisterEventSourceFunction = HRESULT (*)(const wchar_t*, HANDLE*);
using EcWriteEventFunction = HRESULT (*)(HANDLE, std::uint16_t, std::uint16_t, std::uint32_t, void*, std::uint16_t,
                                         std::uint32_t, const wchar_t**, void*, std::uint64_t);
using EcDeregisterEventSourceFunction = void (*)(HANDLE);

constexpr HRESULT kAlreadyInitialized = static_cast<HRESULT>(0x800704DF);

std::string Utf8(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// The host's start-failed event: %4 and %6 set, the rest gaps.
struct StartFailedStrings {
    const wchar_t* strings[6] = {nullptr, nullptr, nullptr, L"%%7", nullptr, L"Call failed."};
};

// A SID in its binary form: LocalSystem, S-1-5-18.
std::vector<BYTE> LocalSystemSid()
{
    std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(sid.size());
    EXPECT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, sid.data(), &size)) << GetLastError();
    sid.resize(size);
    return sid;
}

// Loads its own copy of a library, so each test starts with none of its state, and reads the
// library's events file from where it stood when the test began.
class EventLibraryTest : public ::testing::Test {
protected:
    EventLibraryTest(const wchar_t* library, const wchar_t* eventsFile)
        : m_library(library), m_eventsFile(LogsDirectory() + eventsFile)
    {
    }

    void SetUp() override
    {
        m_startOffset = ReadEventsBytes().size();
        m_module = LoadLibraryW(m_library);
        ASSERT_NE(m_module, nullptr) << "LoadLibraryW failed with " << GetLastError();
    }

    void TearDown() override
    {
        if (m_module != nullptr) {
            EXPECT_TRUE(FreeLibrary(m_module));
            EXPECT_EQ(GetModuleHandleW(m_library), nullptr) << "the library stayed loaded";
        }
    }

    template <typename Function>
    Function Resolve(const char* name)
    {
        const auto function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(m_module, name)));
        EXPECT_NE(function, nullptr) << name;
        return function;
    }

    // The lines this process appended since the test began.
    std::vector<EventsFileLine> NewLines()
    {
        const std::string content = ReadEventsBytes();
        std::vector<EventsFileLine> lines;
        for (EventsFileLine& line : ParseEventsFile(content.substr(std::min(m_startOffset, content.size())))) {
            if (line.processId == GetCurrentProcessId()) {
                lines.push_back(std::move(line));
            }
        }
        return lines;
    }

    std::vector<std::string> NewEntries() { return EntriesOf(NewLines(), GetCurrentProcessId()); }

    static std::wstring UniqueSource(const std::wstring& purpose)
    {
        return L"QxStandIns-" + purpose + L"-" + std::to_wstring(GetCurrentProcessId());
    }

private:
    std::string ReadEventsBytes() const
    {
        return FileExists(m_eventsFile) ? ReadFileBytes(m_eventsFile) : std::string();
    }

    const wchar_t* m_library;
    std::wstring m_eventsFile;
    std::size_t m_startOffset = 0;
    HMODULE m_module = nullptr;
};

class QxEventReporterTest : public EventLibraryTest {
protected:
    QxEventReporterTest() : EventLibraryTest(L"QxEventReporter.dll", L"QxEventReporter.events") {}

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(EventLibraryTest::SetUp());
        m_initialize = Resolve<ErInitializeFunction>("ErInitialize");
        m_report = Resolve<ErReportEvent3Function>("ErReportEvent3");
        m_shutdown = Resolve<ErShutdownFunction>("ErShutdown");
        ASSERT_TRUE(m_initialize != nullptr && m_report != nullptr && m_shutdown != nullptr);
    }

    ErInitializeFunction m_initialize = nullptr;
    ErReportEvent3Function m_report = nullptr;
    ErShutdownFunction m_shutdown = nullptr;
};

class QxEventAgentClientTest : public EventLibraryTest {
protected:
    QxEventAgentClientTest() : EventLibraryTest(L"QxEventAgentClient.dll", L"QxEventAgentClient.events") {}

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(EventLibraryTest::SetUp());
        m_register = Resolve<EcRegisterEventSourceFunction>("EcRegisterEventSource");
        m_write = Resolve<EcWriteEventFunction>("EcWriteEvent");
        m_deregister = Resolve<EcDeregisterEventSourceFunction>("EcDeregisterEventSource");
        ASSERT_TRUE(m_register != nullptr && m_write != nullptr && m_deregister != nullptr);
    }

    // EcWriteEvent with the host's constant arguments.
    HRESULT Write(HANDLE handle, std::uint16_t type, std::uint32_t eventId, void* sid, std::uint16_t count,
                  const wchar_t** strings)
    {
        return m_write(handle, type, 1, eventId, sid, count, 0, strings, nullptr, 0);
    }

    EcRegisterEventSourceFunction m_register = nullptr;
    EcWriteEventFunction m_write = nullptr;
    EcDeregisterEventSourceFunction m_deregister = nullptr;
};

// The host's own calls (its start, stop and start-failed events, with the gaps in their insertion
// strings) are checked end to end, in the events files of EventTests.cpp; here the arguments it
// never passes: an alert, an audit type, another category and an empty string.
TEST_F(QxEventReporterTest, InitialisationReportsAndShutdownAreRecordedInOrder)
{
    const std::wstring source = UniqueSource(L"ER");
    const std::string sourceUtf8 = Utf8(source);
    const std::string before = LocalTimeStamp();
    ASSERT_EQ(m_initialize(source.c_str(), L""), S_OK);
    EXPECT_EQ(m_report(EVENTLOG_INFORMATION_TYPE, 1, 0x40010101, nullptr, 0, nullptr, 1, 0), S_OK);
    const wchar_t* empty[] = {L""};
    EXPECT_EQ(m_report(EVENTLOG_AUDIT_FAILURE, 0x1EFF, 0x80018002, nullptr, 1, empty, 0, 7), S_OK);
    m_shutdown();
    const std::string after = LocalTimeStamp();

    const std::vector<EventsFileLine> lines = NewLines();
    EXPECT_EQ(EntriesOf(lines, GetCurrentProcessId()),
              (std::vector<std::string>{
                  "ErInitialize\tsource=" + sourceUtf8 + "\tinit=\trefs=1",
                  "ErReportEvent3\tsource=" + sourceUtf8 +
                      "\ttype=4\tcategory=1\tid=0x40010101\tsid=-\talert=1\textra=0x00000000\tstrings=0",
                  "ErReportEvent3\tsource=" + sourceUtf8 +
                      "\ttype=16\tcategory=7935\tid=0x80018002\tsid=-\talert=0\textra=0x00000007\tstrings=1\t%1=",
                  "ErShutdown\tsource=" + sourceUtf8 + "\trefs=0",
              }));
    for (const EventsFileLine& line : lines) {
        EXPECT_LE(before, line.time);
        EXPECT_LE(line.time, after);
    }
    EXPECT_EQ(m_report(EVENTLOG_INFORMATION_TYPE, 1, 0x40010101, nullptr, 0, nullptr, 0, 0), E_HANDLE)
        << "the source is gone";
}

TEST_F(QxEventReporterTest, BadArgumentsAreRefusedAndChangeNothing)
{
    const std::wstring source = UniqueSource(L"ERArgs");
    EXPECT_EQ(m_report(EVENTLOG_INFORMATION_TYPE, 1, 0x40010101, nullptr, 0, nullptr, 0, 0), E_HANDLE)
        << "before ErInitialize";
    EXPECT_EQ(m_initialize(nullptr, L""), E_POINTER);
    EXPECT_EQ(m_initialize(source.c_str(), nullptr), E_POINTER);
    EXPECT_EQ(m_initialize(L"", L""), E_INVALIDARG);
    m_shutdown();
    EXPECT_TRUE(NewEntries().empty()) << "nothing registered, nothing recorded";

    ASSERT_EQ(m_initialize(source.c_str(), L"param"), S_OK);
    EXPECT_EQ(m_report(EVENTLOG_INFORMATION_TYPE, 1, 0x40010101, nullptr, 2, nullptr, 0, 0), E_POINTER);
    for (const std::uint16_t type : std::initializer_list<std::uint16_t>{3, 5, 32, 0xFFFF}) {
        EXPECT_EQ(m_report(type, 1, 0x40010101, nullptr, 0, nullptr, 0, 0), E_INVALIDARG) << type;
    }
    EXPECT_EQ(m_report(EVENTLOG_INFORMATION_TYPE, 1, 0x40010101, nullptr, 0, nullptr, 2, 0), E_INVALIDARG);
    BYTE badSid[12] = {2, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
    EXPECT_EQ(m_report(EVENTLOG_INFORMATION_TYPE, 1, 0x40010101, badSid, 0, nullptr, 0, 0), E_INVALIDARG);
    EXPECT_EQ(m_initialize(UniqueSource(L"Other").c_str(), L""), kAlreadyInitialized);
    m_shutdown();
    EXPECT_EQ(NewEntries(), (std::vector<std::string>{
                                "ErInitialize\tsource=" + Utf8(source) + "\tinit=param\trefs=1",
                                "ErShutdown\tsource=" + Utf8(source) + "\trefs=0",
                            }));
}

TEST_F(QxEventReporterTest, OneSourceIsSharedByReferenceAndTheLastShutdownReleasesIt)
{
    const std::wstring source = UniqueSource(L"ERRefs");
    const std::string sourceUtf8 = Utf8(source);
    ASSERT_EQ(m_initialize(source.c_str(), L""), S_OK);
    ASSERT_EQ(m_initialize(source.c_str(), L""), S_OK);
    m_shutdown();
    EXPECT_EQ(m_report(EVENTLOG_INFORMATION_TYPE, 1, 0x40010102, nullptr, 0, nullptr, 0, 0), S_OK);
    m_shutdown();
    m_shutdown();
    EXPECT_EQ(m_report(EVENTLOG_INFORMATION_TYPE, 1, 0x40010102, nullptr, 0, nullptr, 0, 0), E_HANDLE);
    // Free again, for another name.
    const std::wstring next = UniqueSource(L"ERNext");
    EXPECT_EQ(m_initialize(next.c_str(), L""), S_OK);
    m_shutdown();
    EXPECT_EQ(NewEntries(), (std::vector<std::string>{
                                "ErInitialize\tsource=" + sourceUtf8 + "\tinit=\trefs=1",
                                "ErInitialize\tsource=" + sourceUtf8 + "\tinit=\trefs=2",
                                "ErShutdown\tsource=" + sourceUtf8 + "\trefs=1",
                                "ErReportEvent3\tsource=" + sourceUtf8 +
                                    "\ttype=4\tcategory=1\tid=0x40010102\tsid=-\talert=0\textra=0x00000000\tstrings=0",
                                "ErShutdown\tsource=" + sourceUtf8 + "\trefs=0",
                                "ErInitialize\tsource=" + Utf8(next) + "\tinit=\trefs=1",
                                "ErShutdown\tsource=" + Utf8(next) + "\trefs=0",
                            }));
}

TEST_F(QxEventReporterTest, SidAndTextsAreRecordedReadably)
{
    const std::wstring source = UniqueSource(L"ERText") + L"\t\x00C4";
    ASSERT_EQ(m_initialize(source.c_str(), L"a\\b"), S_OK);
    std::vector<BYTE> sid = LocalSystemSid();
    const wchar_t* strings[] = {L"tab\there", L"back\\slash", L"line\r\nbreak", L"\x00C4\x20AC"};
    EXPECT_EQ(m_report(EVENTLOG_SUCCESS, 0, 0x00010001, sid.data(), 4, strings, 0, 0), S_OK);
    m_shutdown();
    const std::string escapedSource = Utf8(UniqueSource(L"ERText")) + "\\t\xC3\x84";
    EXPECT_EQ(NewEntries(), (std::vector<std::string>{
                                "ErInitialize\tsource=" + escapedSource + "\tinit=a\\\\b\trefs=1",
                                "ErReportEvent3\tsource=" + escapedSource +
                                    "\ttype=0\tcategory=0\tid=0x00010001\tsid=S-1-5-18\talert=0\textra=0x00000000"
                                    "\tstrings=4\t%1=tab\\there\t%2=back\\\\slash\t%3=line\\r\\nbreak\t"
                                    "%4=\xC3\x84\xE2\x82\xAC",
                                "ErShutdown\tsource=" + escapedSource + "\trefs=0",
                            }));
}

TEST_F(QxEventReporterTest, FailReportsMakesReportsFailWithoutRecordingThem)
{
    RegistryValueOverride failReports(L"SOFTWARE\\Qx\\QxEventReporter", L"FailReports");
    const std::wstring source = UniqueSource(L"ERFail");
    ASSERT_EQ(m_initialize(source.c_str(), L""), S_OK);
    failReports.SetDword(0x80004005);
    EXPECT_EQ(m_report(EVENTLOG_INFORMATION_TYPE, 1, 0x40010101, nullptr, 0, nullptr, 0, 0), E_FAIL);
    EXPECT_EQ(m_report(3, 1, 0x40010101, nullptr, 0, nullptr, 0, 0), E_INVALIDARG) << "arguments come first";
    failReports.SetDword(1);
    EXPECT_EQ(m_report(EVENTLOG_INFORMATION_TYPE, 1, 0x40010102, nullptr, 0, nullptr, 0, 0), S_OK)
        << "a success value asks for nothing";
    failReports.Remove();
    EXPECT_EQ(m_report(EVENTLOG_INFORMATION_TYPE, 1, 0x40010103, nullptr, 0, nullptr, 0, 0), S_OK);
    m_shutdown();
    const std::vector<std::string> entries = NewEntries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_NE(entries[1].find("\tid=0x40010102\t"), std::string::npos) << entries[1];
    EXPECT_NE(entries[2].find("\tid=0x40010103\t"), std::string::npos) << entries[2];
}

TEST_F(QxEventReporterTest, ConcurrentReportsAllSucceedAsWholeLines)
{
    const std::wstring source = UniqueSource(L"ERBusy");
    ASSERT_EQ(m_initialize(source.c_str(), L""), S_OK);
    constexpr int kThreads = 4;
    constexpr int kReports = 50;
    const std::vector<int> failures = FailuresOnThreads(kThreads, [&](int t) {
        StartFailedStrings startFailed;
        int failed = 0;
        for (int i = 0; i < kReports; ++i) {
            failed += static_cast<int>(m_report(EVENTLOG_ERROR_TYPE, 1, 0xC0010103, nullptr, 6, startFailed.strings, 0,
                                                static_cast<std::uint32_t>(t)) != S_OK);
        }
        return failed;
    });
    m_shutdown();
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
    const std::vector<std::string> entries = NewEntries();
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(kThreads * kReports + 2));
    for (std::size_t i = 1; i + 1 < entries.size(); ++i) {
        const std::string expectedStart = "ErReportEvent3\tsource=" + Utf8(source) +
                                          "\ttype=1\tcategory=1\tid=0xC0010103\tsid=-\talert=0\textra=0x0000000";
        EXPECT_EQ(entries[i].substr(0, expectedStart.size()), expectedStart) << entries[i];
        EXPECT_EQ(entries[i].substr(expectedStart.size() + 1), "\tstrings=6\t%4=%%7\t%6=Call failed.") << entries[i];
    }
}

// The writes the host makes are checked end to end (EventTests.cpp); here a SID, which the host never
// passes, and the handles of several sources.
TEST_F(QxEventAgentClientTest, SourcesAreRegisteredWrittenAndDeregisteredByHandle)
{
    const std::wstring first = UniqueSource(L"EC");
    const std::wstring second = UniqueSource(L"EC2");
    HANDLE firstHandle = nullptr;
    HANDLE secondHandle = nullptr;
    ASSERT_EQ(m_register(first.c_str(), &firstHandle), S_OK);
    ASSERT_EQ(m_register(second.c_str(), &secondHandle), S_OK);
    EXPECT_EQ(firstHandle, reinterpret_cast<HANDLE>(1));
    EXPECT_EQ(secondHandle, reinterpret_cast<HANDLE>(2));

    std::vector<BYTE> sid = LocalSystemSid();
    EXPECT_EQ(Write(secondHandle, EVENTLOG_INFORMATION_TYPE, 0x40010101, sid.data(), 0, nullptr), S_OK);
    m_deregister(firstHandle);
    EXPECT_EQ(Write(firstHandle, EVENTLOG_INFORMATION_TYPE, 0x40010102, nullptr, 0, nullptr), E_HANDLE);
    m_deregister(firstHandle);
    HANDLE third = nullptr;
    ASSERT_EQ(m_register(first.c_str(), &third), S_OK);
    EXPECT_EQ(third, reinterpret_cast<HANDLE>(3)) << "handles are not reused";
    m_deregister(third);
    m_deregister(secondHandle);

    const std::string firstUtf8 = Utf8(first);
    const std::string secondUtf8 = Utf8(second);
    EXPECT_EQ(NewEntries(), (std::vector<std::string>{
                                "EcRegisterEventSource\tsource=" + firstUtf8 + "\thandle=0x00000001",
                                "EcRegisterEventSource\tsource=" + secondUtf8 + "\thandle=0x00000002",
                                "EcWriteEvent\tsource=" + secondUtf8 +
                                    "\thandle=0x00000002\ttype=4\tcategory=1\tid=0x40010101\tsid=S-1-5-18\tstrings=0",
                                "EcDeregisterEventSource\tsource=" + firstUtf8 + "\thandle=0x00000001",
                                "EcRegisterEventSource\tsource=" + firstUtf8 + "\thandle=0x00000003",
                                "EcDeregisterEventSource\tsource=" + firstUtf8 + "\thandle=0x00000003",
                                "EcDeregisterEventSource\tsource=" + secondUtf8 + "\thandle=0x00000002",
                            }));
}

TEST_F(QxEventAgentClientTest, BadArgumentsAreRefusedAndChangeNothing)
{
    HANDLE handle = nullptr;
    EXPECT_EQ(m_register(nullptr, &handle), E_POINTER);
    EXPECT_EQ(m_register(L"x", nullptr), E_POINTER);
    EXPECT_EQ(m_register(L"", &handle), E_INVALIDARG);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(Write(reinterpret_cast<HANDLE>(1), EVENTLOG_INFORMATION_TYPE, 0x40010101, nullptr, 0, nullptr), E_HANDLE);
    m_deregister(reinterpret_cast<HANDLE>(1));
    EXPECT_TRUE(NewEntries().empty());

    const std::wstring source = UniqueSource(L"ECArgs");
    ASSERT_EQ(m_register(source.c_str(), &handle), S_OK);
    int placeholder = 0;
    EXPECT_EQ(m_write(handle, EVENTLOG_INFORMATION_TYPE, 1, 0x40010101, nullptr, 0, 1, nullptr, nullptr, 0),
              E_INVALIDARG);
    EXPECT_EQ(m_write(handle, EVENTLOG_INFORMATION_TYPE, 1, 0x40010101, nullptr, 0, 0, nullptr, &placeholder, 0),
              E_INVALIDARG);
    EXPECT_EQ(m_write(handle, EVENTLOG_INFORMATION_TYPE, 1, 0x40010101, nullptr, 0, 0, nullptr, nullptr, 1),
              E_INVALIDARG);
    EXPECT_EQ(Write(handle, 3, 0x40010101, nullptr, 0, nullptr), E_INVALIDARG);
    BYTE badSid[12] = {1, 16, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
    EXPECT_EQ(Write(handle, EVENTLOG_INFORMATION_TYPE, 0x40010101, badSid, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(Write(handle, EVENTLOG_INFORMATION_TYPE, 0x40010101, nullptr, 1, nullptr), E_POINTER);
    m_deregister(handle);
    EXPECT_EQ(NewEntries(), (std::vector<std::string>{
                                "EcRegisterEventSource\tsource=" + Utf8(source) + "\thandle=0x00000001",
                                "EcDeregisterEventSource\tsource=" + Utf8(source) + "\thandle=0x00000001",
                            }));
}

TEST_F(QxEventAgentClientTest, FailWritesMakesWritesFailWithoutRecordingThem)
{
    RegistryValueOverride failWrites(L"SOFTWARE\\Qx\\QxEventAgentClient", L"FailWrites");
    const std::wstring source = UniqueSource(L"ECFail");
    HANDLE handle = nullptr;
    ASSERT_EQ(m_register(source.c_str(), &handle), S_OK);
    failWrites.SetDword(0x80070005);
    EXPECT_EQ(Write(handle, EVENTLOG_INFORMATION_TYPE, 0x40010101, nullptr, 0, nullptr), E_ACCESSDENIED);
    EXPECT_EQ(Write(reinterpret_cast<HANDLE>(9), EVENTLOG_INFORMATION_TYPE, 0x40010101, nullptr, 0, nullptr), E_HANDLE)
        << "the handle is checked first";
    failWrites.Remove();
    EXPECT_EQ(Write(handle, EVENTLOG_INFORMATION_TYPE, 0x40010102, nullptr, 0, nullptr), S_OK);
    m_deregister(handle);
    const std::vector<std::string> entries = NewEntries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_NE(entries[1].find("\tid=0x40010102\t"), std::string::npos) << entries[1];
}

} // namespace
