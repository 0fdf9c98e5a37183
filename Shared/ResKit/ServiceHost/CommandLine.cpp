#include "ResKit/ServiceHost/CommandLine.h"

#include <algorithm>
#include <array>
#include <cwchar>

#include "Common/AtlServiceEx.h"
#include "Platform/Api/Platform.h"

using namespace Qx;
using namespace Qx::Platform;

namespace {

constexpr std::size_t kKeyLength = 4;

// LCMapStringW lower-casing; an empty result when the text cannot be mapped.
std::wstring LowerCase(std::wstring_view text)
{
    auto& platformText = Text();
    std::uint32_t locale = kLocaleInvariant;
    std::vector<wchar_t> buffer(text.size() + 1);
    bool grown = false;
    for (;;) {
        int written = 0;
        const Win32Error error = platformText.MapString(locale, kLcmapLowercase, text, buffer.data(),
                                                        static_cast<int>(buffer.size()), written);
        if (error == kErrorSuccess) {
            return std::wstring(buffer.data(), static_cast<std::size_t>(written));
        }
        if (error == kErrorInvalidParameter && locale == kLocaleInvariant) {
            locale = kLocaleSystemDefault;
            continue;
        }
        int needed = 0;
        if (error != kErrorInsufficientBuffer || grown ||
            platformText.MapString(locale, kLcmapLowercase, text, nullptr, 0, needed) != kErrorSuccess) {
            return {};
        }
        buffer.resize(std::max(buffer.size(), static_cast<std::size_t>(needed)));
        grown = true;
    }
}

bool IsWordEnd(wchar_t c)
{
    return c == L'\0' || c == L' ' || c == L'\t';
}

// Compares the word at the start of text with a switch name, upper-casing both sides.
bool WordMatches(std::wstring_view text, std::wstring_view switchName)
{
    auto& platformText = Text();
    std::size_t i = 0;
    for (; i < text.size() && !IsWordEnd(text[i]); ++i) {
        if (i >= switchName.size() || platformText.CharUpper(text[i]) != platformText.CharUpper(switchName[i])) {
            return false;
        }
    }
    return i == switchName.size();
}

} // namespace

std::vector<std::wstring> SplitParameters(std::wstring_view arguments)
{
    std::vector<std::wstring> parameters;
    std::size_t start = 0;
    while (start <= arguments.size()) {
        const std::size_t hyphen = arguments.find(L'-', start);
        const std::size_t end = hyphen == std::wstring_view::npos ? arguments.size() : hyphen;
        if (end > start) {
            parameters.emplace_back(arguments.substr(start, end - start));
        }
        if (hyphen == std::wstring_view::npos) {
            break;
        }
        start = hyphen + 1;
    }
    return parameters;
}

bool IsServiceNameParameter(std::wstring_view parameter)
{
    return LowerCase(parameter.substr(0, kKeyLength)) == L"name";
}

ServiceNameValue ExtractServiceNameValue(std::wstring_view parameter)
{
    const std::size_t separator = parameter.find_first_of(L"= ");
    if (separator == std::wstring_view::npos || separator + 1 == parameter.size()) {
        return {};
    }
    std::wstring_view value = parameter.substr(separator + 1);
    const std::size_t first = value.find_first_not_of(L' ');
    value = first == std::wstring_view::npos ? std::wstring_view() : value.substr(first);
    const std::size_t last = value.find_last_not_of(L' ');
    value = value.substr(0, last == std::wstring_view::npos ? 0 : last + 1);
    return {true, std::wstring(value)};
}

std::optional<wchar_t> FindRefusedServiceNameCharacter(std::wstring_view value)
{
    for (const wchar_t c : value) {
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        if (control || c == L'\\' || c == L'/' || c == L':') {
            return c;
        }
    }
    return std::nullopt;
}

std::optional<ServiceNameFault> CheckServiceName(std::wstring_view name)
{
    if (name.empty()) {
        return ServiceNameFault{ServiceNameFault::Kind::Empty};
    }
    if (name.size() >= CServiceModule::kServiceNameCapacity) {
        return ServiceNameFault{ServiceNameFault::Kind::TooLong};
    }
    if (const auto refused = FindRefusedServiceNameCharacter(name)) {
        return ServiceNameFault{ServiceNameFault::Kind::RefusedCharacter, *refused};
    }
    return std::nullopt;
}

std::wstring CharacterCode(wchar_t c)
{
    wchar_t code[8];
    std::swprintf(code, std::size(code), L"U+%04X", static_cast<unsigned>(c));
    return code;
}

CommandLineDecision ParseCommandLine(std::wstring_view commandLine)
{
    static constexpr std::array<std::wstring_view, 4> kSwitches = {L"UnregServer", L"RegServer", L"UnregServerPerUser",
                                                                   L"RegServerPerUser"};
    std::size_t position = commandLine.find_first_of(L"-/");
    while (position != std::wstring_view::npos) {
        const std::wstring_view word = commandLine.substr(position + 1);
        for (const auto switchName : kSwitches) {
            if (WordMatches(word, switchName)) {
                return {false, 0};
            }
        }
        position = commandLine.find_first_of(L"-/", position + 1);
    }
    return {};
}
