#include "Common/UiLanguage.h"

#include <cstdio>
#include <mutex>
#include <new>

#include "Common/ConfigurationNames.h"
#include "Common/ProductInfo.h"
#include "Common/RegistryValues.h"
#include "Platform/Api/ProcessWide.h"
#include "ResKit/Logger/HRXEx.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Platform;

namespace {

constexpr std::uint16_t kEnglishUs = 0x0409;
constexpr std::uint32_t kNeutralDefaultLanguage = 0x0400;

void ReadLanguageValue(const std::wstring& root, std::uint16_t& language)
{
    if (root.empty()) {
        return;
    }
    RegistryKey key;
    if (Registry().OpenKey(root, kKeyRead, key) != kErrorSuccess) {
        return;
    }
    std::uint32_t value = 0;
    if (ReadDwordValue(key.get(), ConfigurationNames::kLanguage, value) == kErrorSuccess && value != 0) {
        language = static_cast<std::uint16_t>(value & 0xFFFFu);
    }
}

// The product's message library, loaded at the first lookup and kept until process exit.
// A failed load is retried by the next lookup.
class MessageLibrary {
public:
    NativeHandle Handle()
    {
        std::lock_guard lock(m_lock);
        if (!m_library) {
            m_library = GetProductInfo().LoadMessageModule();
        }
        return m_library.get();
    }

private:
    std::mutex m_lock;
    Library m_library; // guarded by m_lock
};

MessageLibrary& TheMessageLibrary()
{
    static ProcessWide<MessageLibrary> library([] { return std::make_unique<MessageLibrary>(); });
    return library.Get();
}

std::wstring LookUp(std::uint32_t messageId, std::uint32_t sourceFlag, NativeHandle source, std::uint32_t language)
{
    std::wstring text;
    if (Text().FormatMessage(sourceFlag, source, messageId, language, text) != kErrorSuccess) {
        text.clear();
    }
    return text;
}

} // namespace

std::uint16_t ConfiguredUILanguage::Get()
{
    const std::uint64_t now = Process().TickCount64();
    if (m_lastLanguageRead != 0 && m_lastLanguageRead <= now && now - m_lastLanguageRead <= kRefreshMilliseconds) {
        return m_cachedLanguage;
    }
    ReadLanguageValue(m_registryRoot, m_cachedLanguage);
    m_lastLanguageRead = now;
    return m_cachedLanguage;
}

std::uint16_t GetConfiguredUILanguage()
{
    static ConfiguredUILanguage cache(GetProductInfo().RegistryRoot());
    return cache.Get();
}

ThreadUILanguageScope::ThreadUILanguageScope() : ThreadUILanguageScope(GetConfiguredUILanguage()) {}

ThreadUILanguageScope::ThreadUILanguageScope(std::uint16_t configuredLanguage)
{
    auto& text = Text();
    m_console = text.HasConsoleWindow();
    std::vector<wchar_t> saved;
    if (text.GetThreadPreferredUILanguages(kMuiLanguageId | kMuiThreadLanguages, saved) != kErrorSuccess) {
        return;
    }
    m_savedLanguages = std::move(saved);

    std::vector<std::uint16_t> languages{configuredLanguage};
    if (m_console) {
        languages.insert(languages.end(), {text.UserDefaultUILanguage(), text.SystemDefaultUILanguage(), kEnglishUs});
    } else {
        languages.insert(languages.end(), {kEnglishUs, text.SystemDefaultUILanguage()});
    }
    wchar_t* entry = m_languageList.data();
    for (const std::uint16_t language : languages) {
        std::swprintf(entry, 5, L"%04X", static_cast<unsigned>(language));
        entry += 5; // four digits and the NUL that ends the entry
    }
    *entry = L'\0';

    m_applied = text.SetThreadPreferredUILanguages(kMuiLanguageId, m_languageList.data());
    if (m_applied && m_console) {
        m_applied = text.SetThreadPreferredUILanguages(kMuiConsoleFilter, nullptr);
    }
}

ThreadUILanguageScope::~ThreadUILanguageScope()
{
    if (m_savedLanguages) {
        (void)Text().SetThreadPreferredUILanguages(kMuiLanguageId, m_savedLanguages->data());
    }
}

std::wstring FormatMessageText(std::uint32_t messageId, std::uint32_t sourceFlag, NativeHandle source)
{
    ThreadUILanguageScope scope;
    std::wstring text;
    if (scope.Applied()) {
        text = LookUp(messageId, sourceFlag, source, 0);
    }
    if (text.empty()) {
        text = LookUp(messageId, sourceFlag, source, GetConfiguredUILanguage());
    }
    if (text.empty()) {
        text = LookUp(messageId, sourceFlag, source, kNeutralDefaultLanguage);
    }
    return text;
}

std::wstring FormatMessageLine(std::uint32_t messageId, std::uint32_t sourceFlag, NativeHandle source)
{
    std::wstring text = FormatMessageText(messageId, sourceFlag, source);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) {
        text.pop_back();
    }
    return text;
}

std::wstring GetErrorText(std::uint32_t code)
{
    try {
        std::wstring text;
        if (NativeHandle library = TheMessageLibrary().Handle()) {
            text = FormatMessageText(code, kFormatMessageFromHModule, library);
        }
        if (text.empty()) {
            text = FormatMessageText(code, kFormatMessageFromSystem, nullptr);
        }
        if (text.size() > 1 && text.ends_with(L"\r\n")) {
            text.resize(text.size() - 2);
        }
        return text;
    } catch (const std::bad_alloc&) {
        RaiseIfFailed(kEOutOfMemory);
        throw;
    }
}

HRESULT ReadVersionInProductLanguage(const std::wstring& path, std::unique_ptr<IVersionBlock>& block)
{
    ThreadUILanguageScope scope;
    return Files().ReadVersionInfo(path, !scope.Applied(), block);
}

std::wstring GetErrorDescription(HRESULT hr, const ErrorInfo& errorInfo)
{
    const ErrorInfo info = errorInfo ? errorInfo : Process().TakeThreadErrorInfo();
    std::wstring description;
    if (info) {
        description = info->Description();
        const auto separator = description.find(LogUtils::kDiagnosticSeparator);
        if (separator != std::wstring::npos) {
            description.resize(separator);
        }
    }
    if (description.empty() || description.front() == L'\0') {
        description = GetErrorText(static_cast<std::uint32_t>(hr));
    }
    if (description.empty()) {
        description = L"<Unknown error>";
    }
    return description;
}
