// One registry value under HKEY_LOCAL_MACHINE, changed for a test and put back afterwards.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Platform/Win32/UniqueWin32Handles.h"
#include "TestFiles.h"

namespace QxWineTest {

using Qx::Platform::UniqueRegKey;

// The destructor puts back the value that was there, or removes it, and removes the keys the
// override had to create, deepest first, as long as they are empty. Tests running at the same time
// may have put something into a parent key meanwhile: that key and those above it stay.
class RegistryValueOverride {
public:
    RegistryValueOverride(std::wstring keyPath, std::wstring valueName)
        : keyPath_(std::move(keyPath)), valueName_(std::move(valueName))
    {
        for (std::wstring path = keyPath_; !KeyExists(path);) {
            createdKeys_.push_back(path);
            const std::size_t parentEnd = path.find_last_of(L'\\');
            if (parentEnd == std::wstring::npos) {
                break;
            }
            path.resize(parentEnd);
        }
        UniqueRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, KEY_QUERY_VALUE, key.out()) != ERROR_SUCCESS) {
            return;
        }
        DWORD size = 0;
        if (RegQueryValueExW(key.get(), valueName_.c_str(), nullptr, &savedType_, nullptr, &size) == ERROR_SUCCESS) {
            saved_.resize(size);
            existed_ = RegQueryValueExW(key.get(), valueName_.c_str(), nullptr, &savedType_, saved_.data(), &size) ==
                       ERROR_SUCCESS;
            saved_.resize(size);
        }
    }

    ~RegistryValueOverride()
    {
        if (existed_) {
            Set(savedType_, saved_.data(), static_cast<DWORD>(saved_.size()));
        } else {
            Remove();
        }
        for (const std::wstring& path : createdKeys_) {
            if (!IsEmptyKey(path) || RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()) != ERROR_SUCCESS) {
                break;
            }
        }
    }

    RegistryValueOverride(const RegistryValueOverride&) = delete;
    RegistryValueOverride& operator=(const RegistryValueOverride&) = delete;

    void SetDword(DWORD value) { Set(REG_DWORD, &value, sizeof(value)); }
    void SetQword(ULONGLONG value) { Set(REG_QWORD, &value, sizeof(value)); }
    void SetString(std::wstring_view value)
    {
        const std::wstring terminated(value);
        Set(REG_SZ, terminated.c_str(), static_cast<DWORD>((terminated.size() + 1) * sizeof(wchar_t)));
    }

    void Remove()
    {
        UniqueRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, KEY_SET_VALUE, key.out()) == ERROR_SUCCESS) {
            RegDeleteValueW(key.get(), valueName_.c_str());
        }
    }

private:
    static bool KeyExists(const std::wstring& path)
    {
        UniqueRegKey key;
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.out()) == ERROR_SUCCESS;
    }

    static bool IsEmptyKey(const std::wstring& path)
    {
        UniqueRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS) {
            return false;
        }
        DWORD subKeys = 0;
        DWORD values = 0;
        return RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                                nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
               subKeys == 0 && values == 0;
    }

    void Set(DWORD type, const void* data, DWORD size)
    {
        UniqueRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                                 nullptr, key.out(), nullptr))
            << ToUtf8(keyPath_);
        EXPECT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key.get(), valueName_.c_str(), 0, type, static_cast<const BYTE*>(data), size))
            << ToUtf8(keyPath_) << " " << ToUtf8(valueName_);
    }

    std::wstring keyPath_;
    std::wstring valueName_;
    std::vector<std::wstring> createdKeys_;
    bool existed_ = false;
    DWORD savedType_ = REG_NONE;
    std::vector<BYTE> saved_;
};

} // namespace QxWineTest
