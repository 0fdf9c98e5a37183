// Win32 only: the registry below HKEY_LOCAL_MACHINE.
#include "Platform/Win32/WindowsSupport.h"

namespace Qx::Platform::Win32 {

Win32Error Win32Registry::OpenKey(const std::wstring& path, std::uint32_t access, RegistryKey& key)
{
    HKEY opened = nullptr;
    const LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &opened);
    if (status == ERROR_SUCCESS) {
        key.reset(opened, *this);
    }
    return static_cast<Win32Error>(status);
}

Win32Error Win32Registry::QueryValue(NativeHandle key, const wchar_t* name, std::uint32_t* type, void* data,
                                     std::uint32_t* size)
{
    DWORD valueType = 0;
    DWORD bytes = size != nullptr ? *size : 0;
    const LSTATUS status = ::RegQueryValueExW(static_cast<HKEY>(key), name, nullptr, &valueType,
                                              static_cast<BYTE*>(data), size != nullptr ? &bytes : nullptr);
    // The answers mean something only when the value was found, whole or too big for the buffer.
    if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        if (type != nullptr) {
            *type = valueType;
        }
        if (size != nullptr) {
            *size = bytes;
        }
    }
    return static_cast<Win32Error>(status);
}

Win32Error Win32Registry::CreateVolatileKey(const std::wstring& path)
{
    HKEY created = nullptr;
    const LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                             KEY_SET_VALUE, nullptr, &created, nullptr);
    RegistryKey owner(created, *this);
    return static_cast<Win32Error>(status);
}

Win32Error Win32Registry::DeleteKey(const std::wstring& path)
{
    return static_cast<Win32Error>(::RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()));
}

Win32Error Win32Registry::DeleteValue(NativeHandle key, const wchar_t* name)
{
    return static_cast<Win32Error>(::RegDeleteValueW(static_cast<HKEY>(key), name));
}

void Win32Registry::CloseKey(NativeHandle key)
{
    ::RegCloseKey(static_cast<HKEY>(key));
}

} // namespace Qx::Platform::Win32
