// QxWatchdogAgent.dll as the host binds it: loaded by name, the four exports resolved, WAInitW and
// WADeinit called; what they record shows in the status file beside the DLL (the bin folder).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "StandInTestSupport.h"

namespace {

using namespace Qx::Testing;

using WAInitWFunction = int (*)(const wchar_t*);
using WAVoidFunction = int (*)();

std::wstring StatusPath(const std::wstring& fileNamePart)
{
    return ExecutableDirectory() + L"QxWatchdogAgent." + fileNamePart + L".status";
}

std::string Pid()
{
    return std::to_string(GetCurrentProcessId());
}

// The local time and the counter taken just before and just after a call.
struct CallBounds {
    std::string earliest;
    std::string latest;
    long long qpcBefore = 0;
    long long qpcAfter = 0;
};

CallBounds Bracket(const std::function<void()>& call)
{
    CallBounds bounds;
    bounds.earliest = LocalTimeStamp();
    bounds.qpcBefore = QpcNow();
    call();
    bounds.qpcAfter = QpcNow();
    bounds.latest = LocalTimeStamp();
    return bounds;
}

// "<name>=<YYYY-MM-DD HH:MM:SS.mmm> qpc=<n>": checks the form, that the time and the counter lie
// within the bounds taken around the call, and gives the counter.
long long ExpectCallLine(const std::string& line, const std::string& name, const CallBounds& bounds)
{
    const std::string prefix = name + "=";
    EXPECT_EQ(line.substr(0, prefix.size()), prefix) << line;
    const std::string stamp = line.substr(prefix.size(), 23);
    EXPECT_TRUE(IsTimeStamp(stamp)) << line;
    EXPECT_LE(bounds.earliest, stamp) << line;
    EXPECT_LE(stamp, bounds.latest) << line;
    const std::string counterPrefix = " qpc=";
    const std::string rest = line.substr(std::min(line.size(), prefix.size() + 23));
    EXPECT_EQ(rest.substr(0, counterPrefix.size()), counterPrefix) << line;
    const std::string digits = rest.substr(std::min(rest.size(), counterPrefix.size()));
    EXPECT_FALSE(digits.empty()) << line;
    EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos) << line;
    const long long counter = digits.empty() ? -1 : std::stoll(digits);
    EXPECT_GE(counter, bounds.qpcBefore) << line;
    EXPECT_LE(counter, bounds.qpcAfter) << line;
    return counter;
}

// Each test loads its own copy of the agent, so it starts without a recorded service.
class QxWatchdogAgentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_module = LoadLibraryW(L"QxWatchdogAgent.dll");
        ASSERT_NE(m_module, nullptr) << "LoadLibraryW failed with " << GetLastError();
        m_init = Resolve<WAInitWFunction>("WAInitW");
        m_deinit = Resolve<WAVoidFunction>("WADeinit");
        m_onEnter = Resolve<WAVoidFunction>("WAOnEnter");
        m_onExit = Resolve<WAVoidFunction>("WAOnExit");
        ASSERT_TRUE(m_init != nullptr && m_deinit != nullptr && m_onEnter != nullptr && m_onExit != nullptr);
    }

    void TearDown() override
    {
        if (m_module != nullptr) {
            EXPECT_TRUE(FreeLibrary(m_module));
            EXPECT_EQ(GetModuleHandleW(L"QxWatchdogAgent.dll"), nullptr) << "QxWatchdogAgent.dll stayed loaded";
        }
        for (const std::wstring& path : m_statusFiles) {
            DeleteFileW(path.c_str());
        }
    }

    template <typename Function>
    Function Resolve(const char* name)
    {
        return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(m_module, name)));
    }

    // The status file of a name, removed before and after the test.
    std::wstring OwnStatusFile(const std::wstring& fileNamePart)
    {
        m_statusFiles.push_back(StatusPath(fileNamePart));
        DeleteFileW(m_statusFiles.back().c_str());
        return m_statusFiles.back();
    }

    static std::wstring UniqueServiceName(const std::wstring& purpose)
    {
        return L"StandIns-WA-" + purpose + L"-" + std::to_wstring(GetCurrentProcessId());
    }

    HMODULE m_module = nullptr;
    WAInitWFunction m_init = nullptr;
    WAVoidFunction m_deinit = nullptr;
    WAVoidFunction m_onEnter = nullptr;
    WAVoidFunction m_onExit = nullptr;
    std::vector<std::wstring> m_statusFiles;
};

TEST_F(QxWatchdogAgentTest, StartAndStopAreRecordedWithNameTimesAndState)
{
    const std::wstring service = UniqueServiceName(L"Life");
    const std::string serviceUtf8(service.begin(), service.end());
    const std::wstring statusFile = OwnStatusFile(service);

    const CallBounds init = Bracket([&] { EXPECT_EQ(m_init(service.c_str()), 0); });

    const std::string running = ReadFileBytes(statusFile);
    ASSERT_FALSE(running.empty());
    EXPECT_EQ(running[0], 's') << "UTF-8 without a byte order mark";
    const std::vector<std::string> runningLines = SplitCrLfLines(running);
    ASSERT_EQ(runningLines.size(), 4u) << running;
    EXPECT_EQ(runningLines[0], "service=" + serviceUtf8);
    EXPECT_EQ(runningLines[1], "pid=" + Pid());
    const long long initCounter = ExpectCallLine(runningLines[2], "WAInitW", init);
    EXPECT_EQ(runningLines[3], "state=running");

    // The host never calls these two; they must exist, succeed and leave the record alone.
    EXPECT_EQ(m_onEnter(), 0);
    EXPECT_EQ(m_onExit(), 0);
    EXPECT_EQ(ReadFileBytes(statusFile), running);

    const CallBounds deinit = Bracket([&] { EXPECT_EQ(m_deinit(), 0); });

    const std::vector<std::string> stoppedLines = SplitCrLfLines(ReadFileBytes(statusFile));
    ASSERT_EQ(stoppedLines.size(), 5u);
    EXPECT_EQ(stoppedLines[0], "service=" + serviceUtf8) << "WADeinit keeps the name WAInitW was given";
    EXPECT_EQ(stoppedLines[1], "pid=" + Pid());
    EXPECT_EQ(stoppedLines[2], runningLines[2]) << "the start keeps its time";
    const long long deinitCounter = ExpectCallLine(stoppedLines[3], "WADeinit", deinit);
    EXPECT_LT(initCounter, deinitCounter);
    EXPECT_EQ(stoppedLines[4], "state=stopped");
    EXPECT_FALSE(FileExists(StatusPath(L"(none)"))) << "a named agent writes only the file of its name";
}

