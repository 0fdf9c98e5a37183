// Where the host and its files are: the tool sits beside QxServiceHost.exe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Validation.h"

namespace QxServiceCtl {

// The folder of QxServiceCtl.exe, ending in a backslash.
std::wstring ToolFolder();

inline constexpr const wchar_t* kHostFileName = L"QxServiceHost.exe";
inline constexpr const wchar_t* kMessageLibraryName = L"QxMessages.dll";

// The folder with a final separator, so that a file name can follow it directly; empty stays empty.
std::wstring WithBackslash(std::wstring folder);

// Resolves a module name as the host does (a path as it is; a bare name in the host's folder, then
// System32; ".dll" added to a name without an extension) and reads its exports from the file.
ModuleFile InspectModule(const std::wstring& hostFolder, const std::wstring& name);

ValidationProbes HostProbes();

struct FoundFile {
    std::wstring path;
    // File times, in 100 ns units since 1601.
    std::uint64_t created = 0;
    std::uint64_t written = 0;
};

std::uint64_t FileTimeValue(std::uint32_t low, std::uint32_t high);

// What must follow a service's file name for a file to be the service's.
using ServiceFileRule = bool (*)(std::wstring_view rest);

// The files in folder whose names are fileName (the service's, in its file form, matched without
// regard to case) followed by what rule accepts; folders left out.
std::vector<FoundFile> FindServiceFiles(const std::wstring& folder, const std::wstring& fileName, ServiceFileRule rule);

// The lines of a UTF-8 file, CR LF or LF; nullopt with the error when it cannot be read.
std::optional<std::vector<std::wstring>> ReadLines(const std::wstring& path, std::uint32_t& error);

// The system's temporary folder of this process and the Windows temporary folder, where the host's
// dumps go; each ends in a backslash.
std::wstring TempFolder();
std::wstring WindowsTempFolder();

} // namespace QxServiceCtl
