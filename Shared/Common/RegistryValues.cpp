#include "Common/RegistryValues.h"

#include <algorithm>
#include <vector>

using namespace Qx;
using namespace Qx::Platform;

Win32Error ReadTerminatedString(NativeHandle key, const wchar_t* name, std::size_t capacity, std::wstring& value)
{
    // Never a null buffer, even for no capacity: without one the query would answer the value's
    // size with success instead of ERROR_MORE_DATA, and nothing would have been read.
    std::vector<wchar_t> buffer(std::max<std::size_t>(capacity, 1));
    std::uint32_t type = kRegNone;
    auto size = static_cast<std::uint32_t>(capacity * sizeof(wchar_t));
    const Win32Error error = Registry().QueryValue(key, name, &type, buffer.data(), &size);
    if (error != kErrorSuccess) {
        return error;
    }
    if (type != kRegSz && type != kRegExpandSz) {
        return kErrorInvalidData;
    }
    if (size == 0) {
        value.clear();
        return kErrorSuccess;
    }
    const std::size_t units = size / sizeof(wchar_t);
    if (size % sizeof(wchar_t) != 0 || buffer[units - 1] != L'\0') {
        return kErrorInvalidData;
    }
    value.assign(buffer.data());
    return kErrorSuccess;
}

Win32Error ReadDwordValue(NativeHandle key, const wchar_t* name, std::uint32_t& value)
{
    std::uint32_t type = kRegNone;
    std::uint32_t read = 0;
    std::uint32_t size = sizeof(read);
    const Win32Error error = Registry().QueryValue(key, name, &type, &read, &size);
    if (error != kErrorSuccess) {
        return error;
    }
    if (type != kRegDword || size != sizeof(read)) {
        return kErrorInvalidData;
    }
    value = read;
    return kErrorSuccess;
}

std::size_t StringValueUnits(NativeHandle key, const wchar_t* name)
{
    std::uint32_t type = kRegNone;
    std::uint32_t size = 0;
    if (Registry().QueryValue(key, name, &type, nullptr, &size) != kErrorSuccess ||
        (type != kRegSz && type != kRegExpandSz)) {
        return 0;
    }
    return size / sizeof(wchar_t);
}
