#include "Common/RegistryValues.h"

#include <vector>

using namespace Qx;
using namespace Qx::Platform;

Win32Error ReadTerminatedString(NativeHandle key, const wchar_t* name, std::size_t capacity, std::wstring& value)
{
    std::vector<wchar_t> buffer(capacity);
    std::uint32_t type = kRegNone;
    auto size = static_cast<std::uint32_t>(buffer.size() * sizeof(wchar_t));
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
