// The types the module object and the internal state hand each other. They live in this leaf
// header so that neither of the two needs the other's header for them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>

// Grants (true) or withdraws (false) accepted controls while the service runs; answers false
// when the service is not running, and nothing changes then.
using ControlsCallback = std::function<bool(std::uint32_t controls, bool enable)>;

// A service name in its fixed buffer: 255 characters and the terminator.
using ServiceNameBuffer = std::array<wchar_t, 256>;

// Copies at most 255 characters of name into buffer, terminated.
void CopyServiceName(std::wstring_view name, ServiceNameBuffer& buffer);
