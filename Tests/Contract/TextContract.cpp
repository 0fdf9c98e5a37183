// The contract of IText's calls with a fixed answer: LCMapStringW lower-casing, CharUpperW and
// MultiByteToWideChar from UTF-8, held against the Win32 layer and the doubles alike. The expected
// text is written as UTF-16 units, which both builds hand out one per wchar_t.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "ContractPlatform.h"
#include "Platform/Api/Platform.h"

namespace {

using namespace Qx::Testing;
using namespace Qx::Platform;

constexpr std::uint32_t kUnknownLocale = 0x12345678;

std::wstring Units(std::u16string_view units)
{
    return {units.begin(), units.end()};
}

// The source as hexadecimal bytes, to name a case.
std::string Hex(std::string_view bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += {' ', kDigits[byte >> 4], kDigits[byte & 0xF]};
    }
    return text;
}

std::string Hex(const std::wstring& units)
{
    std::string text;
    for (const wchar_t unit : units) {
        text += Hex(std::string{static_cast<char>((unit >> 8) & 0xFF), static_cast<char>(unit & 0xFF)});
    }
    return text;
}

::testing::AssertionResult SameUnits(const std::wstring& expected, const std::wstring& actual)
{
    if (expected == actual) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "expected" << Hex(expected) << ", got" << Hex(actual);
}

class TextContract : public ContractTest {
protected:
    static std::wstring Converted(std::string_view utf8)
    {
        std::wstring wide = L"unset";
        EXPECT_EQ(0u, Text().Utf8ToWide(utf8, wide)) << Hex(utf8);
        return wide;
    }

    static std::wstring Lowered(std::uint32_t locale, std::wstring_view source)
    {
        std::vector<wchar_t> buffer(source.size() + 4, L'#');
        int written = -1;
        EXPECT_EQ(0u, Text().MapString(locale, kLcmapLowercase, source, buffer.data(), static_cast<int>(buffer.size()),
                                       written));
        return written < 0 ? std::wstring() : std::wstring(buffer.data(), static_cast<std::size_t>(written));
    }
};

TEST_F(TextContract, MapStringLowercasesInTheInvariantAndTheSystemLocale)
{
    for (const std::uint32_t locale : {kLocaleInvariant, kLocaleSystemDefault}) {
        SCOPED_TRACE(locale);
        EXPECT_EQ(L"name-01", Lowered(locale, L"NAME-01"));
        EXPECT_EQ(Units(u"\u00E4\u00F6\u0444\u03C3"), Lowered(locale, Units(u"\u00C4\u00D6\u0424\u03A3")));
        EXPECT_EQ(std::wstring(L"a\0b", 3), Lowered(locale, std::wstring(L"A\0B", 3)));
    }
}

TEST_F(TextContract, MapStringNeverLowercasesIntoAscii)
{
    // Capital I with dot and the Kelvin sign fold to i and k only in linguistic casing, so a
    // look-alike never passes for an ASCII switch name.
    EXPECT_EQ(Units(u"\u0130\u212A"), Lowered(kLocaleInvariant, Units(u"\u0130\u212A")));
}

TEST_F(TextContract, MapStringReportsSizesAndRefusesWhatItCannotMap)
{
    std::array<wchar_t, 16> buffer{};
    int written = -1;
    EXPECT_EQ(0u, Text().MapString(kLocaleInvariant, kLcmapLowercase, L"NAME", nullptr, 0, written));
    EXPECT_EQ(4, written);

    written = -1;
    EXPECT_EQ(122u, Text().MapString(kLocaleInvariant, kLcmapLowercase, L"NAME", buffer.data(), 2, written));
    EXPECT_EQ(-1, written);

    EXPECT_EQ(87u, Text().MapString(kUnknownLocale, kLcmapLowercase, L"NAME", buffer.data(),
                                    static_cast<int>(buffer.size()), written));
    EXPECT_EQ(-1, written);

    EXPECT_EQ(87u, Text().MapString(kLocaleInvariant, kLcmapLowercase, L"", buffer.data(),
                                    static_cast<int>(buffer.size()), written));
    EXPECT_EQ(-1, written);
}

TEST_F(TextContract, CharUpperMapsLettersThatHaveASingleCapital)
{
    const std::vector<std::pair<char16_t, char16_t>> pairs{
        {u'a', u'A'},           {u'z', u'Z'},           {u'A', u'A'},           {u'\u00E4', u'\u00C4'},
        {u'\u00FF', u'\u0178'}, {u'\u044F', u'\u042F'}, {u'\u03C3', u'\u03A3'}, {u'\u010D', u'\u010C'},
        {u'0', u'0'},           {u'-', u'-'},           {u'\u00DF', u'\u00DF'},
    };
    for (const auto& [letter, capital] : pairs) {
        EXPECT_EQ(static_cast<wchar_t>(capital), Text().CharUpper(static_cast<wchar_t>(letter)))
            << "U+" << Hex(std::wstring(1, static_cast<wchar_t>(letter)));
    }
}

