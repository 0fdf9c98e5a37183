// Files read whole while their writer may still hold them open (a module log, a redirected console
// output).
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "Platform/Win32/UniqueWin32Handles.h"

namespace Qx::Win32Support {

// The whole file; nullopt when it cannot be opened or read to its end, with the error left for
// GetLastError.
inline std::optional<std::string> ReadWholeFile(const std::wstring& path)
{
    const Qx::Platform::UniqueKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return std::nullopt;
    }
    std::string content;
    char chunk[65536];
    for (DWORD read = 0;; content.append(chunk, read)) {
        if (ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) == FALSE) {
            return std::nullopt;
        }
        if (read == 0) {
            return content;
        }
    }
}

// A file, not a folder, is at path.
inline bool FileExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace Qx::Win32Support
