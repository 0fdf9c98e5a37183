// Reading a file whole while its writer may still hold it open (a module log, a redirected console
// output). Header only, so that the Wine tests and their test modules read files the same way.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "Platform/Win32/UniqueWin32Handles.h"

namespace QxServiceCtl {

// The whole file; nullopt when it cannot be opened, with the error left for GetLastError.
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
    DWORD read = 0;
    while (ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read != 0) {
        content.append(chunk, read);
    }
    return content;
}

} // namespace QxServiceCtl
