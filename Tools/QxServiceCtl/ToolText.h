// How the tool compares names and quotes them in its messages.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace QxServiceCtl {

// Service names and paths, compared as the system compares them for the ASCII letters; any other
// difference counts, so that a doubtful case is refused rather than taken.
inline bool SameIgnoringCase(std::wstring_view left, std::wstring_view right)
{
    const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
    return std::ranges::equal(left, right, {}, lower, lower);
}

// The text in double quotes, as the tool's messages name what they refuse.
inline std::wstring Quoted(std::wstring_view text)
{
    return L"\"" + std::wstring(text) + L"\"";
}

} // namespace QxServiceCtl
