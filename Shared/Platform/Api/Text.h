// Text: case mapping, UTF-8, message texts and the user interface languages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Api/HResult.h"
#include "Platform/Api/UniqueHandle.h"

namespace Qx::Platform {

constexpr std::uint32_t kLocaleInvariant = 0x7F;
constexpr std::uint32_t kLocaleSystemDefault = 0x800;
constexpr std::uint32_t kLcmapLowercase = 0x100;
constexpr std::uint32_t kFormatMessageFromHModule = 0x800;
constexpr std::uint32_t kFormatMessageFromSystem = 0x1000;
constexpr std::uint32_t kMuiLanguageId = 0x4;
constexpr std::uint32_t kMuiThreadLanguages = 0x40;
constexpr std::uint32_t kMuiConsoleFilter = 0x100;

class IText {
public:
    virtual ~IText() = default;
    // LCMapStringW. With capacity 0, written receives the size the result needs. An empty source is
    // refused with ERROR_INVALID_PARAMETER. On failure written is untouched, but destination may
    // hold part of the result.
    [[nodiscard]] virtual Win32Error MapString(std::uint32_t locale, std::uint32_t flags, std::wstring_view source,
                                               wchar_t* destination, int capacity, int& written) = 0;
    // One character in upper case as CharUpperW gives it: the same in every language ('i' is 'I'
    // in Turkish too).
    virtual wchar_t CharUpper(wchar_t c) = 0;
    // MultiByteToWideChar from UTF-8 without MB_ERR_INVALID_CHARS, over the whole view, NULs
    // included: an ill-formed sequence becomes U+FFFD instead of failing the call.
    [[nodiscard]] virtual Win32Error Utf8ToWide(std::string_view source, std::wstring& result) = 0;
    // FormatMessageW with the given source flag, FORMAT_MESSAGE_ALLOCATE_BUFFER and
    // FORMAT_MESSAGE_IGNORE_INSERTS; text is the message, inserts unexpanded.
    [[nodiscard]] virtual Win32Error FormatMessage(std::uint32_t sourceFlag, NativeHandle source,
                                                   std::uint32_t messageId, std::uint32_t languageId,
                                                   std::wstring& text) = 0;
    // GetThreadPreferredUILanguages: the double-NUL-terminated list, NULs included.
    [[nodiscard]] virtual Win32Error GetThreadPreferredUILanguages(std::uint32_t flags, std::vector<wchar_t>& list) = 0;
    // SetThreadPreferredUILanguages; list may be null.
    [[nodiscard]] virtual bool SetThreadPreferredUILanguages(std::uint32_t flags, const wchar_t* list) = 0;
    virtual std::uint16_t UserDefaultUILanguage() = 0;
    virtual std::uint16_t SystemDefaultUILanguage() = 0;
    // Whether the process has a console, which shows only the languages it can render.
    virtual bool HasConsoleWindow() = 0;
};

} // namespace Qx::Platform
