// Win32 only: text, languages and message tables.
#include "Platform/Win32/WindowsSupport.h"

#include <climits>
#include <vector>

namespace Qx::Platform::Win32 {

Win32Error Win32Text::MapString(std::uint32_t locale, std::uint32_t flags, std::wstring_view source,
                                wchar_t* destination, int capacity, int& written)
{
    const int result =
        ::LCMapStringW(locale, flags, source.data(), static_cast<int>(source.size()), destination, capacity);
    if (result == 0) {
        return LastErrorOr(ERROR_INVALID_PARAMETER);
    }
    written = result;
    return ERROR_SUCCESS;
}

wchar_t Win32Text::CharUpper(wchar_t c)
{
    // CharUpperW maps through the invariant table, whatever the user's language; so does this,
    // without user32, which costs a process several megabytes and milliseconds to load.
    wchar_t upper = c;
    return ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &c, 1, &upper, 1) == 1 ? upper : c;
}

Win32Error Win32Text::Utf8ToWide(std::string_view source, std::wstring& result)
{
    // The whole view, NULs included; each byte gives at most one UTF-16 unit, so the source's length
    // is room enough. MultiByteToWideChar refuses an empty source instead of converting it.
    if (source.size() > static_cast<std::size_t>(INT_MAX)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::wstring converted(source.size(), L'\0');
    if (!source.empty()) {
        const int length = ::MultiByteToWideChar(CP_UTF8, 0, source.data(), static_cast<int>(source.size()),
                                                 converted.data(), static_cast<int>(converted.size()));
        if (length <= 0) {
            return LastErrorOr(ERROR_NO_UNICODE_TRANSLATION);
        }
        converted.resize(static_cast<std::size_t>(length));
    }
    result = std::move(converted);
    return ERROR_SUCCESS;
}

Win32Error Win32Text::FormatMessage(std::uint32_t sourceFlag, NativeHandle source, std::uint32_t messageId,
                                    std::uint32_t languageId, std::wstring& text)
{
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(sourceFlag | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                                          source, messageId, languageId, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) {
        return LastErrorOr(ERROR_MR_MID_NOT_FOUND);
    }
    text.assign(buffer, length);
    ::LocalFree(buffer);
    return ERROR_SUCCESS;
}

Win32Error Win32Text::GetThreadPreferredUILanguages(std::uint32_t flags, std::vector<wchar_t>& list)
{
    ULONG count = 0;
    ULONG size = 0;
    if (::GetThreadPreferredUILanguages(flags, &count, nullptr, &size) == 0) {
        return LastErrorOr(ERROR_INVALID_PARAMETER);
    }
    std::vector<wchar_t> buffer(size);
    if (::GetThreadPreferredUILanguages(flags, &count, buffer.data(), &size) == 0) {
        return LastErrorOr(ERROR_INVALID_PARAMETER);
    }
    list = std::move(buffer);
    return ERROR_SUCCESS;
}

bool Win32Text::SetThreadPreferredUILanguages(std::uint32_t flags, const wchar_t* list)
{
    return ::SetThreadPreferredUILanguages(flags, list, nullptr) != FALSE;
}

std::uint16_t Win32Text::UserDefaultUILanguage()
{
    return ::GetUserDefaultUILanguage();
}

std::uint16_t Win32Text::SystemDefaultUILanguage()
{
    return ::GetSystemDefaultUILanguage();
}

bool Win32Text::HasConsoleWindow()
{
    return ::GetConsoleWindow() != nullptr;
}

} // namespace Qx::Platform::Win32
