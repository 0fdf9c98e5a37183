// What a module log says about its run's failure, or about a module that has not returned: status
// shows it before the log's last lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace QxServiceCtl {

// One line as the logger writes it: "<yyyy-mm-dd> <hh:mm:ss.mmm> <pid> <tid> <severity> <text>",
// the text indented by its trace depth and followed by "  [<file>:<line>]" when it has a source.
struct LogLine {
    std::wstring time; // "2026-12-10 13:54:50.769"
    std::wstring severity;
    std::wstring text; // without indentation and source
};

// Empty when the line is no record (a line the logger did not write).
std::optional<LogLine> ParseLogLine(std::wstring_view line);

struct LogVerdict {
    // The module the failure names (as its list or its file names it); empty when none is named.
    std::wstring failedModule;
    // The failure in one line: what the module returned or threw, where the process crashed (with
    // the dump), which library could not be loaded, or the start's own failure record.
    std::wstring failure;
    // The module whose SmInitialize or SmShutdown was entered and has not returned by the log's
    // end, the entry's name, and the time of its record.
    std::wstring pendingModule;
    std::wstring pendingEntry;
    std::wstring pendingSince;
};

// Reads the records of one process's module log. The most telling failure wins: a crash, then a
// module that failed the start, then a library that could not be loaded, then the start's or the
// process's own failure record. The pending entry needs LogLevel 3, whose records mark each call.
LogVerdict ReadLogVerdict(const std::vector<std::wstring>& lines);

// Seconds from earlier to later, both as LogLine::time; empty when either is not such a time.
std::optional<std::int64_t> SecondsBetween(std::wstring_view earlier, std::wstring_view later);

} // namespace QxServiceCtl
