// The registry: keys below HKEY_LOCAL_MACHINE, opened, read and deleted.
#pragma once

#include <cstdint>
#include <string>

#include "Platform/Api/HResult.h"
#include "Platform/Api/UniqueHandle.h"

namespace Qx::Platform {

class IRegistry;

void CloseThrough(IRegistry& registry, NativeHandle key);
using RegistryKey = UniqueHandle<OpenedThrough<IRegistry>>;

constexpr std::uint32_t kKeyRead = 0x20019;
// GENERIC_READ: on a registry key it grants what kKeyRead does.
constexpr std::uint32_t kGenericRead = 0x80000000;
constexpr std::uint32_t kRegNone = 0;
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegMultiSz = 7;
constexpr std::uint32_t kRegQword = 11;

// Keys are addressed by their path below HKEY_LOCAL_MACHINE.
class IRegistry {
public:
    virtual ~IRegistry() = default;
    [[nodiscard]] virtual Win32Error OpenKey(const std::wstring& path, std::uint32_t access, RegistryKey& key) = 0;
    // RegQueryValueExW: type and data may be null. With data null, or on ERROR_MORE_DATA, *size
    // receives the size the value needs; data is then untouched.
    [[nodiscard]] virtual Win32Error QueryValue(NativeHandle key, const wchar_t* name, std::uint32_t* type, void* data,
                                                std::uint32_t* size) = 0;
    // Creates the key, and any missing parent, as volatile: it lasts until the registry is unloaded.
    [[nodiscard]] virtual Win32Error CreateVolatileKey(const std::wstring& path) = 0;
    // RegDeleteKeyW: removes a leaf; a key with subkeys is refused with ERROR_ACCESS_DENIED.
    [[nodiscard]] virtual Win32Error DeleteKey(const std::wstring& path) = 0;
    [[nodiscard]] virtual Win32Error DeleteValue(NativeHandle key, const wchar_t* name) = 0;
    virtual void CloseKey(NativeHandle key) = 0;
};

} // namespace Qx::Platform
