// An operational event and the interface of everything that delivers one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

// A user security identifier in its binary form, as an event carries it: up to 68 bytes (the
// 8-byte header and at most 15 sub-authorities) and a mark saying whether it holds one.
class EventUserSid {
public:
    static constexpr std::size_t kMaxBytes = 68;

    // Holds no SID.
    EventUserSid() = default;
    // Copies the bytes of a SID and marks it valid; bytes shorter than the header or longer than
    // kMaxBytes leave it empty.
    explicit EventUserSid(std::span<const std::uint8_t> bytes);

    [[nodiscard]] bool IsMarkedValid() const { return m_size != 0; }
    // What the event libraries get for the SID: the bytes when marked valid and well-formed
    // (revision 1, at most 15 sub-authorities, all of them present), otherwise null.
    [[nodiscard]] const void* LibraryArgument() const;

private:
    std::array<std::uint8_t, kMaxBytes> m_bytes{};
    std::size_t m_size = 0;
};

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
    // The host reports its events without a user; the tests set one to see that the sinks carry it.
    void SetUserSid(const EventUserSid& sid) { m_userSid = sid; }

    // The insertion strings as a dense array up to the highest index; gaps are null.
    [[nodiscard]] std::vector<const wchar_t*> StringArray() const;

    [[nodiscard]] std::uint32_t EventId() const { return m_eventId; }
    [[nodiscard]] std::uint32_t ExtraParam() const { return m_extraParam; }
    [[nodiscard]] std::uint16_t Type() const { return m_type; }
    [[nodiscard]] std::uint16_t Category() const { return m_category; }
    [[nodiscard]] const EventUserSid& UserSid() const { return m_userSid; }

private:
    std::uint32_t m_eventId;
    std::uint32_t m_extraParam = 0xFFFFFFFF;
    std::uint16_t m_type;
    std::uint16_t m_category;
    EventUserSid m_userSid;
    std::map<std::uint32_t, std::wstring> m_strings;
};

// Delivers events. Every reporter is owned through a shared pointer, and Report may be called
// from several threads at once; failures raise HRXEx.
class IEventReporter {
public:
    virtual ~IEventReporter() = default;
    virtual void Report(const EventRecord& event, bool alert) = 0;
};
