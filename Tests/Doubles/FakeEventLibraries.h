// Fake QxEventReporter.dll and QxEventAgentClient.dll: libraries whose exports are plain functions
// of this process, copying every argument they are given and answering what the test sets.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "RecordedCalls.h"

namespace Qx::Testing {

// One call into a fake event library, its arguments copied; fields a call does not have stay 0.
struct EventLibraryCall {
    // "ErInitialize", "ErReportEvent3", "ErShutdown", "EcRegisterEventSource", "EcWriteEvent",
    // "EcDeregisterEventSource"
    std::string name;
    std::wstring sourceName;
    std::wstring initParam;
    void* handle = nullptr;
    std::uint16_t type = 0;
    std::uint16_t category = 0;
    std::uint32_t eventId = 0;
    const void* sid = nullptr;
    std::uint16_t numStrings = 0;
    bool nullArray = false;
    // The array's entries; a null entry is std::nullopt.
    std::vector<std::optional<std::wstring>> strings;
    std::uint32_t alert = 0;
    std::uint32_t extraParam = 0;
    std::uint32_t zero = 0;
    const void* nullData = nullptr;
    std::uint64_t zero64 = 0;
};

struct FakeEventLibraryState : RecordedCalls<EventLibraryCall> {
    // What EcRegisterEventSource hands out.
    static inline void* const kSourceHandle = reinterpret_cast<void*>(0x5EC0);

    HRESULT initializeResult = kSOk;
    HRESULT reportResult = kSOk;
    HRESULT registerResult = kSOk;
    HRESULT writeResult = kSOk;
    // Runs inside ErReportEvent3 before it returns, e.g. to hold a report while another thread works.
    std::function<void()> duringReport;

    void Reset();
    void Record(EventLibraryCall call);
};

FakeEventLibraryState& EventLibraries();

// Adds the event log library under path with ErInitialize, ErReportEvent3 and ErShutdown.
FakeModule& AddFakeEventReporter(FakeLibraries& libraries, const std::wstring& path);
// Adds the event agent library under path with EcRegisterEventSource, EcWriteEvent and
// EcDeregisterEventSource.
FakeModule& AddFakeEventAgent(FakeLibraries& libraries, const std::wstring& path);

} // namespace Qx::Testing
