// Operational events: the event record, the reporter interface and the reporters.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// One event to report, built on the stack, filled, reported and destroyed.
class EventRecord {
public:
    static constexpr std::uint32_t kServiceStarted = 0x40010101;
    static constexpr std::uint32_t kServiceStopped = 0x40010102;
    static constexpr std::uint32_t kServiceStartFailed = 0xC0010103;

    // Derives the type from the severity bits 31-30 and the audit bit 15, and the category
    // from bits 16 and up.
    explicit EventRecord(std::uint32_t eventId);

    // Sets the insertion string %index (1-based); a later call replaces it.
    void SetString(std::uint32_t index, std::wstring text);

    // The insertion strings as a dense array up to the highest index; gaps are null.
    [[nodiscard]] std::vector<const wchar_t*> StringArray() const;

    [[nodiscard]] std::uint32_t EventId() const { return m_eventId; }
    [[nodiscard]] std::uint32_t ExtraParam() const { return m_extraParam; }
    [[nodiscard]] std::uint16_t Type() const { return m_type; }
    [[nodiscard]] std::uint16_t Category() const { return m_category; }

private:
    std::uint32_t m_eventId;
    std::uint32_t m_extraParam = 0xFFFFFFFF;
    std::uint16_t m_type;
    std::uint16_t m_category;
    std::map<std::uint32_t, std::wstring> m_strings;
};

// Delivers events. Report may be called from several threads at once; failures raise HRXEx.
class IEventReporter {
public:
    virtual ~IEventReporter() = default;
    virtual void Report(const EventRecord& event, bool alert) = 0;
};

// Writes a readable dump of each event into the module log.
class CRawDumpToLogReporter final : public IEventReporter {
public:
    explicit CRawDumpToLogReporter(std::wstring sourceName) : m_sourceName(std::move(sourceName)) {}
    void Report(const EventRecord& event, bool alert) override;

private:
    std::wstring m_sourceName;
};

// The one entry point for the host's own events.
void ReportProductEvent(const EventRecord& event);
