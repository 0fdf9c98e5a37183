#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "CaseInsensitiveLess.h"
#include "Platform/Api/Platform.h"

namespace Qx::Testing {

// Case mapping follows the system's tables and Utf8ToWide hands out UTF-16 units with U+FFFD for
// ill-formed input, as Tests/Contract/TextContract.cpp holds them to.
class FakeText final : public Platform::IText {
public:
    struct MessageKey {
        Platform::NativeHandle source;
        std::uint32_t id;
        std::uint32_t language;
        auto operator<=>(const MessageKey&) const = default;
    };
    struct LanguageCall {
        std::uint32_t flags;
        std::vector<wchar_t> list; // empty for a null list
    };

    // Errors the next MapString calls answer, in order, before mapping normally.
    std::vector<Win32Error> mapStringFailures;
    std::vector<std::uint32_t> mapStringLocales;
    // Language 0 picks the text of this language, as if the thread preferred it.
    std::uint32_t threadLanguage = 0x0409;
    std::map<MessageKey, std::wstring> messages;
    std::vector<MessageKey> formatMessageCalls;
    std::vector<wchar_t> threadLanguages{L'0', L'4', L'0', L'9', L'\0', L'\0'};
    bool getLanguagesFails = false;
    bool setLanguagesSucceeds = true;
    std::vector<LanguageCall> setLanguageCalls;
    std::uint16_t userLanguage = 0x0407;
    std::uint16_t systemLanguage = 0x0407;
    bool console = false;

    Win32Error MapString(std::uint32_t locale, std::uint32_t flags, std::wstring_view source, wchar_t* destination,
                         int capacity, int& written) override;
    wchar_t CharUpper(wchar_t c) override;
    Win32Error Utf8ToWide(std::string_view source, std::wstring& result) override;
    Win32Error FormatMessage(std::uint32_t sourceFlag, Platform::NativeHandle source, std::uint32_t messageId,
                             std::uint32_t languageId, std::wstring& text) override;
    Win32Error GetThreadPreferredUILanguages(std::uint32_t flags, std::vector<wchar_t>& list) override;
    bool SetThreadPreferredUILanguages(std::uint32_t flags, const wchar_t* list) override;
    std::uint16_t UserDefaultUILanguage() override { return userLanguage; }
    std::uint16_t SystemDefaultUILanguage() override { return systemLanguage; }
    bool HasConsoleWindow() override { return console; }
};

} // namespace Qx::Testing
