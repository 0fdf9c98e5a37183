// The product's configured UI language ("Language" below its registry root) picks the language of
// the message texts the host shows.
//
// The host first lets the thread's preferred UI languages decide, with the configured language
// first in the list, and asks for the configured language by name only when that finds nothing.
// Wine's SetThreadPreferredUILanguages accepts the list and changes nothing, so under Wine the
// first lookup answers in the user's UI language.
#include "EventHarness.h"

using namespace Qx::Testing;

namespace {

// Product messages of QxMessages.dll: one in English and German, one in German only.
constexpr DWORD kModuleListInvalid = 0xC0011001;
constexpr DWORD kModuleRefusedGermanOnly = 0xC0011002;
constexpr const char* kEnglishText = "The service module list is invalid.";
constexpr const char* kGermanText = "Die Liste der Dienstmodule ist ung\xC3\xBCltig.";
constexpr const char* kGermanOnlyText = "Das Dienstmodul wurde abgelehnt.";

// The description in the failure record, up to the U+007F that starts its diagnostic suffix.
std::string FailureDescription(const LogFile& log)
{
    const std::string context = "Starting service modules failed: ";
    for (const auto& record : log.records) {
        if (record.text.rfind(context, 0) == 0) {
            const std::string rest = record.text.substr(context.size());
            return rest.substr(0, rest.find('\x7F'));
        }
    }
    return "<no failure record>";
}

class ProductLanguageTest : public EventTest {
protected:
    // Starts the service with module A failing with result; returns the log of that start.
    LogFile FailedStart(DWORD result)
    {
        SetModuleValue(L"QxTestModuleA", L"Result", result);
        EXPECT_EQ(0u, Start());
        EXPECT_TRUE(WaitForState(SERVICE_STOPPED));
        EXPECT_EQ(Hex(result), Hex(WaitForExit()));
        return ReadServiceLog();
    }

    void SetLanguage(DWORD language) { Override(m_registryRoot, L"Language").SetDword(language); }
};

TEST_F(ProductLanguageTest, FailureTextFollowsTheConfiguredLanguage)
{
    ASSERT_NO_FATAL_FAILURE(InstallProduct(false));
    WriteParameters(L"QxTestModuleA.dll", 1);

    const LogFile english = FailedStart(kModuleListInvalid);
    EXPECT_EQ(kEnglishText, FailureDescription(english)) << Dump(english);
    EXPECT_TRUE(HasEventDump(english, "Error", 0xC0010103, {{4, "%%1"}, {6, kEnglishText}})) << Dump(english);

    SetLanguage(0x0407);
    const LogFile german = FailedStart(kModuleListInvalid);
    ExpectWindowsBehaviour(::testing::AssertionResult(FailureDescription(german) == kGermanText) << Dump(german),
                           "the thread's preferred UI languages are ignored, so the user's language answers first");
    if (RunningOnWine()) {
        EXPECT_EQ(kEnglishText, FailureDescription(german)) << Dump(german);
    }
}

TEST_F(ProductLanguageTest, TextInTheConfiguredLanguageAloneIsFoundByName)
{
    ASSERT_NO_FATAL_FAILURE(InstallProduct(false));
    WriteParameters(L"QxTestModuleA.dll", 1);
    SetLanguage(0x0407);
    const LogFile log = FailedStart(kModuleRefusedGermanOnly);
    EXPECT_EQ(kGermanOnlyText, FailureDescription(log)) << Dump(log);
    EXPECT_TRUE(HasEventDump(log, "Error", 0xC0010103, {{4, "%%1"}, {6, kGermanOnlyText}})) << Dump(log);
}

} // namespace
