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
    EXPECT_EQ(L"0x40010101, message or event identifier", DescribeCode(DecodeCode(0x40010101)));
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
