#include "Common/audit/EventReporters.h"

#include <cstdio>

#include "ResKit/Logger/LogUtils.h"

namespace {

constexpr std::uint32_t kAuditBit = 0x8000;

std::uint16_t TypeOf(std::uint32_t eventId)
{
    const std::uint32_t severity = eventId >> 30;
    if ((eventId & kAuditBit) != 0) {
        return severity == 0 ? 8 : 16;
    }
    static constexpr std::uint16_t kTypes[] = {0, 4, 2, 1};
    return kTypes[severity];
}

const wchar_t* TypeName(std::uint16_t type)
{
    switch (type) {
    case 0: return L"Success";
    case 1: return L"Error";
    case 2: return L"Warning";
    case 4: return L"Information";
    case 8: return L"SuccessAudit";
    case 16: return L"FailureAudit";
    default: return L"Unknown";
    }
}

} // namespace

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

void CRawDumpToLogReporter::Report(const EventRecord& event, bool alert)
{
    const int severity = alert ? LogUtils::kSeverityInfo : LogUtils::kSeverityDbg;
    wchar_t header[64];
    std::swprintf(header, std::size(header), L"] Type=%ls Category=0x%02X Id=0x%08X%ls", TypeName(event.Type()),
                  static_cast<unsigned>(event.Category()), static_cast<unsigned>(event.EventId()),
                  alert ? L" (ALERT)" : L"");
    const std::wstring headerText = L"Event: [" + m_sourceName + header;
    QX_LOG_AT(1, severity, headerText);

    const auto strings = event.StringArray();
    for (std::size_t i = 0; i < strings.size(); ++i) {
        if (strings[i] == nullptr) {
            continue;
        }
        const std::wstring line = L"       %" + std::to_wstring(i + 1) + L"=" + strings[i];
        QX_LOG_AT(1, severity, line);
    }
}

void ReportProductEvent(const EventRecord& event)
{
    CRawDumpToLogReporter(L"").Report(event, false);
}
