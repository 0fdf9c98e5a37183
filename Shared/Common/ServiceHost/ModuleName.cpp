#include "Common/ServiceHost/ModuleName.h"

#include <vector>

#include "Common/ServiceFileName.h"

namespace {

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

bool IsDriveLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// "C:\..." or "C:/...": the drive's root, followed by no other colon.
bool IsDrivePath(std::wstring_view name)
{
    return name.size() >= 3 && IsDriveLetter(name[0]) && name[1] == L':' && IsSeparator(name[2]) &&
           name.find(L':', 2) == std::wstring_view::npos;
}

// The steps of a relative path with "." and ".." resolved, or nothing when ".." climbs above it.
std::optional<std::vector<std::wstring_view>> ResolvedSteps(std::wstring_view path)
{
    std::vector<std::wstring_view> steps;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) {
            ++end;
        }
        const std::wstring_view step = path.substr(start, end - start);
        if (step == L"..") {
            if (steps.empty()) {
                return std::nullopt;
            }
            steps.pop_back();
        } else if (!step.empty() && step != L".") {
            steps.push_back(step);
        }
        start = end + 1;
    }
    return steps;
}

} // namespace

std::optional<std::wstring> ModuleLoadName(std::wstring_view name, std::wstring_view hostFolder)
{
    name = name.substr(0, name.find_last_not_of(L' ') + 1);
    if (name.empty() || IsDeviceFileName(name.substr(name.find_last_of(L"\\/") + 1))) {
        return std::nullopt;
    }
    if ((name.size() >= 2 && IsSeparator(name[0]) && IsSeparator(name[1])) || IsDrivePath(name)) {
        return std::wstring(name);
    }
    if (name.find(L':') != std::wstring_view::npos || IsSeparator(name[0])) {
        return std::nullopt;
    }
    if (name.find_first_of(L"\\/") == std::wstring_view::npos) {
        return std::wstring(name);
    }
    const auto steps = ResolvedSteps(name);
    if (!steps || steps->empty() || hostFolder.empty()) {
        return std::nullopt;
    }
    std::wstring path(hostFolder);
    for (std::size_t i = 0; i < steps->size(); ++i) {
        path.append(i == 0 ? L"" : L"\\").append((*steps)[i]);
    }
    return path;
}
