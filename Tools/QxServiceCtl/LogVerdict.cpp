#include "LogVerdict.h"

#include <array>

namespace QxServiceCtl {

namespace {

constexpr std::size_t kTimeLength = 23; // "2026-12-10 13:54:50.769"
constexpr wchar_t kDiagnosticSeparator = L'\x7F';

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

// "2026-12-10 13:54:50.769": digits where digits belong and the separators between them.
bool IsLogTime(std::wstring_view time)
{
    constexpr std::wstring_view kPattern = L"0000-00-00 00:00:00.000";
    if (time.size() != kPattern.size()) {
        return false;
    }
    for (std::size_t i = 0; i < kPattern.size(); ++i) {
        if (kPattern[i] == L'0' ? !IsDigit(time[i]) : time[i] != kPattern[i]) {
            return false;
        }
    }
    return true;
}

// Cuts the next word off text, skipping the spaces before it.
std::wstring_view NextWord(std::wstring_view& text)
{
    const std::size_t start = text.find_first_not_of(L' ');
    if (start == std::wstring_view::npos) {
        text = {};
        return {};
    }
    const std::size_t end = std::min(text.find(L' ', start), text.size());
    const std::wstring_view word = text.substr(start, end - start);
    text.remove_prefix(end);
    return word;
}

// The text between before and after, after is searched from the end; empty without both.
std::wstring Between(std::wstring_view text, std::wstring_view before, std::wstring_view after)
{
    const std::size_t start = text.find(before);
    const std::size_t end = text.rfind(after);
    if (start == std::wstring_view::npos || end == std::wstring_view::npos || end < start + before.size()) {
        return {};
    }
    return std::wstring(text.substr(start + before.size(), end - start - before.size()));
}

std::wstring ReadablePart(std::wstring_view text)
{
    return std::wstring(text.substr(0, text.find(kDiagnosticSeparator)));
}

// The failure a record tells, with its rank: 0 tells most; nullopt for a record that tells none.
struct RankedFailure {
    int rank = 0;
    std::wstring module;
    std::wstring failure;
};

std::optional<RankedFailure> FailureOf(const LogLine& line)
{
    const std::wstring_view text = line.text;
    if (line.severity != L"ERROR") {
        return std::nullopt;
    }
    if (text.starts_with(L"Crash")) {
        std::wstring module = Between(text, L" thrown in ", L" on thread ");
        return RankedFailure{0, module.empty() ? Between(text, L" at ", L"+0x") : module, std::wstring(text)};
    }
    if (text.starts_with(L"ServiceModule ") && text.find(L" failed the start after ") != std::wstring_view::npos) {
        const std::wstring module = Between(text, L"ServiceModule ", L" failed the start after ");
        const std::size_t what = text.find(L" ms: ");
        const std::size_t file = text.rfind(L"; file ");
        if (what != std::wstring_view::npos && file != std::wstring_view::npos && file > what) {
            return RankedFailure{1, module, module + L": " + std::wstring(text.substr(what + 5, file - what - 5))};
        }
    }
    if (text.starts_with(L"Failed to load ")) {
        return RankedFailure{2, Between(text, L"Failed to load ", L" Error:"), std::wstring(text)};
    }
    if (text.starts_with(L"Starting service modules failed: ") || text.starts_with(L"WinMain failed: ")) {
        return RankedFailure{3, {}, ReadablePart(text)};
    }
    return std::nullopt;
}

// The records after which no module entry is running any more.
bool EndsEveryEntry(std::wstring_view text)
{
    constexpr std::array<std::wstring_view, 5> kEnds = {L"Exiting CServiceModule::Initialization",
                                                        L"Exiting CServiceModule::PostMessageLoop", L"Event: ",
                                                        L"LogEvent: Service stopped", L"Crash"};
    for (const std::wstring_view end : kEnds) {
        if (text.starts_with(end)) {
            return true;
        }
    }
    return text.starts_with(L"ServiceModule ") && (text.find(L" failed the start after ") != std::wstring_view::npos ||
                                                   text.find(L" initialization failed") != std::wstring_view::npos);
}

void FollowEntries(const LogLine& line, LogVerdict& verdict)
{
    constexpr std::wstring_view kInit = L"Init ServiceModule ";
    constexpr std::wstring_view kShutdown = L"Shutting down ServiceModule ";
    if (line.text.starts_with(kInit)) {
        verdict.pendingModule = line.text.substr(kInit.size());
        verdict.pendingEntry = L"SmInitialize";
        verdict.pendingSince = line.time;
    } else if (line.text.starts_with(kShutdown)) {
        verdict.pendingModule = line.text.substr(kShutdown.size());
        verdict.pendingEntry = L"SmShutdown";
        verdict.pendingSince = line.time;
    } else if (EndsEveryEntry(line.text)) {
        verdict.pendingModule.clear();
        verdict.pendingEntry.clear();
        verdict.pendingSince.clear();
    }
}

// Days since 1970-01-01 of a date of the Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day)
{
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

std::int64_t Number(std::wstring_view digits)
{
    std::int64_t value = 0;
    for (const wchar_t c : digits) {
        value = value * 10 + (c - L'0');
    }
    return value;
}

std::optional<std::int64_t> SecondsOf(std::wstring_view time)
{
    if (!IsLogTime(time)) {
        return std::nullopt;
    }
    const std::int64_t days =
        DaysFromCivil(Number(time.substr(0, 4)), Number(time.substr(5, 2)), Number(time.substr(8, 2)));
    constexpr std::int64_t kSecondsPerDay = 86400;
    return days * kSecondsPerDay + Number(time.substr(11, 2)) * 3600 + Number(time.substr(14, 2)) * 60 +
           Number(time.substr(17, 2));
}

} // namespace

std::optional<LogLine> ParseLogLine(std::wstring_view line)
{
    if (line.size() < kTimeLength || !IsLogTime(line.substr(0, kTimeLength))) {
        return std::nullopt;
    }
    LogLine parsed;
    parsed.time = line.substr(0, kTimeLength);
    std::wstring_view rest = line.substr(kTimeLength);
    (void)NextWord(rest); // process id
    (void)NextWord(rest); // thread id
    parsed.severity = NextWord(rest);
    rest = rest.substr(std::min(rest.find_first_not_of(L' '), rest.size()));
    if (const std::size_t source = rest.rfind(L"  ["); source != std::wstring_view::npos && rest.ends_with(L']')) {
        rest = rest.substr(0, source);
    }
    parsed.text = rest;
    return parsed;
}

LogVerdict ReadLogVerdict(const std::vector<std::wstring>& lines)
{
    LogVerdict verdict;
    std::optional<RankedFailure> best;
    for (const std::wstring& text : lines) {
        const std::optional<LogLine> line = ParseLogLine(text);
        if (!line) {
            continue;
        }
        FollowEntries(*line, verdict);
        if (auto failure = FailureOf(*line); failure && (!best || failure->rank < best->rank)) {
            best = std::move(failure);
        }
    }
    if (best) {
        verdict.failedModule = best->module;
        verdict.failure = best->failure;
    }
    return verdict;
}

std::optional<std::int64_t> SecondsBetween(std::wstring_view earlier, std::wstring_view later)
{
    const auto from = SecondsOf(earlier);
    const auto to = SecondsOf(later);
    if (!from || !to) {
        return std::nullopt;
    }
    return *to - *from;
}

} // namespace QxServiceCtl
