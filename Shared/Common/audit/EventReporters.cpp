#include "Common/audit/EventReporters.h"

#include <algorithm>
#include <array>
#include <cwctype>
#include <string_view>
#include <vector>

#include "Common/ConfigurationNames.h"
#include "Common/ProductInfo.h"
#include "Common/audit/EventSinks.h"
#include "Platform/Api/Platform.h"
#include "Platform/Api/ProcessWide.h"
#include "ResKit/Logger/HRXEx.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Platform;

namespace {

constexpr std::size_t kEventSourceCapacity = 260;
constexpr std::size_t kDisabledEventsInitialUnits = 256;
constexpr std::uint64_t kMaxIdentifier = 0xFFFFFFFF;

// The text of a string value up to its first NUL, never beyond the units the read returned nor
// beyond the buffer: a value that fills the buffer carries no NUL of its own.
std::wstring TextUpToNul(const wchar_t* buffer, std::size_t capacity, std::uint32_t bytes)
{
    const std::size_t units = std::min<std::size_t>(capacity, bytes / sizeof(wchar_t));
    const wchar_t* const end = buffer + units;
    return std::wstring(buffer, std::find(buffer, end, L'\0'));
}

std::wstring Trimmed(const std::wstring& text)
{
    const auto isSpace = [](wchar_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; };
    const auto first = std::find_if_not(text.begin(), text.end(), isSpace);
    const auto last = std::find_if_not(text.rbegin(), std::make_reverse_iterator(first), isSpace).base();
    return std::wstring(first, last);
}

// wcstoul with base 10 where unsigned long has 32 bits, as on Windows: leading whitespace and a
// sign are accepted, digits are read up to the first other character, a negative number wraps
// around and a number beyond 32 bits gives 0xFFFFFFFF.
std::uint32_t ParseIdentifier(std::wstring_view piece)
{
    std::size_t at = 0;
    while (at < piece.size() && std::iswspace(static_cast<wint_t>(piece[at])) != 0) {
        ++at;
    }
    bool negative = false;
    if (at < piece.size() && (piece[at] == L'+' || piece[at] == L'-')) {
        negative = piece[at] == L'-';
        ++at;
    }
    std::uint64_t value = 0;
    for (; at < piece.size() && piece[at] >= L'0' && piece[at] <= L'9'; ++at) {
        value = std::min<std::uint64_t>(value * 10 + static_cast<std::uint64_t>(piece[at] - L'0'), kMaxIdentifier + 1);
    }
    if (value > kMaxIdentifier) {
        return static_cast<std::uint32_t>(kMaxIdentifier);
    }
    const auto identifier = static_cast<std::uint32_t>(value);
    return negative ? 0u - identifier : identifier;
}

// The REG_SZ text of "DisabledEvents", read whole whatever its length; empty for another type.
bool ReadDisabledEventsText(NativeHandle key, std::wstring& text)
{
    std::vector<wchar_t> buffer(kDisabledEventsInitialUnits);
    std::uint32_t type = kRegNone;
    std::uint32_t bytes = 0;
    for (;;) {
        bytes = static_cast<std::uint32_t>(buffer.size() * sizeof(wchar_t));
        const Win32Error error =
            Registry().QueryValue(key, ConfigurationNames::kDisabledEvents, &type, buffer.data(), &bytes);
        if (error == kErrorSuccess) {
            break;
        }
        if (error != kErrorMoreData) {
            return false;
        }
        // The value may have grown since the size was reported; growing at least twofold keeps
        // the loop finite whatever the answers.
        const std::size_t reportedUnits = (bytes + sizeof(wchar_t) - 1) / sizeof(wchar_t);
        buffer.resize(std::max(reportedUnits, buffer.size() * 2));
    }
    text = type == kRegSz ? TextUpToNul(buffer.data(), buffer.size(), bytes) : std::wstring();
    return true;
}

} // namespace

void CCompositeReporter::Report(const EventRecord& event, bool alert)
{
    m_first->Report(event, alert);
    m_second->Report(event, alert);
}

void ReadDisabledEvents(const std::wstring& registryRoot, DisabledEventList& list)
{
    list = DisabledEventList{};
    RegistryKey key;
    if (Registry().OpenKey(registryRoot, kKeyRead, key) != kErrorSuccess) {
        return;
    }
    std::wstring text;
    if (!ReadDisabledEventsText(key.get(), text)) {
        return;
    }
    const std::size_t colon = text.find(L':');
    if (colon == std::wstring::npos) {
        return;
    }
    list.prefix = text.substr(0, colon);
    const std::wstring_view identifiers = std::wstring_view(text).substr(colon + 1);
    std::size_t start = 0;
    while (start <= identifiers.size()) {
        const std::size_t comma = std::min(identifiers.find(L',', start), identifiers.size());
        const std::wstring_view piece = identifiers.substr(start, comma - start);
        if (!piece.empty()) {
            if (const std::uint32_t id = ParseIdentifier(piece); id != 0) {
                list.ids.insert(id);
            }
        }
        start = comma + 1;
    }
}

