#include "EventHarness.h"

#include <cstdio>
#include <regex>

namespace Qx::Testing {

namespace {

// ServiceName 7 makes the events' insertion 4 "%%7".
constexpr DWORD kDisplayNameMessage = 7;
constexpr HRESULT kEFail = static_cast<HRESULT>(0x80004005);

// The stand-in event libraries, copied from the bin folder under their own names.
constexpr const wchar_t* kEventReporter = L"QxEventReporter.dll";
constexpr const wchar_t* kEventAgent = L"QxEventAgentClient.dll";

} // namespace

::testing::AssertionResult HasOneEventDump(const LogFile& log, std::string_view source, std::string_view type,
                                           std::uint32_t eventId,
                                           const std::vector<std::pair<int, std::string>>& insertions)
{
    char id[16];
    std::snprintf(id, sizeof(id), "0x%08X", eventId);
    const std::string header =
        "Event: [" + std::string(source) + "] Type=" + std::string(type) + " Category=0x01 Id=" + id;
    if (const std::size_t count = CountRecords(log, header); count != 1) {
        return ::testing::AssertionFailure() << count << " records \"" << header << "\", expected one" << Dump(log);
    }
    const std::size_t at = FindRecord(log, header);
    const LogRecord& head = log.records[at];
    if (head.severity != "DBG") {
        return ::testing::AssertionFailure() << "\"" << header << "\" is " << head.severity << ", not DBG";
    }
    const std::string indentation = head.indentedText.substr(0, head.indentedText.size() - head.text.size());
    for (std::size_t i = 0; i < insertions.size(); ++i) {
        const std::string expected =
            indentation + "       %" + std::to_string(insertions[i].first) + "=" + insertions[i].second;
        const std::size_t index = at + 1 + i;
        if (index >= log.records.size() || log.records[index].indentedText != expected ||
            log.records[index].severity != "DBG" || log.records[index].threadId != head.threadId) {
            return ::testing::AssertionFailure() << "\"" << header << "\" is not followed by a DBG record \""
                                                 << expected << "\" on its thread" << Dump(log);
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult HasInfoExceptionRecords(const LogFile& log, std::string_view context, HRESULT hr,
                                                   std::size_t count)
{
    char code[16];
    std::snprintf(code, sizeof(code), " 0x%lX", static_cast<unsigned long>(hr));
    const std::string head = std::string(context) + ErrorDescription(hr) + "\x7F[EIP: ";
    const std::string tail = std::string("]") + code;
    static const std::regex kAddresses(R"(^(0x[0-9A-F]{16},){0,4}0x[0-9A-F]{16}$)");
    std::size_t found = 0;
    for (const LogRecord& record : log.records) {
        if (!record.text.starts_with(context)) {
            continue;
        }
        ++found;
        const std::string& text = record.text;
        if (record.severity != "INFO" || !text.starts_with(head) || !text.ends_with(tail) ||
            text.size() < head.size() + tail.size() ||
            !std::regex_match(text.substr(head.size(), text.size() - head.size() - tail.size()), kAddresses)) {
            return ::testing::AssertionFailure() << "expected an INFO record \"" << head << "<addresses>" << tail
                                                 << "\", got \"" << record.line << "\"" << Dump(log);
        }
    }
    if (found != count) {
        return ::testing::AssertionFailure()
               << found << " records \"" << context << "...\", expected " << count << Dump(log);
    }
    return ::testing::AssertionSuccess();
}

std::wstring EventTest::InstallProduct(bool withAgent, std::wstring_view eventSource)
{
    auto files = HostFiles();
    files.insert(files.end(), {{kModuleA, kModuleA}, {kModuleB, kModuleB}, {kEventReporter, kEventReporter}});
    if (withAgent) {
        files.emplace_back(kEventAgent, kEventAgent);
    }
    std::wstring folder = MakeHostFolder(L"", files);
    m_registryRoot = WriteProductInfo(folder);
    SetProductValue(L"ProductInstallPath", folder);
    if (!eventSource.empty()) {
        SetProductValue(L"EventSource", eventSource);
    }
    Install(folder);
    return folder;
}

void EventTest::SetProductValue(const wchar_t* name, std::wstring_view value)
{
    Override(m_registryRoot, name).SetString(value);
}

DWORD EventTest::RunStartAndStop()
{
    WriteParameters(kModuleA, kDisplayNameMessage);
    EXPECT_EQ(0u, Start());
    EXPECT_TRUE(WaitForState(SERVICE_RUNNING));
    const DWORD processId = ProcessId();
    EXPECT_EQ(0u, Control(SERVICE_CONTROL_STOP));
    EXPECT_TRUE(WaitForState(SERVICE_STOPPED));
    EXPECT_EQ(Hex(0), Hex(WaitForExit()));
    return processId;
}

DWORD EventTest::RunFailedStart()
{
    WriteParameters(L"QxTestModuleA.dll;QxTestModuleB.dll", kDisplayNameMessage);
    SetModuleValue(L"QxTestModuleB", L"Result", static_cast<DWORD>(kEFail));
    EXPECT_EQ(0u, Start());
    EXPECT_TRUE(WaitForState(SERVICE_STOPPED));
    EXPECT_EQ(Hex(static_cast<DWORD>(kEFail)), Hex(WaitForExit()));
    return ProcessId();
}

std::vector<std::string> EventTest::EventEntries(const wchar_t* eventsFile, DWORD processId) const
{
    const std::string content = Qx::Testing::ReadWholeFile(m_folder + L"Logs\\" + eventsFile).value_or(std::string());
    return Qx::Testing::EntriesOf(Qx::Testing::ParseEventsFile(content), processId);
}

bool EventTest::HasEventsFile(const wchar_t* eventsFile) const
{
    return GetFileAttributesW((m_folder + L"Logs\\" + eventsFile).c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace Qx::Testing
