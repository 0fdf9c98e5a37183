#include "Common/UiLanguage.h"

#include <gtest/gtest.h>

#include "FakePlatform.h"
#include "ResKit/Logger/HRXEx.h"

using namespace Qx;
using namespace Qx::Testing;

namespace {

constexpr const wchar_t* kRoot = L"SOFTWARE\\Velquor\\Product";

std::vector<wchar_t> List(std::wstring_view entries)
{
    std::vector<wchar_t> list(entries.begin(), entries.end());
    list.push_back(L'\0');
    return list;
}

class UiLanguageTest : public ::testing::Test {
protected:
    FakePlatform platform;
};

TEST_F(UiLanguageTest, ServiceListPrefersEnglishOverTheSystemLanguage)
{
    platform.text.systemLanguage = 0x0407;
    {
        ThreadUILanguageScope scope(0x0419);
        EXPECT_TRUE(scope.Applied());
        ASSERT_EQ(platform.text.setLanguageCalls.size(), 1u);
        EXPECT_EQ(platform.text.setLanguageCalls[0].flags, Platform::kMuiLanguageId);
        EXPECT_EQ(platform.text.setLanguageCalls[0].list, List(std::wstring_view(L"0419\0"
                                                                                 L"0409\0"
                                                                                 L"0407\0",
                                                                                 15)));
    }
    ASSERT_EQ(platform.text.setLanguageCalls.size(), 2u);
    EXPECT_EQ(platform.text.setLanguageCalls[1].list, List(std::wstring_view(L"0409\0", 5)))
        << "the thread's previous languages come back";
}

TEST_F(UiLanguageTest, ConsoleListPrefersTheUserLanguageAndFiltersTheConsole)
{
    platform.text.console = true;
    platform.text.userLanguage = 0x040C;
    platform.text.systemLanguage = 0x0407;
    ThreadUILanguageScope scope(0x0409);
    EXPECT_TRUE(scope.Applied());
    ASSERT_EQ(platform.text.setLanguageCalls.size(), 2u);
    EXPECT_EQ(platform.text.setLanguageCalls[0].list, List(std::wstring_view(L"0409\0"
                                                                             L"040C\0"
                                                                             L"0407\0"
                                                                             L"0409\0",
                                                                             20)))
        << "a language that occurs twice is listed twice";
    EXPECT_EQ(platform.text.setLanguageCalls[1].flags, Platform::kMuiConsoleFilter);
    EXPECT_TRUE(platform.text.setLanguageCalls[1].list.empty());
}

TEST_F(UiLanguageTest, ScopeChangesNothingWhenTheLanguagesCannotBeSaved)
{
    platform.text.getLanguagesFails = true;
    {
        ThreadUILanguageScope scope(0x0419);
        EXPECT_FALSE(scope.Applied());
    }
    EXPECT_TRUE(platform.text.setLanguageCalls.empty());

    platform.text.getLanguagesFails = false;
    platform.text.setLanguagesSucceeds = false;
    ThreadUILanguageScope refused(0x0419);
    EXPECT_FALSE(refused.Applied());
}

TEST_F(UiLanguageTest, ConfiguredLanguageIsCachedForThirtySeconds)
{
    platform.registry.SetDword(kRoot, L"Language", 0x0419);
    ConfiguredUILanguage language(kRoot);
    platform.process.tickCount = 5000;
    EXPECT_EQ(language.Get(), 0x0419);

    platform.registry.SetDword(kRoot, L"Language", 0x0407);
    platform.process.tickCount = 35000;
    EXPECT_EQ(language.Get(), 0x0419) << "30000 ms after the read the cache still holds";
    platform.process.tickCount = 35001;
    EXPECT_EQ(language.Get(), 0x0407);

    platform.registry.SetDword(kRoot, L"Language", 0);
    platform.process.tickCount = 70000;
    EXPECT_EQ(language.Get(), 0x0407) << "0 keeps the previous language";

    platform.registry.SetQword(kRoot, L"Language", 0x0410);
    platform.process.tickCount = 110000;
    EXPECT_EQ(language.Get(), 0x0407) << "a 64-bit value does not fit and is ignored";

    platform.process.tickCount = 100;
    platform.registry.SetDword(kRoot, L"Language", 0x0410);
    EXPECT_EQ(language.Get(), 0x0410) << "a clock that went back refreshes";

    EXPECT_EQ(ConfiguredUILanguage(L"SOFTWARE\\Missing").Get(), 0x0409);
    EXPECT_EQ(ConfiguredUILanguage(L"").Get(), 0x0409);
}

TEST_F(UiLanguageTest, MessageLookupFallsBackToExplicitLanguages)
{
    auto* library = reinterpret_cast<Platform::NativeHandle>(0x5000);
    platform.text.messages[{library, 7, 0x0400}] = L"neutral";
    EXPECT_EQ(FormatMessageText(7, Platform::kFormatMessageFromHModule, library), L"neutral");
    using Key = FakeText::MessageKey;
    EXPECT_EQ(platform.text.formatMessageCalls,
              (std::vector<Key>{{library, 7, 0}, {library, 7, 0x0409}, {library, 7, 0x0400}}));

    platform.text.formatMessageCalls.clear();
    platform.text.getLanguagesFails = true;
    platform.text.messages[{library, 7, 0x0409}] = L"english";
    EXPECT_EQ(FormatMessageText(7, Platform::kFormatMessageFromHModule, library), L"english");
    EXPECT_EQ(platform.text.formatMessageCalls, (std::vector<Key>{{library, 7, 0x0409}}))
        << "without the scope the thread's languages are not asked";

    EXPECT_EQ(FormatMessageText(8, Platform::kFormatMessageFromHModule, library), L"");
}

TEST_F(UiLanguageTest, ErrorTextPrefersTheProductLibraryAndDropsTheLineEnd)
{
    platform.text.messages[{nullptr, 2, 0x0409}] = L"File not found.\r\n";
    platform.text.messages[{nullptr, 0x80070057u, 0x0409}] = L"\r\n";
    EXPECT_EQ(GetErrorText(2), L"File not found.");
    EXPECT_EQ(GetErrorText(0x80070057u), L"");
    EXPECT_EQ(GetErrorText(0x80041234u), L"");

    auto& messages = platform.libraries.Add(L"QxMessages.dll");
    messages.dataFileOnly = true;
    platform.text.messages[{&messages, 2, 0x0409}] = L"Product text.\r\n";
    EXPECT_EQ(GetErrorText(2), L"Product text.");
}

TEST_F(UiLanguageTest, DescriptionPrefersComErrorInformation)
{
    platform.text.messages[{nullptr, 0x80070002u, 0x0409}] = L"File not found.\r\n";
    const auto readable = HostErrorInfo(L"Readable\x7Fsuffix");
    EXPECT_EQ(GetErrorDescription(kEFileNotFound, readable), L"Readable");
    EXPECT_EQ(GetErrorDescription(kEFileNotFound, HostErrorInfo(L"")), L"File not found.");
    EXPECT_EQ(GetErrorDescription(kEFileNotFound, HostErrorInfo(L"\x7Fonly suffix")), L"File not found.");
    EXPECT_EQ(GetErrorDescription(MakeHResult(0x80041234u), HostErrorInfo(L"")), L"<Unknown error>");

    platform.process.threadErrorInfo = HostErrorInfo(L"thread's own");
    EXPECT_EQ(GetErrorDescription(kEFileNotFound, nullptr), L"thread's own");
    EXPECT_EQ(platform.process.threadErrorInfo, nullptr) << "taking it clears it from the thread";
    EXPECT_EQ(GetErrorDescription(kEFileNotFound, nullptr), L"File not found.");
}

} // namespace