TEST_F(TextContract, CharUpperNeverUppercasesIntoAscii)
{
    // Dotless i and long s become I and S only in linguistic casing.
    for (const char16_t letter : {u'\u0131', u'\u017F'}) {
        EXPECT_EQ(static_cast<wchar_t>(letter), Text().CharUpper(static_cast<wchar_t>(letter)));
    }
}

TEST_F(TextContract, Utf8ToWideConvertsTheWholeViewIntoUtf16Units)
{
    EXPECT_EQ(L"", Converted(""));
    EXPECT_EQ(std::wstring(L"a\0b", 3), Converted(std::string_view("a\0b", 3)));
    // The first and last character of each sequence length and around the surrogates.
    EXPECT_TRUE(SameUnits(Units(u"\u007F\u0080\u07FF\u0800\uD7FF\uE000\uFFFF"),
                          Converted("\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF")));
    EXPECT_TRUE(SameUnits(Units(u"\U00010000\U0001F600\U0010FFFF"),
                          Converted("\xF0\x90\x80\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF")));
    // A byte order mark, U+FFFD itself and the noncharacters are characters like any other.
    EXPECT_TRUE(SameUnits(Units(u"\uFEFF\uFFFD\uFFFE"), Converted("\xEF\xBB\xBF\xEF\xBF\xBD\xEF\xBF\xBE")));

    std::string longText;
    std::wstring expected;
    for (int i = 0; i < 300; ++i) {
        longText += "x\xC3\xA4";
        expected += Units(u"x\u00E4");
    }
    EXPECT_EQ(expected, Converted(longText));
}

struct IllFormed {
    std::string_view utf8;
    std::u16string_view windows;
};

TEST_F(TextContract, Utf8ToWideReplacesEachIllFormedSequenceWithOneReplacementCharacter)
{
    // As far as a sequence can still be well-formed it is one U+FFFD; a second byte that makes it
    // overlong, a surrogate or bigger than U+10FFFF is taken with the lead byte.
    const std::vector<IllFormed> cases{
        {"\xC3\x28", u"\uFFFD("},
        {"\x80", u"\uFFFD"},
        {"\x80\x80", u"\uFFFD\uFFFD"},
        {"a\x80"
         "b",
         u"a\uFFFDb"},
        {"\xC0\x80", u"\uFFFD\uFFFD"},
        {"\xC1\xBF", u"\uFFFD\uFFFD"},
        {"\xE0\x80\x80", u"\uFFFD\uFFFD"},
        {"\xE0\x9F\xBF", u"\uFFFD\uFFFD"},
        {"\xF0\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD"},
        {"\xED\xA0\x80", u"\uFFFD\uFFFD"},
        {"\xED\xBF\xBF", u"\uFFFD\uFFFD"},
        {"\xED\xA0\xBD\xED\xB8\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"\xF5\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xFC\x84\x80\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xFE", u"\uFFFD"},
        {"\xFF", u"\uFFFD"},
        {"\xE2\x82"
         "b",
         u"\uFFFDb"},
        {"\xF0\x9F\x98"
         "b",
         u"\uFFFDb"},
        {"\xE1\xC3\xA4", u"\uFFFD\u00E4"},
        {"\xC2\xC3\xA4", u"\uFFFD\u00E4"},
        {"\xF1\x80\x80\xC3\xA4", u"\uFFFD\u00E4"},
        {std::string_view("\xC3\0b", 3), std::u16string_view(u"\uFFFD\0b", 3)},
        {"\xF0\x9F\x98\x80\x80", u"\U0001F600\uFFFD"},
        // Cut short by the end of the input.
        {"\xC3", u"\uFFFD"},
        {"a\xC3", u"a\uFFFD"},
        {"\xE2\x82", u"\uFFFD"},
        {"\xF0\x9F\x98", u"\uFFFD"},
        {"\xE0\x80", u"\uFFFD"},
        {"\xF5\x80", u"\uFFFD\uFFFD"},
    };
    for (const auto& [utf8, windows] : cases) {
        EXPECT_TRUE(SameUnits(Units(windows), Converted(utf8))) << "source" << Hex(utf8);
    }
}

struct CutShort {
    std::string_view utf8;
    std::u16string_view windows;
    std::u16string_view wine;
};

TEST_F(TextContract, Utf8ToWideEndsASequenceCutShortByTheEndWhereItStopsFitting)
{
    const std::vector<CutShort> cases{
        {"\xE2\x28", u"\uFFFD(", u"\uFFFD"},
        {"\xF0\x9F\x28", u"\uFFFD(", u"\uFFFD"},
        {"\xF0\x80\x80", u"\uFFFD\uFFFD", u"\uFFFD"},
    };
    for (const auto& [utf8, windows, wine] : cases) {
        SCOPED_TRACE("source" + Hex(utf8));
        const std::wstring converted = Converted(utf8);
        ContractPlatform::ExpectWindowsBehaviour(
            SameUnits(Units(windows), converted),
            "a sequence cut short by the end of the input takes every byte left with it into "
            "one U+FFFD");
        if (ContractPlatform::RunningOnWine()) {
            EXPECT_TRUE(SameUnits(Units(wine), converted));
        }
    }
}

} // namespace
