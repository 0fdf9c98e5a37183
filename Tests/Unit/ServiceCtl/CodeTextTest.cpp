#include "CodeText.h"

#include <gtest/gtest.h>

using namespace QxServiceCtl;

TEST(CodeText, DecodesEachKindOfCode)
{
    EXPECT_EQ(L"0x00000000, success", DescribeCode(DecodeCode(0)));
    EXPECT_EQ(L"0x00000435, Win32 error 1077", DescribeCode(DecodeCode(1077)));
    const DecodedCode fromWin32 = DecodeCode(0x8007007E);
    EXPECT_EQ(CodeKind::HResultFromWin32, fromWin32.kind);
    EXPECT_EQ(126u, fromWin32.win32Error);
    EXPECT_EQ(L"0x8007007E, HRESULT of Win32 error 126", DescribeCode(fromWin32));
    EXPECT_EQ(L"0x80004005, HRESULT", DescribeCode(DecodeCode(0x80004005)));
    EXPECT_EQ(L"0xC0000005, NTSTATUS (an exception or crash code)", DescribeCode(DecodeCode(0xC0000005)));
    EXPECT_EQ(L"0x40010101, event or message of the product", DescribeCode(DecodeCode(0x40010101)));
    EXPECT_EQ(L"0xC0010103, event or message of the product", DescribeCode(DecodeCode(0xC0010103)))
        << "an event, not an NTSTATUS";
    EXPECT_EQ(L"0x00000002, Win32 error 2", DescribeCode(DecodeCode(2))) << "never a display name";
    EXPECT_EQ(L"0x00020005, message identifier", DescribeCode(DecodeCode(0x00020005)));
    EXPECT_EQ(CodeKind::NtStatus, DecodeCode(0x80000003).kind) << "the breakpoint exception";
    EXPECT_EQ(CodeKind::HResult, DecodeCode(0x8000000A).kind) << "E_PENDING";
}

TEST(CodeText, KnowsTheHostsOwnCodesBeforeAnyText)
{
    for (const std::uint32_t code :
         {3u, 1063u, 0xFFFFFFFFu, 0xC0000005u, 0xC0000374u, 0xC0000409u, 0xE06D7363u, 0x20474343u, 0x40010101u,
          0x40010102u, 0xC0010103u, 0x80000003u, 0xC0000094u, 0xC00000FDu}) {
        EXPECT_TRUE(KnownMeaning(code)) << Hex8(code).c_str();
    }
    EXPECT_EQ(L"event: the service could not be started", KnownMeaning(0xC0010103).value_or(L""));
    EXPECT_FALSE(KnownMeaning(2));
}

TEST(CodeText, ParsesCodesAsOperatorsSeeThem)
{
    EXPECT_EQ(0x80004005u, ParseCode(L"-2147467259").value_or(0));
    EXPECT_EQ(0x80000000u, ParseCode(L"-2147483648").value_or(0));
    EXPECT_EQ(0xFFFFFFFFu, ParseCode(L"-1").value_or(0));
    EXPECT_EQ(2147942487u, ParseCode(L"2147942487").value_or(0));
    EXPECT_EQ(0x8007007Eu, ParseCode(L"0x8007007E").value_or(0));
    EXPECT_FALSE(ParseCode(L"-2147483649"));
    EXPECT_FALSE(ParseCode(L"-0x5"));
    EXPECT_FALSE(ParseCode(L"E_FAIL"));
}

TEST(CodeText, NamesStatesAndControls)
{
    EXPECT_EQ(L"RUNNING", ServiceStateName(4));
    EXPECT_EQ(L"unknown state 9", ServiceStateName(9));
    EXPECT_EQ(L"none", AcceptedControlNames(0));
    EXPECT_EQ(L"STOP, SHUTDOWN", AcceptedControlNames(0x5));
    EXPECT_EQ(L"PRESHUTDOWN, 0x00001000", AcceptedControlNames(0x1100));
}

TEST(CodeText, StatusExitCodesFollowTheStateAndTheProcess)
{
    constexpr std::uint32_t kStopped = 1;
    constexpr std::uint32_t kStartPending = 2;
    constexpr std::uint32_t kRunning = 4;
    EXPECT_EQ(kStatusRunning, StatusExitCode(kRunning, false, 0));
    EXPECT_EQ(kStatusFailedOrDead, StatusExitCode(kRunning, true, 0)) << "a dead process behind RUNNING";
    EXPECT_EQ(kStatusNotRunning, StatusExitCode(kStopped, false, 0));
    EXPECT_EQ(kStatusFailedOrDead, StatusExitCode(kStopped, false, 0x8007007E));
    EXPECT_EQ(kStatusNotRunning, StatusExitCode(kStopped, false, 1077)) << "never started is no failure";
    EXPECT_EQ(kStatusNotRunning, StatusExitCode(kStartPending, false, 0));
}
