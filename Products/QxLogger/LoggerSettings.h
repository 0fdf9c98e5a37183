// The logger's settings in the registry: the level and the number of log files kept, for every
// process or for one service.
#pragma once

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "Platform/Win32/UniqueWin32Handles.h"
#include "ResKit/Logger/LoggerSettingsNames.h"

namespace QxLogger {

inline constexpr std::uint64_t kDefaultMaxFileSize = 104857600;
inline constexpr int kDefaultLogLevel = 3;
inline constexpr DWORD kDefaultKeptLogFiles = 10;

// One of the logger's registry keys, kept open between reads: the level is read whenever a logger
// object is created and at every Init, and each open and close of a key is a round trip to the
// system. A key that is missing is looked for again at every read; one deleted while it is open is
// opened again.
class SettingsKey {
public:
    void SetPath(std::wstring path)
    {
        Close();
        path_ = std::move(path);
    }

    // A REG_DWORD of exactly four bytes; anything else counts as no value.
    std::optional<DWORD> ReadDword(const wchar_t* name)
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!key_ &&
                RegOpenKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_QUERY_VALUE, key_.out()) != ERROR_SUCCESS) {
                (void)key_.release(); // what a failed open leaves there is no key
                return std::nullopt;
            }
            DWORD type = REG_NONE;
            DWORD value = 0;
            DWORD size = sizeof(value);
            const LSTATUS status =
                RegQueryValueExW(key_.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
            if (status == ERROR_KEY_DELETED) {
                Close();
                continue;
            }
            if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value)) {
                return std::nullopt;
            }
            return value;
        }
        return std::nullopt;
    }

    void Close() { key_.reset(); }

private:
    std::wstring path_;
    Qx::Platform::UniqueRegKey key_;
};

// The settings of the process, and the service it runs: the service's own value, below
// Services\<service>, wins over the one for every process.
class Settings {
public:
    Settings() { global_.SetPath(LoggerSettingsNames::kLoggerSettingsKey); }

    void SetService(std::wstring service)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        serviceKey_.SetPath(service.empty() ? std::wstring()
                                            : LoggerSettingsNames::kLoggerServiceSettingsKey + service);
        service_ = std::move(service);
    }

    std::wstring Service()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return service_;
    }

    int LogLevel()
    {
        const std::optional<DWORD> value = Read(LoggerSettingsNames::kLogLevel);
        return value ? static_cast<int>(std::min<DWORD>(*value, INT_MAX)) : kDefaultLogLevel;
    }

    DWORD KeptLogFiles() { return Read(LoggerSettingsNames::kKeepLogFiles).value_or(kDefaultKeptLogFiles); }

    // Init reads last; a process that creates no further logger object has no use for the keys.
    void CloseKeys()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        serviceKey_.Close();
        global_.Close();
    }

private:
    std::optional<DWORD> Read(const wchar_t* name)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!service_.empty()) {
            if (const std::optional<DWORD> own = serviceKey_.ReadDword(name)) {
                return own;
            }
        }
        return global_.ReadDword(name);
    }

    std::mutex mutex_;
    std::wstring service_;
    SettingsKey serviceKey_;
    SettingsKey global_;
};

// Bit L for each level L from 1 to maxLevel that has a bit (up to 31).
inline std::uint32_t LevelMaskOf(int maxLevel)
{
    constexpr int kHighestBit = 31;
    if (maxLevel < 1) {
        return 0;
    }
    const int highest = std::min(maxLevel, kHighestBit);
    const std::uint64_t upToHighest = (std::uint64_t{1} << static_cast<unsigned>(highest + 1)) - 1u;
    return static_cast<std::uint32_t>(upToHighest) & ~1u;
}

} // namespace QxLogger
