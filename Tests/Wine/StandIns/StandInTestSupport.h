// Files and registry values for the tests of the watchdog agent, the log compressor and the module
// libraries: everything lives beside this executable (the host's folder) or under HKEY_LOCAL_MACHINE
// and is put back as it was.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "TestFiles.h"
#include "TextLines.h"

namespace QxStandIns {

using QxWineTest::ExecutableDirectory;
using QxWineTest::FileExists;
using QxWineTest::IsTimeStamp;
using QxWineTest::LocalTimeStamp;
using QxWineTest::LogsDirectory;
using QxWineTest::ReadFileBytes;
using QxWineTest::SplitCrLfLines;
using QxWineTest::TimeStamp;

inline std::wstring TempDirectory()
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(static_cast<DWORD>(std::size(path)), path);
    return std::wstring(path, length);
}

inline void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    EXPECT_EQ(written, bytes.size());
    CloseHandle(file);
}

inline long long QpcNow()
{
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

// One registry value under HKEY_LOCAL_MACHINE, changed for a test: the destructor puts back the
// value that was there, or removes it, and removes the keys it had to create once they are empty.
// Other tests and test executables share these keys, so nothing else is touched.
class RegistryValueOverride {
public:
    RegistryValueOverride(std::wstring keyPath, std::wstring valueName)
        : keyPath_(std::move(keyPath)), valueName_(std::move(valueName))
    {
        std::wstring path = keyPath_;
        while (!KeyExists(path)) {
            createdKeys_.push_back(path);
            const std::size_t parentEnd = path.find_last_of(L'\\');
            if (parentEnd == std::wstring::npos) {
                break;
            }
            path.resize(parentEnd);
        }
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
            return;
        }
        DWORD size = 0;
        if (RegQueryValueExW(key, valueName_.c_str(), nullptr, &savedType_, nullptr, &size) == ERROR_SUCCESS) {
            saved_.resize(size);
            existed_ =
                RegQueryValueExW(key, valueName_.c_str(), nullptr, &savedType_, saved_.data(), &size) == ERROR_SUCCESS;
            saved_.resize(size);
        }
        RegCloseKey(key);
    }

    ~RegistryValueOverride()
    {
        if (existed_) {
            Set(savedType_, saved_.data(), static_cast<DWORD>(saved_.size()));
        } else {
            Remove();
        }
        for (const std::wstring& path : createdKeys_) {
            if (!IsEmptyKey(path)) {
                break;
            }
            const LSTATUS status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
            EXPECT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << status;
        }
    }

    RegistryValueOverride(const RegistryValueOverride&) = delete;
    RegistryValueOverride& operator=(const RegistryValueOverride&) = delete;

    void SetDword(DWORD value) { Set(REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)); }

    void SetString(const std::wstring& value)
    {
        Set(REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }

    void Remove()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, valueName_.c_str());
            RegCloseKey(key);
        }
    }

private:
    static bool KeyExists(const std::wstring& path)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(key);
        return true;
    }

    static bool IsEmptyKey(const std::wstring& path)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        DWORD subKeys = 0;
        DWORD values = 0;
        const LSTATUS status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                                                nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(key);
        return status == ERROR_SUCCESS && subKeys == 0 && values == 0;
    }

    void Set(DWORD type, const BYTE* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key, valueName_.c_str(), 0, type, data, size), ERROR_SUCCESS);
        RegCloseKey(key);
    }

    std::wstring keyPath_;
    std::wstring valueName_;
    std::vector<std::wstring> createdKeys_;
    bool existed_ = false;
    DWORD savedType_ = REG_NONE;
    std::vector<BYTE> saved_;
};

} // namespace QxStandIns
