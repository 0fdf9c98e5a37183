#include "FakeText.h"

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <locale.h>
#include <stdexcept>
#include <wctype.h>

#include "FakeLibraries.h"

namespace Qx::Testing {

using namespace Qx::Platform;

namespace {

constexpr Win32Error kErrorMessageNotFound = 317;
constexpr Win32Error kErrorResourceLangNotFound = 1813;

// The system's case tables: the simple Unicode mappings, kept only where they map back, so that
// U+0131 (dotless i) never becomes I and U+212A (Kelvin sign) never becomes k.
locale_t UnicodeCaseLocale()
{
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    if (locale == locale_t{}) {
        throw std::runtime_error("the C.UTF-8 locale is missing");
    }
    return locale;
}

wchar_t UpperCase(wchar_t c)
{
    const auto upper = static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), UnicodeCaseLocale()));
    return static_cast<wchar_t>(towlower_l(static_cast<wint_t>(upper), UnicodeCaseLocale())) == c ? upper : c;
}

wchar_t LowerCase(wchar_t c)
{
    const auto lower = static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), UnicodeCaseLocale()));
    return static_cast<wchar_t>(towupper_l(static_cast<wint_t>(lower), UnicodeCaseLocale())) == c ? lower : c;
}

constexpr wchar_t kReplacementCharacter = 0xFFFD;

bool IsContinuationByte(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// The continuation bytes a lead byte announces; none for a byte that starts no sequence: a
// continuation byte, C0 and C1 (their forms are all overlong), F5 to FF (beyond U+10FFFF).
std::size_t AnnouncedContinuations(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 1;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 2;
    }
    return lead >= 0xF0 && lead <= 0xF4 ? 3 : 0;
}

// Outside these ranges the second byte makes the form overlong, a surrogate or beyond U+10FFFF.
bool SecondByteFits(unsigned char lead, unsigned char second)
{
    switch (lead) {
    case 0xE0:
        return second >= 0xA0;
    case 0xED:
        return second <= 0x9F;
    case 0xF0:
        return second >= 0x90;
    case 0xF4:
        return second <= 0x8F;
    default:
        return true;
    }
}

// UTF-16 units, one per wchar_t whatever its size, as the registry double hands out strings.
void AppendUtf16(char32_t code, std::wstring& text)
{
    if (code < 0x10000) {
        text.push_back(static_cast<wchar_t>(code));
        return;
    }
    code -= 0x10000;
    text.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
    text.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
}

// Appends the character whose sequence starts at position and returns where the next one starts.
// MultiByteToWideChar reads an ill-formed sequence as far as it can still be well-formed and puts
// one U+FFFD for what it read: a second byte outside its lead's range goes with the lead, any other
// byte that does not continue the sequence starts the next one.
std::size_t DecodeUtf8Sequence(std::string_view source, std::size_t position, std::wstring& text)
{
    const auto lead = static_cast<unsigned char>(source[position]);
    std::size_t next = position + 1;
    if (lead < 0x80) {
        text.push_back(static_cast<wchar_t>(lead));
        return next;
    }
    const std::size_t continuations = AnnouncedContinuations(lead);
    if (continuations == 0) {
        text.push_back(kReplacementCharacter);
        return next;
    }
    char32_t code = lead & (0x3Fu >> continuations);
    for (std::size_t read = 0; read < continuations; ++read) {
        if (next == source.size() || !IsContinuationByte(static_cast<unsigned char>(source[next]))) {
            text.push_back(kReplacementCharacter);
            return next;
        }
        const auto byte = static_cast<unsigned char>(source[next]);
        code = (code << 6) | (byte & 0x3Fu);
        ++next;
        if (read == 0 && !SecondByteFits(lead, byte)) {
            text.push_back(kReplacementCharacter);
            return next;
        }
    }
    AppendUtf16(code, text);
    return next;
}

} // namespace

Win32Error FakeText::MapString(std::uint32_t locale, std::uint32_t, std::wstring_view source, wchar_t* destination,
                               int capacity, int& written)
{
    mapStringLocales.push_back(locale);
    if (!mapStringFailures.empty()) {
        const Win32Error error = mapStringFailures.front();
        mapStringFailures.erase(mapStringFailures.begin());
        return error;
    }
    // The double knows the two locales the host maps with; LCMapStringW refuses an empty source.
    if ((locale != kLocaleInvariant && locale != kLocaleSystemDefault) || source.empty()) {
        return kErrorInvalidParameter;
    }
    const auto needed = static_cast<int>(source.size());
    if (capacity == 0) {
        written = needed;
        return kErrorSuccess;
    }
    if (capacity < needed) {
        return kErrorInsufficientBuffer;
    }
    std::transform(source.begin(), source.end(), destination, LowerCase);
    written = needed;
    return kErrorSuccess;
}

wchar_t FakeText::CharUpper(wchar_t c)
{
    return UpperCase(c);
}

Win32Error FakeText::Utf8ToWide(std::string_view source, std::wstring& result)
{
    std::wstring wide;
    for (std::size_t position = 0; position < source.size();) {
        position = DecodeUtf8Sequence(source, position, wide);
    }
    result = std::move(wide);
    return kErrorSuccess;
}

Win32Error FakeText::FormatMessage(std::uint32_t, NativeHandle source, std::uint32_t messageId,
                                   std::uint32_t languageId, std::wstring& text)
{
    formatMessageCalls.push_back({ModuleOfHandle(source), messageId, languageId});
    const std::uint32_t language = languageId == 0 ? threadLanguage : languageId;
    const auto found = messages.find({ModuleOfHandle(source), messageId, language});
    if (found == messages.end()) {
        return languageId == 0 ? kErrorMessageNotFound : kErrorResourceLangNotFound;
    }
    text = found->second;
    return kErrorSuccess;
}

Win32Error FakeText::GetThreadPreferredUILanguages(std::uint32_t, std::vector<wchar_t>& list)
{
    if (getLanguagesFails) {
        return kErrorInvalidParameter;
    }
    list = threadLanguages;
    return kErrorSuccess;
}

bool FakeText::SetThreadPreferredUILanguages(std::uint32_t flags, const wchar_t* list)
{
    LanguageCall call{flags, {}};
    for (const wchar_t* entry = list; entry != nullptr && *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        call.list.insert(call.list.end(), entry, entry + std::wcslen(entry) + 1);
    }
    if (list != nullptr) {
        call.list.push_back(L'\0');
    }
    setLanguageCalls.push_back(call);
    if (setLanguagesSucceeds && list != nullptr && (flags & kMuiConsoleFilter) == 0) {
        threadLanguages = call.list;
    }
    return setLanguagesSucceeds;
}

} // namespace Qx::Testing
