#include "StatusFiles.h"

#include <algorithm>

namespace QxServiceCtl {

namespace {

std::optional<FoundFile> Newest(const std::vector<FoundFile>& files)
{
    const auto newest = std::ranges::max_element(files, {}, &FoundFile::written);
    return newest == files.end() ? std::nullopt : std::optional(*newest);
}

} // namespace

StatusFiles ChooseStatusFiles(const std::vector<FoundFile>& processLogs, const std::vector<FoundFile>& serviceLogs,
                              const std::vector<FoundFile>& dumps, std::optional<std::uint64_t> processStarted)
{
    StatusFiles files;
    files.log = Newest(processLogs);
    files.logOfProcess = files.log && !(processStarted && files.log->written < *processStarted);
    if (!files.logOfProcess) {
        files.log = Newest(serviceLogs);
    }
    files.runStarted = processStarted;
    if (!files.runStarted && files.log) {
        files.runStarted = files.log->created;
    }
    files.dump = Newest(dumps);
    return files;
}

std::vector<std::wstring> LastLines(const std::vector<std::wstring>& lines)
{
    const std::size_t shown = std::min(lines.size(), kLogLinesShown);
    return {lines.end() - static_cast<std::ptrdiff_t>(shown), lines.end()};
}

} // namespace QxServiceCtl
