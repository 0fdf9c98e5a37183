#include "HostFiles.h"

#include <windows.h>

#include <algorithm>

#include "CodeMessages.h"
#include "Common/ServiceHost/ModuleName.h"
#include "Common/UiLanguage.h"
#include "PeExports.h"
#include "ServiceManager.h"
#include "Win32Support/WholeFile.h"
#include "Win32Support/WideText.h"

namespace QxServiceCtl {

namespace {

bool HasPath(const std::wstring& name)
{
    return name.find_first_of(L"\\/:") != std::wstring::npos;
}

bool HasExtension(const std::wstring& name)
{
    const auto dot = name.rfind(L'.');
    return dot != std::wstring::npos && name.find_first_of(L"\\/", dot) == std::wstring::npos;
}

std::wstring SystemFolder()
{
    wchar_t buffer[MAX_PATH];
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : WithBackslash(std::wstring(buffer, length));
}

} // namespace

std::wstring WithBackslash(std::wstring folder)
{
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') {
        folder += L'\\';
    }
    return folder;
}

std::wstring ToolFolder()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.rfind(L'\\') + 1);
}

ModuleFile InspectModule(const std::wstring& hostFolder, const std::wstring& name)
{
    ModuleFile file;
    const std::optional<std::wstring> loadName = ModuleLoadName(name, hostFolder);
    if (!loadName) {
        file.error = ERROR_INVALID_PARAMETER;
        return file;
    }
    const std::wstring fileName = HasExtension(*loadName) ? *loadName : *loadName + L".dll";
    if (HasPath(*loadName)) {
        file.path = fileName;
    } else {
        for (const auto& folder : {hostFolder, SystemFolder()}) {
            if (!folder.empty() && Qx::Win32Support::FileExists(folder + fileName)) {
                file.path = folder + fileName;
                break;
            }
        }
    }
    if (file.path.empty() || !Qx::Win32Support::FileExists(file.path)) {
        file.error = ERROR_MOD_NOT_FOUND;
        return file;
    }
    const auto content = Qx::Win32Support::ReadWholeFile(file.path);
    if (!content) {
        file.error = GetLastError();
        return file;
    }
    const auto exports = ReadPeExports(*content);
    if (!exports || !exports->loadable) {
        file.error = ERROR_BAD_EXE_FORMAT;
        return file;
    }
    file.exports = exports->names;
    return file;
}

std::uint64_t FileTimeValue(std::uint32_t low, std::uint32_t high)
{
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

std::vector<FoundFile> FindServiceFiles(const std::wstring& folder, const std::wstring& fileName, ServiceFileRule rule)
{
    std::vector<FoundFile> found;
    WIN32_FIND_DATAW data{};
    const UniqueFindHandle find(FindFirstFileW((folder + fileName + L"*").c_str(), &data));
    if (!find) {
        return found;
    }
    do {
        const std::wstring_view name = data.cFileName;
        // The pattern also matches short names, whose long names may begin otherwise.
        const bool named = name.size() >= fileName.size() &&
                           Qx::Win32Support::EqualIgnoringCase(name.substr(0, fileName.size()), fileName);
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && named && rule(name.substr(fileName.size()))) {
            found.push_back({folder + data.cFileName,
                             FileTimeValue(data.ftCreationTime.dwLowDateTime, data.ftCreationTime.dwHighDateTime),
                             FileTimeValue(data.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwHighDateTime)});
        }
    } while (FindNextFileW(find.get(), &data) != 0);
    return found;
}

ValidationProbes HostProbes()
{
    const std::wstring folder = ToolFolder();
    return {folder, [folder](const std::wstring& name) { return InspectModule(folder, name); },
            &Qx::Win32Support::FileExists, &ManagedServiceOf, &MessageText};
}

std::wstring TempFolder()
{
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    return length == 0 || length > MAX_PATH ? std::wstring() : WithBackslash(std::wstring(buffer, length));
}

std::wstring WindowsTempFolder()
{
    wchar_t buffer[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(buffer, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : WithBackslash(std::wstring(buffer, length)) + L"Temp\\";
}

std::optional<std::vector<std::wstring>> ReadLines(const std::wstring& path, std::uint32_t& error)
{
    const auto content = Qx::Win32Support::ReadWholeFile(path);
    if (!content) {
        error = GetLastError();
        return std::nullopt;
    }
    std::vector<std::wstring> lines;
    for (std::size_t start = 0; start < content->size();) {
        const std::size_t end = std::min(content->find('\n', start), content->size());
        std::string line = content->substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::wstring wide;
        (void)Qx::Platform::Text().Utf8ToWide(line, wide);
        lines.push_back(std::move(wide));
        start = end + 1;
    }
    return lines;
}

} // namespace QxServiceCtl
