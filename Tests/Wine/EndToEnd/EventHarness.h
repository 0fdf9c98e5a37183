// The host as a service of an installed product, for its events: a host folder of the test's own
// with the stand-in event libraries, a ProductInfo2.ini naming a product registry root of the
// test's own, and what the events reached: the libraries' events files and the raw dumps in the log.
#pragma once

#include "EventsFileLines.h"
#include "ServiceHarness.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Qx::Testing {

inline constexpr const wchar_t* kEventReporterEvents = L"QxEventReporter.events";
inline constexpr const wchar_t* kEventAgentEvents = L"QxEventAgentClient.events";

// "Event: [<source>] Type=<type> Category=0x01 Id=<id>" appears exactly once, followed directly by
// one DBG record per insertion string, "       %<n>=<text>", on its thread.
::testing::AssertionResult HasOneEventDump(const LogFile& log, std::string_view source, std::string_view type,
                                           std::uint32_t eventId,
                                           const std::vector<std::pair<int, std::string>>& insertions);

// Exactly count records start with context (a text ending in ": "), each an INFO record with the
// exception text of hr: its description, U+007F, "[EIP: " with one to five return addresses, "]"
// and " 0x%X".
::testing::AssertionResult HasInfoExceptionRecords(const LogFile& log, std::string_view context, HRESULT hr,
                                                   std::size_t count);

class EventTest : public ServiceTest {
protected:
    // Installs the service with a host folder of its own holding the host, its logger and message
    // library, test modules A and B, the event log library and, when asked, the agent library.
    // ProductInfo2.ini beside the host names the registry root SOFTWARE\Qx\E2E\<service>, whose
    // "ProductInstallPath" is the folder with its trailing backslash, and "EventSource" eventSource
    // unless that is empty. Returns the folder.
    std::wstring InstallProduct(bool withAgent, std::wstring_view eventSource = {});
    // A string value below the product registry root, for the test's duration.
    void SetProductValue(const wchar_t* name, std::wstring_view value);

    // Starts the service with module A alone and stops it again; returns the host's process id.
    DWORD RunStartAndStop();
    // Starts the service with modules A and B, of which B fails with E_FAIL; returns the host's
    // process id.
    DWORD RunFailedStart();

    // The entries of one process in one of the events files of the host folder.
    std::vector<std::string> EventEntries(const wchar_t* eventsFile, DWORD processId) const;
    bool HasEventsFile(const wchar_t* eventsFile) const;

    std::wstring m_registryRoot;
};

} // namespace Qx::Testing
