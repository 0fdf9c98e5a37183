// What install refuses: names and module lists the host would misread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace QxServiceCtl {

// Why the host could not serve a service of this name; nullopt when it can.
std::optional<std::wstring> ServiceNameRefusal(std::wstring_view name);

// Why the host would not load this module list as written; nullopt when it would.
std::optional<std::wstring> ModuleListRefusal(const std::wstring& modules);

// "U+" and four hexadecimal digits, so that an invisible character can be named too.
std::wstring CharacterCode(wchar_t c);

} // namespace QxServiceCtl
