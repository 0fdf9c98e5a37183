// Win32Text: message texts, UI languages, settings files and version resources. Case mapping and
// UTF-8, whose answers are fixed, are held to their contract in Tests/Contract/TextContract.cpp.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "Platform/Api/Platform.h"
#include "Platform/Win32/UniqueWin32Handles.h"
#include "TestFiles.h"
#include "WineDifferences.h"

using namespace Qx::Testing;

namespace {

using Qx::Platform::Files;
using Qx::Platform::Text;

bool EndsWith(const std::wstring& text, const std::wstring& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

TEST(Win32Text, FormatMessageFromSystemGivesTheTextOrMessageNotFound)
{
    std::wstring text;
    ASSERT_EQ(0u, Text().FormatMessage(Qx::Platform::kFormatMessageFromSystem, nullptr, 2, 0, text));
    // Windows words it in its own way, in the user's language, and ends it with CR LF.
    const std::wstring wineWording = L"File not found.\r\n";
    ExpectWindowsBehaviour(::testing::AssertionResult(EndsWith(text, L"\r\n") && text != wineWording) << ToUtf8(text),
                           "system message 2 reads \"File not found.\" in Wine's wording");
    if (RunningOnWine()) {
        EXPECT_EQ(wineWording, text);
    }

    std::wstring unknown = L"unchanged";
    EXPECT_EQ(317u, Text().FormatMessage(Qx::Platform::kFormatMessageFromSystem, nullptr, 0x80041234, 0, unknown));
    EXPECT_EQ(L"unchanged", unknown);
}

// The host upper-cases without user32; every UTF-16 unit must still come out as CharUpperW gives it.
TEST(Win32Text, CharUpperAgreesWithCharUpperWOnEveryUnit)
{
    std::vector<unsigned> differing;
    for (unsigned unit = 1; unit <= 0xFFFF; ++unit) {
        const auto c = static_cast<wchar_t>(unit);
        const auto expected = static_cast<wchar_t>(reinterpret_cast<std::uintptr_t>(
            ::CharUpperW(reinterpret_cast<LPWSTR>(static_cast<std::uintptr_t>(unit)))));
        if (Text().CharUpper(c) != expected) {
            differing.push_back(unit);
        }
    }
    EXPECT_EQ(differing, std::vector<unsigned>{});
}

TEST(Win32Text, ThreadPreferredUILanguagesAreADoubleNulTerminatedList)
{
    std::vector<wchar_t> list;
    ASSERT_EQ(0u, Text().GetThreadPreferredUILanguages(Qx::Platform::kMuiLanguageId | Qx::Platform::kMuiThreadLanguages,
                                                       list));
    ASSERT_GE(list.size(), 2u);
    EXPECT_EQ(L'\0', list[list.size() - 1]);
    EXPECT_EQ(L'\0', list[list.size() - 2]);
    EXPECT_NE(L'\0', list[0]);

    const wchar_t german[] = L"0407\0";
    EXPECT_TRUE(Text().SetThreadPreferredUILanguages(Qx::Platform::kMuiLanguageId, german));
    std::vector<wchar_t> after;
    ASSERT_EQ(0u, Text().GetThreadPreferredUILanguages(Qx::Platform::kMuiLanguageId | Qx::Platform::kMuiThreadLanguages,
                                                       after));
    const std::wstring first = after.data();
    ExpectWindowsBehaviour(::testing::AssertionResult(first == L"0407") << ToUtf8(first),
                           "SetThreadPreferredUILanguages succeeds but changes nothing");
    if (RunningOnWine()) {
        EXPECT_EQ(list, after);
    }
    EXPECT_TRUE(Text().SetThreadPreferredUILanguages(Qx::Platform::kMuiLanguageId, nullptr));
}

TEST(Win32Text, HasConsoleWindowFollowsTheConsole)
{
    // Whether a Windows process has a console window depends on how it was started (a detached or
    // hidden start has none), so what Windows does is no condition this test can state.
    EXPECT_EQ(GetConsoleWindow() != nullptr, Text().HasConsoleWindow());
    if (RunningOnWine()) {
        ExplainWineDifference("headless Wine gives no console window to any process");
        EXPECT_FALSE(Text().HasConsoleWindow());
    }
}

class Win32TextProfileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::array<wchar_t, MAX_PATH + 1> temp{};
        ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp.data()));
        m_path = std::wstring(temp.data()) + L"QxPlatformTests_" + std::to_wstring(GetCurrentProcessId()) + L".ini";
        const std::string content =
            "[Section]\r\nKey = \"quoted value\"\r\nEmpty=\r\nLong=" + std::string(300, 'v') + "\r\n";
        const Qx::Platform::UniqueKernelHandle file(
            CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_NE(INVALID_HANDLE_VALUE, file.get()) << GetLastError();
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
        ASSERT_EQ(content.size(), written);
    }

    void TearDown() override { EXPECT_TRUE(DeleteFileW(m_path.c_str())) << GetLastError(); }

    std::wstring m_path;
};

