#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "LoggedPlatformTest.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Testing;

namespace {

using LogRecordTest = LoggedPlatformTest;

HRXEx MakeError(HRESULT hr, std::vector<void*> addresses, Platform::ErrorInfo info = nullptr)
{
    HRXEx::ReturnAddresses list{};
    std::copy(addresses.begin(), addresses.end(), list.begin());
    return HRXEx(hr, list, std::move(info));
}

TEST_F(LogRecordTest, AppendsEveryOperandKind)
{
    const wchar_t* nullText = nullptr;
    const char* nullNarrow = nullptr;
    QX_LOG(1, L"wide ", nullText, " narrow-\xC3\xA4 ", nullNarrow, L" ", -5, L" ", 4294967295u, L" ",
           18446744073709551615ULL, L" ", true, L" ", false, L" ", reinterpret_cast<const void*>(0x1234), L" ",
           std::wstring(L"owned"));
    QX_LOG(1, std::numeric_limits<int>::min(), L" ", std::numeric_limits<long long>::min(), L" ", 0, L" ", -1L, L" ",
           7UL, L" ", std::string("std"), L" ", reinterpret_cast<const void*>(~std::uintptr_t{0}));
    ASSERT_EQ(logger.records.size(), 2u);
    EXPECT_EQ(logger.records[0].text, L"wide <NULL> narrow-\u00E4 <NULL> -5 4294967295 18446744073709551615 true "
                                      L"false 0x0000000000001234 owned");
    EXPECT_EQ(logger.records[1].text, L"-2147483648 -9223372036854775808 0 -1 7 std 0xFFFFFFFFFFFFFFFF");
}

TEST_F(LogRecordTest, SeverityFollowsTheLevelUnlessNamed)
{
    QX_LOG(1, L"key event");
    QX_LOG(3, L"detail");
    QX_LOG_ERROR(L"failed: ");
    QX_LOG_AT(2, LogUtils::kSeverityWarn, L"warned");
    ASSERT_EQ(logger.records.size(), 4u);
    EXPECT_EQ(logger.records[0].severity, L"INFO");
    EXPECT_EQ(logger.records[1].severity, L"DBG");
    EXPECT_EQ(logger.records[2].severity, L"ERROR");
    EXPECT_EQ(logger.records[2].level, 1);
    EXPECT_EQ(logger.records[3].severity, L"WARN");
    EXPECT_TRUE(logger.records[0].sourceFile.ends_with(L"LogRecordTest.cpp"));
    EXPECT_EQ(logger.records[0].line, __LINE__ - 11);
}

TEST_F(LogRecordTest, DisabledLevelFormatsNothing)
{
    int formatted = 0;
    auto operand = [&formatted] {
        ++formatted;
        return L"text";
    };
    const int callsBefore = logger.isEnabledCalls;
    QX_LOG(4, operand());
    EXPECT_EQ(formatted, 0);
    EXPECT_EQ(logger.isEnabledCalls - callsBefore, 1) << "a disabled statement costs one IsEnabled call";
    EXPECT_TRUE(logger.records.empty());
}

// Levels without a bit in the published mask are the logger's to answer.
TEST_F(LogRecordTest, LevelsOutsideThePublishedMaskAskTheLogger)
{
    LoggerLevelMask noLevels{0};
    const ScopedLogger published(logger, &noLevels);
    logger.alsoEnabled = {32, -1};
    const int callsBefore = logger.isEnabledCalls;
    QX_LOG(1, L"dropped");
    QX_LOG(32, L"thirty-two");
    QX_LOG(-1, L"minus one");
    EXPECT_EQ(logger.isEnabledCalls - callsBefore, 2);
    EXPECT_EQ(logger.Texts(), (std::vector<std::wstring>{L"thirty-two", L"minus one"}));
}

TEST_F(LogRecordTest, LongMessagesAreWrittenWhole)
{
    const std::wstring text(3000, L'x');
    QX_LOG(1, text, L"!");
    const std::wstring fits(LogUtils::LogRecord::kReservedCharacters - 2, L'y');
    QX_LOG(1, fits, -7);
    QX_LOG(1, fits, "abc", 4294967295u, reinterpret_cast<const void*>(0xAB));
    ASSERT_EQ(logger.records.size(), 3u);
    EXPECT_EQ(logger.records[0].text, text + L"!");
    EXPECT_EQ(logger.records[1].text, fits + L"-7");
    EXPECT_EQ(logger.records[2].text, fits + L"abc4294967295" + L"0x00000000000000AB");

    const LogUtils::LogRecord shortRecord = LogUtils::LogRecord::Build(3, "short ", 1);
    const LogUtils::LogRecord longRecord = LogUtils::LogRecord::Build(3, text, 2);
    // NOLINTNEXTLINE(performance-unnecessary-copy-initialization): the copy is under test
    const LogUtils::LogRecord shortCopy(shortRecord);
    // NOLINTNEXTLINE(performance-unnecessary-copy-initialization): the copy is under test
    const LogUtils::LogRecord longCopy(longRecord);
    EXPECT_EQ(shortCopy.Text(), L"short 1");
    EXPECT_EQ(longCopy.Text(), text + L"2");
}

TEST_F(LogRecordTest, ExceptionTextCarriesDescriptionAddressesAndCode)
{
    const auto known = HostErrorInfo(L"Readable\x7F[EIP: 0x1] 0x80004005");
    EXPECT_EQ(LogUtils::ExceptionText(
                  MakeError(kEFail, {reinterpret_cast<void*>(0x10), reinterpret_cast<void*>(0x20)}, known)),
              L"Readable\x7F[EIP: 0x0000000000000010,0x0000000000000020] 0x80004005");
    EXPECT_EQ(LogUtils::ExceptionText(MakeError(Qx::MakeHResult(0x80041234u), {})),
              L"<Unknown error>\x7F[EIP: ] 0x80041234");

    std::vector<void*> five;
    for (std::uintptr_t i = 1; i <= 5; ++i) {
        five.push_back(reinterpret_cast<void*>(i));
    }
    const std::wstring text = LogUtils::ExceptionText(MakeError(kEInvalidArg, five, known));
    EXPECT_TRUE(text.ends_with(L",0x0000000000000005] 0x80070057")) << text;
}

// The describer comes from above the logging layer; without one the failure keeps its code.
TEST_F(LogRecordTest, ExceptionTextWithoutADescriberNamesNoDescription)
{
    const LogUtils::ErrorDescriber installed = LogUtils::InstallErrorDescriber(nullptr);
    const auto known = HostErrorInfo(L"Readable");
    const std::wstring text = LogUtils::ExceptionText(MakeError(kEFail, {reinterpret_cast<void*>(0x10)}, known));
    LogUtils::InstallErrorDescriber(installed);
    EXPECT_EQ(text, L"<Unknown error>\x7F[EIP: 0x0000000000000010] 0x80004005");
}

// Building the text looks the error's message up. One exception logged where it is raised, where
// it is caught and when it is raised again is looked up once, and its copies share the text.
TEST_F(LogRecordTest, AnExceptionsTextIsBuiltOnce)
{
    static int lookups = 0;
    lookups = 0;
    const LogUtils::ErrorDescriber installed = LogUtils::InstallErrorDescriber([](HRESULT, const Platform::ErrorInfo&) {
        ++lookups;
        return std::wstring(L"Looked up");
    });
    const HRXEx error = MakeError(kEFail, {reinterpret_cast<void*>(0x10)});
    const std::wstring text = LogUtils::ExceptionText(error);
    const HRXEx copy = error; // NOLINT(performance-unnecessary-copy-initialization): the copy is under test
    QX_LOG(1, "caught: ", error);
    const std::wstring copyText = LogUtils::ExceptionText(copy);
    LogUtils::InstallErrorDescriber(installed);
    EXPECT_EQ(lookups, 1);
    EXPECT_EQ(text, L"Looked up\x7F[EIP: 0x0000000000000010] 0x80004005");
    EXPECT_EQ(copyText, text);
    ASSERT_EQ(logger.records.size(), 1u);
    EXPECT_EQ(logger.records[0].text, L"caught: " + text);
}

TEST_F(LogRecordTest, RaisingTakesComErrorInformationOnlyForFailures)
{
    platform.process.returnAddresses = {reinterpret_cast<void*>(0xAB)};
    platform.process.threadErrorInfo = HostErrorInfo(L"from COM");
    EXPECT_NO_THROW(RaiseIfFailed(kSFalse));
    EXPECT_NO_THROW(RaiseWin32(0));
    const auto failed = CaughtBy([] { RaiseIfFailed(kEFail); });
    ASSERT_TRUE(failed.has_value());
    EXPECT_EQ(failed->Result(), kEFail);
    ASSERT_NE(failed->ErrorInfo(), nullptr);
    EXPECT_EQ(failed->ErrorInfo()->Description(), L"from COM");
    EXPECT_EQ(failed->Addresses()[0], reinterpret_cast<void*>(0xAB));
    EXPECT_EQ(failed->Addresses()[1], nullptr);
    const HRXEx copy = *failed; // NOLINT(performance-unnecessary-copy-initialization): the copy is under test
    EXPECT_EQ(copy.ErrorInfo(), failed->ErrorInfo()) << "a copy shares the error information";

    platform.process.threadErrorInfo = HostErrorInfo(L"stale");
    const auto win32 = CaughtBy([] { RaiseWin32(1063); });
    ASSERT_TRUE(win32.has_value());
    EXPECT_EQ(win32->Result(), Qx::MakeHResult(0x80070427u));
    EXPECT_EQ(win32->ErrorInfo(), nullptr) << "the direct Win32 form takes no COM error information";
    platform.process.SetLastError(5);
    const auto lastError = CaughtBy([] { RaiseLastError(); });
    ASSERT_TRUE(lastError.has_value());
    EXPECT_EQ(lastError->Result(), Qx::MakeHResult(0x80070005u));
    EXPECT_NE(lastError->ErrorInfo(), nullptr);
}

TEST_F(LogRecordTest, RecordAttributesAreHandedOutOnce)
{
    EXPECT_EQ(LogUtils::AttributeIndices().severity, 0);
    EXPECT_EQ(LogUtils::AttributeIndices().second, 1);
    EXPECT_EQ(LogUtils::AllocRecordAttribute(), 2);
    EXPECT_EQ(LogUtils::AllocRecordAttribute(), 2);
    LogUtils::LogRecord record(3);
    EXPECT_EQ(record.Attribute(LogUtils::AttributeIndices().second), 0);
}

} // namespace
