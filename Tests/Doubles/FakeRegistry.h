#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "CaseInsensitiveLess.h"
#include "Platform/Api/Platform.h"

namespace Qx::Testing {

// Registry strings are UTF-16 on the wire, whatever wchar_t is here; terminated adds the NUL.
std::vector<std::uint8_t> Utf16Bytes(const std::wstring& text, bool terminated);

struct RegistryValue {
    std::uint32_t type = Platform::kRegNone;
    std::vector<std::uint8_t> data;
};

// Keys by path below HKEY_LOCAL_MACHINE; QueryValue answers like RegQueryValueExW. A value is read
// and deleted only through a key opened with the right to do so.
class FakeRegistry final : public Platform::IRegistry {
public:
    void SetString(const std::wstring& path, const std::wstring& name, const std::wstring& text,
                   std::uint32_t type = Platform::kRegSz);
    void SetDword(const std::wstring& path, const std::wstring& name, std::uint32_t value);
    void SetQword(const std::wstring& path, const std::wstring& name, std::uint64_t value);
    // Setting a value creates its key, and creating a key creates its missing parents.
    void SetRaw(const std::wstring& path, const std::wstring& name, std::uint32_t type, std::vector<std::uint8_t> data);
    void CreateKey(const std::wstring& path);
    [[nodiscard]] bool HasKey(const std::wstring& path) const;
    [[nodiscard]] bool HasValue(const std::wstring& path, const std::wstring& name) const;
    // Makes OpenKey of path fail with error.
    void FailOpen(const std::wstring& path, Win32Error error);
    // Keys open now.
    [[nodiscard]] int OpenKeyCount() const { return m_openKeys; }
    // Successful OpenKey calls so far.
    [[nodiscard]] int OpenCalls() const { return m_openCalls; }

    Win32Error OpenKey(const std::wstring& path, std::uint32_t access, Platform::RegistryKey& key) override;
    Win32Error QueryValue(Platform::NativeHandle key, const wchar_t* name, std::uint32_t* type, void* data,
                          std::uint32_t* size) override;
    Win32Error CreateVolatileKey(const std::wstring& path) override;
    Win32Error DeleteKey(const std::wstring& path) override;
    Win32Error DeleteValue(Platform::NativeHandle key, const wchar_t* name) override;
    void CloseKey(Platform::NativeHandle key) override;

private:
    using Values = std::map<std::wstring, RegistryValue, CaseInsensitiveLess>;
    struct OpenedKey {
        std::wstring path;
        std::uint32_t access; // generic rights mapped to the key's own
    };
    Values* FindKey(const std::wstring& path);
    [[nodiscard]] bool HasSubkeys(const std::wstring& path) const;

    std::map<std::wstring, Values, CaseInsensitiveLess> m_keys;
    std::map<std::wstring, Win32Error, CaseInsensitiveLess> m_openFailures;
    std::set<const OpenedKey*> m_handles;
    int m_openKeys = 0;
    int m_openCalls = 0;
};

// A registry arranged for one case of a table, and the result the code under test must give.
struct RegistryCase {
    const char* what;
    std::function<void(FakeRegistry&)> arrange;
    HRESULT expected;
};

} // namespace Qx::Testing