DisabledEventState& DisabledEventState::Instance()
{
    static ProcessWide<DisabledEventState> state(
        [] { return std::make_unique<DisabledEventState>(GetProductInfo().RegistryRoot()); });
    return state.Get();
}

bool DisabledEventState::IsDisabled(std::uint32_t eventId)
{
    std::lock_guard lock(m_lock);
    if (m_lastReadTick == 0 || Process().TickCount64() - m_lastReadTick >= kRefreshIntervalMs) {
        ReadDisabledEvents(m_registryRoot, m_list);
        m_lastReadTick = Process().TickCount64();
    }
    return m_list.ids.contains(eventId);
}

void CIgnoreDisabledAuditEventsReporter::Report(const EventRecord& event, bool alert)
{
    if (!m_disabledEvents.IsDisabled(event.EventId())) {
        m_inner->Report(event, alert);
    }
}

void CNoThrowReporter::Report(const EventRecord& event, bool alert)
{
    try {
        m_inner->Report(event, alert);
    } catch (const HRXEx& error) {
        QX_LOG(1, "Failed to report event: ", error);
        m_fallback->Report(event, false);
    }
}

HRESULT ReadEventSourceName(const std::wstring& registryRoot, std::wstring& name)
{
    name.clear();
    RegistryKey key;
    if (const Win32Error error = Registry().OpenKey(registryRoot, kKeyRead, key); error != kErrorSuccess) {
        return HResultFromWin32(error);
    }
    std::array<wchar_t, kEventSourceCapacity> buffer{};
    auto bytes = static_cast<std::uint32_t>(sizeof(buffer));
    if (const Win32Error error =
            Registry().QueryValue(key.get(), ConfigurationNames::kEventSource, nullptr, buffer.data(), &bytes);
        error != kErrorSuccess) {
        return HResultFromWin32(error);
    }
    std::wstring text = TextUpToNul(buffer.data(), buffer.size(), bytes);
    if (!text.empty()) {
        const std::wstring_view productName = ProductInfo::kProductName;
        for (auto at = text.find(productName); at != std::wstring::npos; at = text.find(productName, at)) {
            text.erase(at, productName.size());
        }
        text = Trimmed(text);
    }
    if (text.empty()) {
        return kEFail;
    }
    name = std::move(text);
    return kSOk;
}

EventReporterRegistry& EventReporterRegistry::Instance()
{
    static ProcessWide<EventReporterRegistry> registry([] {
        return std::make_unique<EventReporterRegistry>(GetProductInfo().RegistryRoot(), DisabledEventState::Instance());
    });
    return registry.Get();
}

std::shared_ptr<IEventReporter> EventReporterRegistry::GetReporter(const std::wstring& sourceName,
                                                                   const std::wstring& initParam)
{
    {
        std::lock_guard lock(m_lock);
        if (const auto found = m_chains.find(sourceName); found != m_chains.end()) {
            return found->second;
        }
    }
    const auto rawDump = std::make_shared<CRawDumpToLogReporter>(sourceName);
    try {
        std::shared_ptr<IEventReporter> chain =
            std::make_shared<CEventLogReporter>(m_registryRoot, sourceName, initParam);
        if (auto agent = CEventAgentReporter::Create(m_registryRoot, sourceName)) {
            chain = std::make_shared<CCompositeReporter>(std::move(chain), std::move(agent));
        }
        chain = std::make_shared<CCompositeReporter>(std::move(chain), rawDump);
        chain = std::make_shared<CIgnoreDisabledAuditEventsReporter>(std::move(chain), m_disabledEvents);
        chain = std::make_shared<CNoThrowReporter>(std::move(chain), rawDump);
        std::lock_guard lock(m_lock);
        m_chains[sourceName] = chain;
        return chain;
    } catch (const HRXEx& error) {
        QX_LOG(1, "Failed to initialize event reporter: ", error);
        return rawDump;
    }
}

std::shared_ptr<IEventReporter> EventReporterRegistry::GetDefaultReporter()
{
    std::wstring name;
    {
        std::lock_guard lock(m_lock);
        name = m_productSourceName;
    }
    if (name.empty()) {
        try {
            name = GetProductEventSourceName();
        } catch (const HRXEx&) {
            return std::make_shared<CRawDumpToLogReporter>(L"");
        }
    }
    return GetReporter(name, L"");
}

std::wstring EventReporterRegistry::GetProductEventSourceName()
{
    {
        std::lock_guard lock(m_lock);
        if (!m_productSourceName.empty()) {
            return m_productSourceName;
        }
    }
    try {
        std::wstring name;
        RaiseIfFailed(ReadEventSourceName(m_registryRoot, name));
        std::lock_guard lock(m_lock);
        if (m_productSourceName.empty() && !name.empty()) {
            m_productSourceName = name;
        }
        return name;
    } catch (const HRXEx& error) {
        QX_LOG(1, "Failed to get product's event source name: ", error);
        throw;
    }
}

void ReportProductEvent(const EventRecord& event)
{
    EventReporterRegistry::Instance().GetDefaultReporter()->Report(event, false);
}
