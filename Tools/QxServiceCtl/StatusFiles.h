// Which of a service's files status shows: the module log of its process, else its newest, and its
// newest crash dump, each judged against the start of the last run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "HostFiles.h"

namespace QxServiceCtl {

inline constexpr std::size_t kLogLinesShown = 10;

struct StatusFiles {
    std::optional<FoundFile> log;
    // The log is the process's own, by its id, not merely the newest.
    bool logOfProcess = false;
    // When the last run began: its process's start, else its log's creation.
    std::optional<std::uint64_t> runStarted;
    std::optional<FoundFile> dump;

    [[nodiscard]] bool DumpOfRun() const { return dump && runStarted && dump->written >= *runStarted; }
};

// processLogs: the files named as the log of the service's process (none while its id is unknown);
// serviceLogs: every module log of the service; dumps: its crash dumps in every folder searched;
// processStarted: when its process started, when that is known. The process's own log counts
// unless it is older than the process, whose id is then a reused one.
StatusFiles ChooseStatusFiles(const std::vector<FoundFile>& processLogs, const std::vector<FoundFile>& serviceLogs,
                              const std::vector<FoundFile>& dumps, std::optional<std::uint64_t> processStarted);

// The last kLogLinesShown lines.
std::vector<std::wstring> LastLines(const std::vector<std::wstring>& lines);

} // namespace QxServiceCtl
