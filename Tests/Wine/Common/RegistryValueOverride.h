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

namespace Qx::Testing {

using Qx::Platform::UniqueRegKey;

// The destructor puts back the value that was there, or removes it, and removes the keys the
// override had to create, deepest first, as long as they are empty. Tests running at the same time
// may have put something into a parent key meanwhile: that key and those above it stay.
class RegistryValueOverride {
public:
    RegistryValueOverride(std::wstring keyPath, std::wstring valueName)
        : m_keyPath(std::move(keyPath)), m_valueName(std::move(valueName))
    {
        for (std::wstring path = m_keyPath; !KeyExists(path);) {
            m_createdKeys.push_back(path);
            const std::size_t parentEnd = path.find_last_of(L'\\');
            if (parentEnd == std::wstring::npos) {
                break;
            }
            path.resize(parentEnd);
        }
        UniqueRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_keyPath.c_str(), 0, KEY_QUERY_VALUE, key.out()) != ERROR_SUCCESS) {
            return;
        }
        DWORD size = 0;
        if (RegQueryValueExW(key.get(), m_valueName.c_str(), nullptr, &m_savedType, nullptr, &size) == ERROR_SUCCESS) {
            m_saved.resize(size);
            m_existed = RegQueryValueExW(key.get(), m_valueName.c_str(), nullptr, &m_savedType, m_saved.data(),
                                         &size) == ERROR_SUCCESS;
            m_saved.resize(size);
        }
    }

    ~RegistryValueOverride()
    {
        if (m_existed) {
            Set(m_savedType, m_saved.data(), static_cast<DWORD>(m_saved.size()));
        } else {
            Remove();
        }
        for (const std::wstring& path : m_createdKeys) {
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
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_keyPath.c_str(), 0, KEY_SET_VALUE, key.out()) == ERROR_SUCCESS) {
            RegDeleteValueW(key.get(), m_valueName.c_str());
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
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                                 nullptr, key.out(), nullptr))
            << ToUtf8(m_keyPath);
        EXPECT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key.get(), m_valueName.c_str(), 0, type, static_cast<const BYTE*>(data), size))
            << ToUtf8(m_keyPath) << " " << ToUtf8(m_valueName);
    }

    std::wstring m_keyPath;
    std::wstring m_valueName;
    std::vector<std::wstring> m_createdKeys;
    bool m_existed = false;
    DWORD m_savedType = REG_NONE;
    std::vector<BYTE> m_saved;
};

} // namespace Qx::Testing
