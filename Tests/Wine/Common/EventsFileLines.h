// Reads the events files of the stand-in event libraries (Products/QxEventReporter/README.md):
// "<local time>\t<pid>\t<call>\t<name>=<value>..." per line, UTF-8, CR LF.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestFiles.h"
#include "TextLines.h"

namespace Qx::Testing {

struct EventsFileLine {
    std::string time;
    DWORD processId = 0;
    // The call and its fields as written, still escaped: "ErShutdown\tsource=Audit\trefs=0".
    std::string entry;
};

// The lines of content; a line without CR LF, a time or a process id fails the test.
inline std::vector<EventsFileLine> ParseEventsFile(const std::string& content)
{
    std::vector<EventsFileLine> lines;
    for (const std::string& line : SplitCrLfLines(content)) {
        const std::size_t firstTab = line.find('\t');
        const std::size_t secondTab = firstTab == std::string::npos ? firstTab : line.find('\t', firstTab + 1);
        const std::string pid =
            secondTab == std::string::npos ? std::string() : line.substr(firstTab + 1, secondTab - firstTab - 1);
        if (secondTab == std::string::npos || !Qx::Testing::IsTimeStamp(line.substr(0, firstTab)) || pid.empty() ||
            pid.find_first_not_of("0123456789") != std::string::npos) {
            ADD_FAILURE() << "events line without time and process id: " << line;
            continue;
        }
        lines.push_back({line.substr(0, firstTab), static_cast<DWORD>(std::stoul(pid)), line.substr(secondTab + 1)});
    }
    return lines;
}

// The entries of one process, in file order.
inline std::vector<std::string> EntriesOf(const std::vector<EventsFileLine>& lines, DWORD processId)
{
    std::vector<std::string> entries;
    for (const EventsFileLine& line : lines) {
        if (line.processId == processId) {
            entries.push_back(line.entry);
        }
    }
    return entries;
}

} // namespace Qx::Testing
