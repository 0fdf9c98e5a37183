// QxMessages.dll as the host uses it: a resource-only library loaded as a data file and asked for
// texts by identifier and language, with inserts left as they are. The service events are looked up
// by the identifiers the host reports them with, which the event log turns into these texts.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "Common/audit/EventRecord.h"
#include "QxMessagesIds.h"

namespace {

constexpr WORD kEnglish = 0x0409;
constexpr WORD kGerman = 0x0407;
constexpr WORD kFrench = 0x040C;

struct Lookup {
    DWORD error = ERROR_SUCCESS;
    std::wstring text;
};

Lookup FormatFromModule(HMODULE module, std::uint32_t id, WORD language)
{
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                       module, id, language, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    Lookup result;
    if (length == 0) {
        result.error = GetLastError();
        return result;
    }
    result.text.assign(buffer, length);
    LocalFree(buffer);
    return result;
}

class QxMessagesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_module = LoadLibraryExW(L"QxMessages.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(m_module, nullptr) << "LoadLibraryExW failed with " << GetLastError();
    }

    void TearDown() override
    {
        if (m_module != nullptr) {
            EXPECT_TRUE(FreeLibrary(m_module));
        }
    }

    void ExpectText(std::uint32_t id, WORD language, const std::wstring& expected)
    {
        const Lookup lookup = FormatFromModule(m_module, id, language);
        EXPECT_EQ(lookup.error, static_cast<DWORD>(ERROR_SUCCESS)) << std::hex << id << " in " << language;
        EXPECT_EQ(lookup.text, expected) << std::hex << id << " in " << language;
    }

    HMODULE m_module = nullptr;
};

TEST_F(QxMessagesTest, HostsServiceEventsInEnglishAndGermanKeepTheirInserts)
{
    ExpectText(EventRecord::kServiceStarted, kEnglish, L"The service %4 has started.\r\n");
    ExpectText(EventRecord::kServiceStarted, kGerman, L"Der Dienst %4 wurde gestartet.\r\n");
    ExpectText(EventRecord::kServiceStopped, kEnglish, L"The service %4 has stopped.\r\n");
    ExpectText(EventRecord::kServiceStopped, kGerman, L"Der Dienst %4 wurde beendet.\r\n");
    ExpectText(EventRecord::kServiceStartFailed, kEnglish, L"The service %4 could not be started: %6\r\n");
    ExpectText(EventRecord::kServiceStartFailed, kGerman, L"Der Dienst %4 konnte nicht gestartet werden: %6\r\n");
}

TEST_F(QxMessagesTest, DisplayNamesAndErrorTextInEnglishAndGerman)
{
    using namespace QxMessages;
    ExpectText(kMsgDisplayNameSample, kEnglish, L"Qx Sample Service\r\n");
    ExpectText(kMsgDisplayNameSample, kGerman, L"Qx Beispieldienst\r\n");
    ExpectText(kMsgDisplayNameTest, kEnglish, L"Qx Test Service\r\n");
    ExpectText(kMsgDisplayNameTest, kGerman, L"Qx Testdienst\r\n");
    ExpectText(kMsgDisplayNameDemo, kEnglish, L"Qx Demo Service\r\n");
    ExpectText(kMsgDisplayNameDemo, kGerman, L"Qx Demodienst\r\n");
    ExpectText(kMsgServiceModuleListInvalid, kEnglish, L"The service module list is invalid.\r\n");
    ExpectText(kMsgServiceModuleListInvalid, kGerman, L"Die Liste der Dienstmodule ist ung\u00FCltig.\r\n");
}

TEST_F(QxMessagesTest, UnknownIdentifiersAndLanguagesFail)
{
    EXPECT_EQ(FormatFromModule(m_module, 0x40010199, kEnglish).error, static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
    EXPECT_EQ(FormatFromModule(m_module, 0x00000004, kGerman).error, static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
    EXPECT_EQ(FormatFromModule(m_module, EventRecord::kServiceStarted, kFrench).error,
              static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND));
    // The customer bit is not part of the product's error text identifier.
    EXPECT_EQ(FormatFromModule(m_module, QxMessages::kMsgServiceModuleListInvalid | 0x20000000u, kEnglish).error,
              static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
}

} // namespace
