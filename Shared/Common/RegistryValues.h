// Typed reads of registry values with the host's checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "Platform/Api/Platform.h"

// A REG_SZ or REG_EXPAND_SZ value (never expanded) read into a buffer of capacity UTF-16 units:
// ERROR_MORE_DATA when it does not fit, ERROR_INVALID_DATA for another type, an odd size or data
// whose last unit is not NUL. Zero bytes give the empty string; value is untouched on failure.
Qx::Win32Error ReadTerminatedString(Qx::Platform::NativeHandle key, const wchar_t* name, std::size_t capacity,
                                    std::wstring& value);

// A REG_DWORD of exactly four bytes: ERROR_MORE_DATA for a longer value, ERROR_INVALID_DATA for
// another type or a shorter value, which the system would not widen to four bytes. value is
// untouched on failure.
Qx::Win32Error ReadDwordValue(Qx::Platform::NativeHandle key, const wchar_t* name, std::uint32_t& value);

// The size of a string value in UTF-16 units including its NUL, or 0 when the value is missing,
// is no REG_SZ or REG_EXPAND_SZ, or holds no data.
std::size_t StringValueUnits(Qx::Platform::NativeHandle key, const wchar_t* name);

inline constexpr Qx::Win32Error kErrorInvalidData = 13;
