#include "Common/audit/EventRecord.h"

#include <algorithm>

namespace {

constexpr std::uint32_t kAuditBit = 0x8000;

constexpr std::size_t kSidHeaderBytes = 8;
constexpr std::size_t kSubAuthorityBytes = 4;
constexpr std::uint8_t kSidRevision = 1;
constexpr std::uint8_t kMaxSubAuthorities = 15;

std::uint16_t TypeOf(std::uint32_t eventId)
{
    const std::uint32_t severity = eventId >> 30;
    if ((eventId & kAuditBit) != 0) {
        return severity == 0 ? 8 : 16;
    }
    static constexpr std::uint16_t kTypes[] = {0, 4, 2, 1};
    return kTypes[severity];
}

} // namespace

EventUserSid::EventUserSid(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < kSidHeaderBytes || bytes.size() > kMaxBytes) {
        return;
    }
    std::copy(bytes.begin(), bytes.end(), m_bytes.begin());
    m_size = bytes.size();
}

const void* EventUserSid::LibraryArgument() const
{
    if (!IsMarkedValid()) {
        return nullptr;
    }
    // The checks of IsValidSid, plus one it cannot make without the length: the libraries read
    // as many sub-authorities as the header claims, so all of them must be here.
    const std::uint8_t subAuthorities = m_bytes[1];
    if (m_bytes[0] != kSidRevision || subAuthorities > kMaxSubAuthorities ||
        m_size < kSidHeaderBytes + kSubAuthorityBytes * subAuthorities) {
        return nullptr;
    }
    return m_bytes.data();
}

EventRecord::EventRecord(std::uint32_t eventId)
    : m_eventId(eventId), m_type(TypeOf(eventId)), m_category(static_cast<std::uint16_t>((eventId >> 16) & 0x1EFF))
{
}

void EventRecord::SetString(std::uint32_t index, std::wstring text)
{
    m_strings[index] = std::move(text);
}

std::vector<const wchar_t*> EventRecord::StringArray() const
{
    std::vector<const wchar_t*> strings;
    for (const auto& [index, text] : m_strings) {
        if (index == 0) {
            continue;
        }
        strings.resize(index - 1, nullptr);
        strings.push_back(text.c_str());
    }
    return strings;
}
