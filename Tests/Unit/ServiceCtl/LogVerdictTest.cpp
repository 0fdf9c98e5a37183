#include "LogVerdict.h"

#include <gtest/gtest.h>

using namespace QxServiceCtl;

namespace {

std::wstring Line(const wchar_t* time, const wchar_t* severity, const std::wstring& text)
{
    return std::wstring(L"2026-12-10 ") + time + L"    912    916 " + severity + L"   " + text + L"  [Source.cpp:12]";
}

const std::wstring kInitA = Line(L"10:00:00.000", L"DBG", L"  Init ServiceModule A.dll");
const std::wstring kInitB = Line(L"10:00:01.000", L"DBG", L"  Init ServiceModule B.dll");
const std::wstring kFailedB = Line(
    L"10:00:02.000", L"ERROR",
    L"ServiceModule B.dll failed the start after 4 ms: SmInitialize returned 0x80070002 (no file); file C:\\B.dll");
const std::wstring kStartFailed =
    Line(L"10:00:03.000", L"ERROR", L"Starting service modules failed: no file\x7F[EIP: 0x1] 0x80070002");
const std::wstring kCrashText = L"Crash 0xC0000005 at A.dll+0x13F3 on thread 916; dump C:\\T\\S_C0000005.dmp";
const std::wstring kCrash = Line(L"10:00:04.000", L"ERROR", kCrashText);

} // namespace

TEST(LogVerdict, ReadsRecordsAsTheLoggerWritesThem)
{
    const auto line = ParseLogLine(Line(L"13:54:50.769", L"DBG", L"    Exiting X  with  spaces"));
    ASSERT_TRUE(line);
    EXPECT_EQ(L"2026-12-10 13:54:50.769", line->time);
    EXPECT_EQ(L"DBG", line->severity);
    EXPECT_EQ(L"Exiting X  with  spaces", line->text);
    EXPECT_FALSE(ParseLogLine(L"==== Module log (LogLevel 3) ===="));
    EXPECT_FALSE(ParseLogLine(L"2026-12-10 13:54"));
    EXPECT_EQ(SecondsBetween(L"2026-12-31 23:59:58.000", L"2027-01-01 00:00:03.500"), 5);
    EXPECT_FALSE(SecondsBetween(L"yesterday", L"2027-01-01 00:00:03.500"));
}

// The most telling record wins, wherever it stands; a module entry that a later record ends is no
// longer pending.
TEST(LogVerdict, NamesTheFailureAndTheModuleThatHasNotReturned)
{
    const struct {
        std::vector<std::wstring> lines;
        std::wstring module;
        std::wstring failure;
        std::wstring pending;
    } cases[] = {
        {{kInitA, kInitB, kFailedB, kStartFailed}, L"B.dll", L"B.dll: SmInitialize returned 0x80070002 (no file)", L""},
        {{kStartFailed}, L"", L"Starting service modules failed: no file", L""},
        {{kInitA, kFailedB, kCrash}, L"A.dll", kCrashText, L""},
        {{Line(L"10:00:00.000", L"ERROR", L"Failed to load Nope.dll Error:126")},
         L"Nope.dll",
         L"Failed to load Nope.dll Error:126",
         L""},
        {{kInitA, kInitB}, L"", L"", L"B.dll SmInitialize 2026-12-10 10:00:01.000"},
        {{kInitA, Line(L"10:00:09.000", L"DBG", L"Exiting CServiceModule::Initialization"),
          Line(L"10:05:00.000", L"DBG", L"  Shutting down ServiceModule A.dll")},
         L"",
         L"",
         L"A.dll SmShutdown 2026-12-10 10:05:00.000"},
        {{kInitA, Line(L"10:00:00.100", L"DBG", L"Exiting CServiceModule::Initialization")}, L"", L"", L""},
    };
    for (const auto& entry : cases) {
        const LogVerdict verdict = ReadLogVerdict(entry.lines);
        SCOPED_TRACE(std::string(entry.failure.begin(), entry.failure.end()));
        EXPECT_EQ(entry.module, verdict.failedModule);
        EXPECT_EQ(entry.failure, verdict.failure);
        EXPECT_EQ(entry.pending, verdict.pendingModule.empty() ? L""
                                                               : verdict.pendingModule + L" " + verdict.pendingEntry +
                                                                     L" " + verdict.pendingSince);
    }
}
