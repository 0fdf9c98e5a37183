// UI language and error text.
//
// Message texts, from the product's message library or from the system, come out in the
// product's configured UI language ("Language" below the product registry root), with 0x0409
// and the system UI language as fallbacks.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Api/Platform.h"

// The configured UI language, read from the registry at most once per refresh period.
// Threads: unsynchronised; concurrent callers may each read the registry and the last writer wins.
class ConfiguredUILanguage {
public:
    static constexpr std::uint16_t kDefaultLanguage = 0x0409;
    static constexpr std::uint64_t kRefreshMilliseconds = 30000;

    // Reads "Language" below registryRoot; an empty root keeps the default.
    explicit ConfiguredUILanguage(std::wstring registryRoot) : m_registryRoot(std::move(registryRoot)) {}

    std::uint16_t Get();

private:
    const std::wstring m_registryRoot;
    std::uint16_t m_cachedLanguage = kDefaultLanguage;
    std::uint64_t m_lastLanguageRead = 0;
};

std::uint16_t GetConfiguredUILanguage();

// Sets the calling thread's preferred UI languages for the lifetime of one lookup and restores
// the previous ones afterwards. Without a console window (a service) 0x0409 comes before the
// system UI language; with one, the user's UI language comes first.
class ThreadUILanguageScope {
public:
    // Room for four "XXXX\0" entries and the closing NUL.
    static constexpr std::size_t kListCapacity = 21;

    explicit ThreadUILanguageScope(std::uint16_t configuredLanguage);
    ThreadUILanguageScope();
    ThreadUILanguageScope(const ThreadUILanguageScope&) = delete;
    ThreadUILanguageScope& operator=(const ThreadUILanguageScope&) = delete;
    ~ThreadUILanguageScope();

    // True when every call that set the new languages succeeded.
    [[nodiscard]] bool Applied() const { return m_applied; }

private:
    bool m_console = false;
    bool m_applied = false;
    std::optional<std::vector<wchar_t>> m_savedLanguages;
    std::array<wchar_t, kListCapacity> m_languageList{};
};

// Reads the version resource at path while the thread prefers the product UI language; when the
// languages cannot be switched, the language-neutral resource is read instead.
HRESULT ReadVersionInProductLanguage(const std::wstring& path, std::unique_ptr<Qx::Platform::IVersionBlock>& block);

// The message text for messageId, inserts unexpanded; empty when no language has it.
// sourceFlag is FORMAT_MESSAGE_FROM_HMODULE with a library, or FORMAT_MESSAGE_FROM_SYSTEM.
std::wstring FormatMessageText(std::uint32_t messageId, std::uint32_t sourceFlag, Qx::Platform::NativeHandle source);

// The same text without the line end that message tables give every message, for one line.
std::wstring FormatMessageLine(std::uint32_t messageId, std::uint32_t sourceFlag, Qx::Platform::NativeHandle source);

// The text for an HRESULT or message identifier: the product's message library first, the
// system second, without a trailing CR LF; possibly empty. Raises HRXEx(E_OUTOFMEMORY) when
// the result cannot be allocated.
std::wstring GetErrorText(std::uint32_t code);

// The description of a failure: the COM description (cut at its first U+007F), else the error
// text, else "<Unknown error>". Never empty. Without errorInfo the thread's current COM error
// information is taken, and thereby cleared.
std::wstring GetErrorDescription(HRESULT hr, const Qx::Platform::ErrorInfo& errorInfo);
