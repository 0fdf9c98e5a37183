#include "LogFiles.h"

#include <algorithm>
#include <vector>

#include "Common/ServiceFileSuffixes.h"
#include "Platform/Win32/UniqueWin32Handles.h"
#include "Win32Support/WholeFile.h"
#include "Win32Support/WideText.h"

namespace QxLogger {

using Qx::Win32Support::EqualIgnoringCase;

std::wstring ServiceOfLogName(std::wstring_view logName)
{
    const std::size_t open = logName.find_last_of(L'(');
    if (open == std::wstring_view::npos || open == 0) {
        return {};
    }
    std::wstring_view rest = logName.substr(open + 1);
    if (!ServiceFileSuffixes::SkipDigits(rest) || !EqualIgnoringCase(rest, L").log")) {
        return {};
    }
    return std::wstring(logName.substr(0, open));
}

// A file of the service's module log: "<service>(<pid>).log", or a rotated "<service>(<pid>).<n>.log".
// Another service whose name merely starts with this one never matches, since the digits must
// follow the parenthesis directly.
namespace {

bool IsLogOfService(std::wstring_view fileName, std::wstring_view service)
{
    return fileName.size() > service.size() && EqualIgnoringCase(fileName.substr(0, service.size()), service) &&
           ServiceFileSuffixes::IsModuleLogSuffix(fileName.substr(service.size()));
}

} // namespace

void PruneLogs(const std::wstring& folder, const std::wstring& service, const std::wstring& currentPath, DWORD keep)
{
    if (keep == 0 || service.empty()) {
        return;
    }
    struct LogFile {
        std::wstring path;
        ULONGLONG written;
        bool current;
    };
    std::vector<LogFile> files;
    WIN32_FIND_DATAW found{};
    // Only the service's own names: the folder holds the logs of every service beside the host, and
    // going through all of them would make every start slower as they pile up.
    {
        const Qx::Platform::UniqueFindHandle search(FindFirstFileW((folder + service + L"(*").c_str(), &found));
        if (!search) {
            return;
        }
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !IsLogOfService(found.cFileName, service)) {
                continue;
            }
            std::wstring path = folder + found.cFileName;
            const bool current = EqualIgnoringCase(path, currentPath);
            const ULONGLONG written = (static_cast<ULONGLONG>(found.ftLastWriteTime.dwHighDateTime) << 32u) |
                                      found.ftLastWriteTime.dwLowDateTime;
            files.push_back({std::move(path), written, current});
        } while (FindNextFileW(search.get(), &found) != 0);
    }
    std::sort(files.begin(), files.end(), [](const LogFile& left, const LogFile& right) {
        if (left.current != right.current) {
            return left.current;
        }
        if (left.written != right.written) {
            return left.written > right.written;
        }
        return left.path > right.path;
    });
    for (std::size_t i = keep; i < files.size(); ++i) {
        DeleteFileW(files[i].path.c_str());
    }
}

std::wstring FreeRotationPath(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    const std::size_t dot = path.find_last_of(L'.');
    const bool hasExtension = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
    const std::wstring stem = hasExtension ? path.substr(0, dot) : path;
    const std::wstring extension = hasExtension ? path.substr(dot) : L".log";
    for (unsigned long n = 1;; ++n) {
        std::wstring candidate = stem;
        candidate.append(L".").append(std::to_wstring(n)).append(extension);
        if (!Qx::Win32Support::FileExists(candidate)) {
            return candidate;
        }
    }
}

} // namespace QxLogger
