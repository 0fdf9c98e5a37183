// The files a service's runs leave, told apart from another service's by what follows the service's
// name (in its file form): the logger's retention and the control tool match them by these rules,
// so that a service "P" never claims the files of "P_av" or "P(1)". Header-only: the logger, a
// closed library of its own, shares it.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string_view>

namespace ServiceFileSuffixes {

// Skips one or more decimal digits at the front of text; false when there is none.
inline bool SkipDigits(std::wstring_view& text)
{
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= L'0' && text[digits] <= L'9') {
        ++digits;
    }
    text.remove_prefix(digits);
    return digits != 0;
}

// Exactly count decimal digits, or count upper-case hexadecimal ones, at the front of text.
inline bool SkipFixedDigits(std::wstring_view& text, std::size_t count, bool hexadecimal = false)
{
    if (text.size() < count) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const wchar_t c = text[i];
        if (!((c >= L'0' && c <= L'9') || (hexadecimal && c >= L'A' && c <= L'F'))) {
            return false;
        }
    }
    text.remove_prefix(count);
    return true;
}

inline bool SkipText(std::wstring_view& text, std::wstring_view expected)
{
    if (!text.starts_with(expected)) {
        return false;
    }
    text.remove_prefix(expected.size());
    return true;
}

// ".log", ".LOG": an extension, as the file system compares it.
inline bool IsExtension(std::wstring_view text, std::wstring_view lowerCase)
{
    if (text.size() != lowerCase.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i] >= L'A' && text[i] <= L'Z' ? static_cast<wchar_t>(text[i] - L'A' + L'a') : text[i];
        if (c != lowerCase[i]) {
            return false;
        }
    }
    return true;
}

// After the name: "(<pid>).log", or "(<pid>).<n>.log" for a file set aside or rotated.
inline bool IsModuleLogSuffix(std::wstring_view rest)
{
    if (!SkipText(rest, L"(") || !SkipDigits(rest) || !SkipText(rest, L").")) {
        return false;
    }
    std::wstring_view numbered = rest;
    if (SkipDigits(numbered) && SkipText(numbered, L".")) {
        rest = numbered;
    }
    return IsExtension(rest, L"log");
}

// After the name: "_<code, 8 hex digits>_<yyyy>_<mm>_<dd>__<hh>_<mm>_<ss>.dmp", with "_<n>" before
// ".dmp" for a second dump in the same second.
inline bool IsCrashDumpSuffix(std::wstring_view rest)
{
    if (!SkipText(rest, L"_") || !SkipFixedDigits(rest, 8, true) || !SkipText(rest, L"_") ||
        !SkipFixedDigits(rest, 4)) {
        return false;
    }
    for (const std::wstring_view separator : {L"_", L"_", L"__", L"_", L"_"}) {
        if (!SkipText(rest, separator) || !SkipFixedDigits(rest, 2)) {
            return false;
        }
    }
    std::wstring_view numbered = rest;
    if (SkipText(numbered, L"_") && SkipDigits(numbered)) {
        rest = numbered;
    }
    return SkipText(rest, L".") && IsExtension(rest, L"dmp");
}

} // namespace ServiceFileSuffixes