TEST_F(QxWatchdogAgentTest, StopWithoutStartIsRecordedUnderNone)
{
    const std::wstring statusFile = OwnStatusFile(L"(none)");
    const CallBounds deinit = Bracket([&] { EXPECT_EQ(m_deinit(), 0); });

    const std::vector<std::string> lines = SplitCrLfLines(ReadFileBytes(statusFile));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "service=(none)");
    EXPECT_EQ(lines[1], "pid=" + Pid());
    ExpectCallLine(lines[2], "WADeinit", deinit);
    EXPECT_EQ(lines[3], "state=stopped");
}

TEST_F(QxWatchdogAgentTest, InvalidNamesAreRefusedWithoutBeingRecorded)
{
    const std::wstring noneFile = OwnStatusFile(L"(none)");
    const std::wstring emptyNameFile = OwnStatusFile(L"");
    EXPECT_EQ(m_init(nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(m_init(L""), ERROR_INVALID_PARAMETER);
    const std::wstring tooLong(256, L'x');
    EXPECT_EQ(m_init(tooLong.c_str()), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(FileExists(noneFile));
    EXPECT_FALSE(FileExists(emptyNameFile));
    EXPECT_FALSE(FileExists(StatusPath(tooLong)));

    // Still nothing recorded: the stop that follows knows no service.
    EXPECT_EQ(m_deinit(), 0);
    const std::vector<std::string> lines = SplitCrLfLines(ReadFileBytes(noneFile));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "service=(none)");
    EXPECT_EQ(lines[2].substr(0, 9), "WADeinit=");
}

TEST_F(QxWatchdogAgentTest, EachNameGetsItsOwnFileWithForbiddenCharactersReplaced)
{
    const std::wstring pid = std::to_wstring(GetCurrentProcessId());
    const std::wstring awkward = L"StandIns-WA:Odd|Name?\x00C4" + pid;
    const std::wstring awkwardFile = OwnStatusFile(L"StandIns-WA_Odd_Name_\x00C4" + pid);
    EXPECT_EQ(m_init(awkward.c_str()), 0);
    const std::vector<std::string> awkwardLines = SplitCrLfLines(ReadFileBytes(awkwardFile));
    ASSERT_EQ(awkwardLines.size(), 4u);
    const std::string pidUtf8(pid.begin(), pid.end());
    EXPECT_EQ(awkwardLines[0], "service=StandIns-WA:Odd|Name?\xC3\x84" + pidUtf8) << "UTF-8, unchanged";

    EXPECT_EQ(m_deinit(), 0);
    const std::vector<std::string> awkwardStopped = SplitCrLfLines(ReadFileBytes(awkwardFile));
    ASSERT_EQ(awkwardStopped.size(), 5u);

    // A later start under another name writes its own file, without the earlier stop, and leaves the
    // first file as it was.
    const std::wstring second = UniqueServiceName(L"Second");
    const std::string secondUtf8(second.begin(), second.end());
    const std::wstring secondFile = OwnStatusFile(second);
    EXPECT_EQ(m_init(second.c_str()), 0);
    const std::vector<std::string> secondLines = SplitCrLfLines(ReadFileBytes(secondFile));
    ASSERT_EQ(secondLines.size(), 4u);
    EXPECT_EQ(secondLines[0], "service=" + secondUtf8);
    EXPECT_EQ(secondLines[2].substr(0, 8), "WAInitW=");
    EXPECT_NE(secondLines[2], awkwardStopped[2]);
    EXPECT_EQ(secondLines[3], "state=running");
    EXPECT_EQ(SplitCrLfLines(ReadFileBytes(awkwardFile)), awkwardStopped);
}

// The file is opened without write sharing, so unserialised calls would fail with a sharing
// violation or leave a mix of two contents.
TEST_F(QxWatchdogAgentTest, ConcurrentCallsAllSucceedAndLeaveOneWholeRecord)
{
    const std::wstring service = UniqueServiceName(L"Busy");
    const std::wstring statusFile = OwnStatusFile(service);
    constexpr int kThreads = 4;
    constexpr int kRounds = 50;
    const std::vector<int> failures = FailuresOnThreads(kThreads, [&](int) {
        int failed = 0;
        for (int round = 0; round < kRounds; ++round) {
            failed += m_init(service.c_str()) != 0 ? 1 : 0;
            failed += m_deinit() != 0 ? 1 : 0;
        }
        return failed;
    });
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
    const std::vector<std::string> lines = SplitCrLfLines(ReadFileBytes(statusFile));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "service=" + std::string(service.begin(), service.end()));
    EXPECT_EQ(lines[2].substr(0, 8), "WAInitW=");
    EXPECT_EQ(lines[3].substr(0, 9), "WADeinit=");
    EXPECT_EQ(lines[4], "state=stopped");
}

} // namespace
