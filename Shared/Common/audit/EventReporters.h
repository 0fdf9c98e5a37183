// The reporter chain: wrappers around the sinks, the process-wide registry that assembles one
// chain per event source and keeps it, and ReportProductEvent, the one entry point for the host's
// own events.
//
// An assembled chain delivers an event, outermost first, through CNoThrowReporter, the filter of
// disabled events, the event log sink, the event agent sink (when installed) and the raw dump.
// Failures travel as HRXEx and end at CNoThrowReporter, which hands the event to the raw dump.
//
// Threads: reports may come from any thread. The registry and the disabled-event state each have a
// lock of their own, held only for short lookups, stores and the registry refresh, never while a
// sink runs.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

#include "Common/audit/EventRecord.h"
#include "Platform/Api/HResult.h"

// Reports to first, then to second. A failure of first skips second.
class CCompositeReporter final : public IEventReporter {
public:
    CCompositeReporter(std::shared_ptr<IEventReporter> first, std::shared_ptr<IEventReporter> second)
        : m_first(std::move(first)), m_second(std::move(second))
    {
    }
    void Report(const EventRecord& event, bool alert) override;

private:
    std::shared_ptr<IEventReporter> m_first;
    std::shared_ptr<IEventReporter> m_second;
};

// What "DisabledEvents" (e.g. "x:1073807617,3221291267") lists: a prefix, which nothing uses,
// and whole event identifiers in decimal.
struct DisabledEventList {
    std::wstring prefix;
    std::set<std::uint32_t> ids;
};

// Replaces list with "DisabledEvents" below registryRoot. A value that cannot be read, is no
// REG_SZ or has no ':' disables nothing.
void ReadDisabledEvents(const std::wstring& registryRoot, DisabledEventList& list);

// The disabled identifiers shared by every filter, read at the first filtered report and again by
// the first report 31000 ms or more after the last read; there is no timer.
class DisabledEventState {
public:
    static constexpr std::uint64_t kRefreshIntervalMs = 31000;

    explicit DisabledEventState(std::wstring registryRoot) : m_registryRoot(std::move(registryRoot)) {}
    DisabledEventState(const DisabledEventState&) = delete;
    DisabledEventState& operator=(const DisabledEventState&) = delete;

    // The state of the product's registry root, constructed once, whatever the thread.
    static DisabledEventState& Instance();

    // Refreshes the list when due, then tells whether eventId is in it. Concurrent callers wait
    // for a refresh in progress.
    bool IsDisabled(std::uint32_t eventId);

private:
    const std::wstring m_registryRoot;
    std::mutex m_lock;
    DisabledEventList m_list;         // guarded by m_lock
    std::uint64_t m_lastReadTick = 0; // guarded by m_lock; 0 until the first read
};

// Drops events whose identifier is disabled, whatever their type; forwards the others.
class CIgnoreDisabledAuditEventsReporter final : public IEventReporter {
public:
    CIgnoreDisabledAuditEventsReporter(std::shared_ptr<IEventReporter> inner, DisabledEventState& disabledEvents)
        : m_inner(std::move(inner)), m_disabledEvents(disabledEvents)
    {
    }
    void Report(const EventRecord& event, bool alert) override;

private:
    std::shared_ptr<IEventReporter> m_inner;
    DisabledEventState& m_disabledEvents;
};

// Contains failures of inner: an HRXEx is logged and the event goes to fallback, without the
// alert flag. Other exceptions pass through.
class CNoThrowReporter final : public IEventReporter {
public:
    CNoThrowReporter(std::shared_ptr<IEventReporter> inner, std::shared_ptr<IEventReporter> fallback)
        : m_inner(std::move(inner)), m_fallback(std::move(fallback))
    {
    }
    void Report(const EventRecord& event, bool alert) override;

private:
    std::shared_ptr<IEventReporter> m_inner;
    std::shared_ptr<IEventReporter> m_fallback;
};

// Reads "EventSource" below registryRoot: at most 259 characters and a NUL, or exactly 260
// without one. The product name "Velquor" is removed and whitespace trimmed; E_FAIL when nothing
// is left, HRESULT_FROM_WIN32 of a registry failure (ERROR_MORE_DATA for a longer value).
HRESULT ReadEventSourceName(const std::wstring& registryRoot, std::wstring& name);

// Assembles one chain per event source name, on first request, and keeps it for the life of the
// process; a chain that cannot be assembled is replaced by a lone raw dump, not kept, and tried
// again at the next request.
class EventReporterRegistry {
public:
    EventReporterRegistry(std::wstring registryRoot, DisabledEventState& disabledEvents)
        : m_registryRoot(std::move(registryRoot)), m_disabledEvents(disabledEvents)
    {
    }
    EventReporterRegistry(const EventReporterRegistry&) = delete;
    EventReporterRegistry& operator=(const EventReporterRegistry&) = delete;

    // The registry of the product's registry root, constructed once, whatever the thread.
    static EventReporterRegistry& Instance();

    // The chain for sourceName (compared exactly); initParam goes to the event log library.
    std::shared_ptr<IEventReporter> GetReporter(const std::wstring& sourceName, const std::wstring& initParam);
    // The chain for the product's event source, or a lone raw dump without a source name while
    // that name cannot be read.
    std::shared_ptr<IEventReporter> GetDefaultReporter();
    // The product's event source name, read until a read succeeds and kept from then on. Logs
    // and raises HRXEx while it cannot be read.
    std::wstring GetProductEventSourceName();

private:
    const std::wstring m_registryRoot;
    DisabledEventState& m_disabledEvents;
    std::mutex m_lock;
    std::unordered_map<std::wstring, std::shared_ptr<IEventReporter>> m_chains; // guarded by m_lock
    std::wstring m_productSourceName;                                           // guarded by m_lock
};

// Delivers one of the host's own events through the product's chain, never as an alert.
void ReportProductEvent(const EventRecord& event);