TEST_F(Win32TextProfileTest, ReadProfileStringReadsValuesDefaultsAndCutsLongValues)
{
    EXPECT_EQ(L"quoted value", Files().ReadProfileString(m_path, L"Section", L"Key", L"default", 260));
    EXPECT_EQ(L"", Files().ReadProfileString(m_path, L"Section", L"Empty", L"default", 260));
    EXPECT_EQ(L"default", Files().ReadProfileString(m_path, L"Section", L"Missing", L"default", 260));
    EXPECT_EQ(L"default", Files().ReadProfileString(m_path, L"Other", L"Key", L"default", 260));
    EXPECT_EQ(L"default", Files().ReadProfileString(m_path + L".missing", L"Section", L"Key", L"default", 260));
    EXPECT_EQ(std::wstring(259, L'v'), Files().ReadProfileString(m_path, L"Section", L"Long", L"default", 260));
}

TEST_F(Win32TextProfileTest, FileExistsForTheFileAndItsFolderOnly)
{
    EXPECT_TRUE(Files().FileExists(m_path));
    EXPECT_TRUE(Files().FileExists(m_path.substr(0, m_path.find_last_of(L'\\'))));
    EXPECT_FALSE(Files().FileExists(m_path + L".missing"));
}

TEST(Win32Text, ReadVersionInfoReadsTheHostsVersionResource)
{
    const std::wstring host = ExecutableDirectory() + L"QxServiceHost.exe";
    for (const bool neutral : {true, false}) {
        SCOPED_TRACE(neutral ? "neutral" : "not neutral");
        std::unique_ptr<Qx::Platform::IVersionBlock> block;
        ASSERT_EQ(Qx::kSOk, Files().ReadVersionInfo(host, neutral, block));
        ASSERT_NE(nullptr, block);
        std::uint16_t language = 0;
        std::uint16_t codePage = 0;
        ASSERT_TRUE(block->Translation(language, codePage));
        EXPECT_EQ(0x0409, language);
        EXPECT_EQ(1200, codePage);
        std::wstring value = L"unset";
        bool isNull = true;
        ASSERT_TRUE(block->QueryString(L"\\StringFileInfo\\040904b0\\FileVersion", value, isNull));
        EXPECT_FALSE(isNull);
        EXPECT_EQ(L"1.0.0.0", value);
        EXPECT_FALSE(block->QueryString(L"\\StringFileInfo\\040904b0\\NoSuchValue", value, isNull));
    }
}

TEST(Win32Text, ReadVersionInfoOfAFileWithoutVersionResourceFails)
{
    // This executable has no version resource: the result is HRESULT_FROM_WIN32 of the last error,
    // ERROR_RESOURCE_DATA_NOT_FOUND.
    const std::wstring self = ModulePath(nullptr);
    for (const bool neutral : {true, false}) {
        SCOPED_TRACE(neutral ? "neutral" : "not neutral");
        std::unique_ptr<Qx::Platform::IVersionBlock> block;
        EXPECT_EQ(Qx::MakeHResult(0x80070714u), Files().ReadVersionInfo(self, neutral, block));
        EXPECT_EQ(nullptr, block);
    }
}

} // namespace
