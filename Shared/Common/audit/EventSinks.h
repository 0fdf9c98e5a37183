// The reporters at the ends of the chain: the product's event log library, its event agent
// library and a readable dump into the module log.
//
// Both libraries are loaded from "ProductInstallPath" below the product registry root, with the
// file name appended as is: the stored path must end in a backslash. A sink that holds a library
// exists only fully initialised and releases the library when it goes.
//
// Threads: the sinks keep no mutable state after construction; Report may run on several threads
// at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Common/audit/EventRecord.h"
#include "Platform/Api/Platform.h"

// QxEventReporter.dll
using ErInitializeFunction = HRESULT (*)(const wchar_t* sourceName, const wchar_t* initParam);
using ErReportEvent3Function = HRESULT (*)(std::uint16_t type, std::uint16_t category, std::uint32_t eventId, void* sid,
                                           std::uint16_t numStrings, const wchar_t** strings, std::uint32_t alert,
                                           std::uint32_t extraParam);
using ErShutdownFunction = void (*)();

// QxEventAgentClient.dll; the handle is opaque to the host.
using EcRegisterEventSourceFunction = HRESULT (*)(const wchar_t* sourceName, void** handle);
using EcWriteEventFunction = HRESULT (*)(void* handle, std::uint16_t type, std::uint16_t category,
                                         std::uint32_t eventId, void* sid, std::uint16_t numStrings, std::uint32_t zero,
                                         const wchar_t** strings, void* nullData, std::uint64_t zero64);
using EcDeregisterEventSourceFunction = void (*)(void* handle);

// Hands events to the event log library.
class CEventLogReporter final : public IEventReporter {
public:
    static constexpr const wchar_t* kLibraryName = L"QxEventReporter.dll";

    // Loads the library, initialises it for sourceName and binds ErReportEvent3. Raises HRXEx on
    // any failure, and then nothing stays loaded.
    CEventLogReporter(const std::wstring& registryRoot, const std::wstring& sourceName, const std::wstring& initParam);
    CEventLogReporter(const CEventLogReporter&) = delete;
    CEventLogReporter& operator=(const CEventLogReporter&) = delete;
    // Calls ErShutdown when the library has it, then unloads it.
    ~CEventLogReporter() override;

    void Report(const EventRecord& event, bool alert) override;

private:
    ErReportEvent3Function m_reportEvent = nullptr;
    Qx::Platform::Library m_module;
};

// Hands events to the event agent library, which is optional.
class CEventAgentReporter final : public IEventReporter {
public:
    static constexpr const wchar_t* kLibraryName = L"QxEventAgentClient.dll";

    // A reporter with the library loaded and sourceName registered, or null when the library is
    // not installed (its load fails with 2, 3 or 126). Raises HRXEx on any other failure, and then
    // nothing stays loaded.
    static std::shared_ptr<CEventAgentReporter> Create(const std::wstring& registryRoot,
                                                       const std::wstring& sourceName);
    CEventAgentReporter(const CEventAgentReporter&) = delete;
    CEventAgentReporter& operator=(const CEventAgentReporter&) = delete;
    // Deregisters the source when the library has EcDeregisterEventSource, then unloads it.
    ~CEventAgentReporter() override;

    // The alert flag is not the agent's business.
    void Report(const EventRecord& event, bool alert) override;

private:
    CEventAgentReporter() = default;

    EcWriteEventFunction m_writeEvent = nullptr;
    Qx::Platform::Library m_module;
    void* m_sourceHandle = nullptr;
};

// Writes a readable dump of each event into the module log: a header and one line per insertion
// string, at level 1, INFO for an alert and DBG otherwise. Needs nothing outside the host, which is
// why it is also the fallback for every failure of the chain.
class CRawDumpToLogReporter final : public IEventReporter {
public:
    explicit CRawDumpToLogReporter(std::wstring sourceName) : m_sourceName(std::move(sourceName)) {}
    void Report(const EventRecord& event, bool alert) override;

private:
    std::wstring m_sourceName;
};
