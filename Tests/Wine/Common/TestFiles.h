// Win32 file and text helpers of the Wine tests and the test modules. Free of gtest, so that the
// test modules, which are DLLs the host loads, can use them too. The helpers the stand-ins have
// already are taken from them.
#pragma once

#include <windows.h>

#include "Owned.h"
#include "StandInSupport.h"

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace QxWineTest {

using QxStandIn::ExecutableDirectory;
using QxStandIn::LocalTimeStamp;
using QxStandIn::LogsDirectory;
using QxStandIn::ModulePath;
using QxStandIn::ServiceNameOfProcess;
using QxStandIn::TimeStamp;
using QxStandIn::ToUtf8;

inline bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The whole file, shared with writers that keep it open; nullopt when it cannot be opened, with the
// error left for GetLastError.
inline std::optional<std::string> ReadWholeFile(const std::wstring& path)
{
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
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

// Whether text has the shape of TimeStamp's result.
inline bool IsTimeStamp(const std::string& text)
{
    const std::string pattern = "dddd-dd-dd dd:dd:dd.ddd";
    if (text.size() != pattern.size()) {
        return false;
    }
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (pattern[i] == 'd' ? !digit : text[i] != pattern[i]) {
            return false;
        }
    }
    return true;
}

} // namespace QxWineTest
