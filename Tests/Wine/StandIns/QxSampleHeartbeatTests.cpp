// The sample module as the host drives it: SmInitialize on one thread, SmShutdown later; its file
// lands in the Logs folder beside the executable.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "QxServiceModule.h"
#include "StandInTestSupport.h"

namespace {

using namespace Qx::Testing;

constexpr HRESULT kAlreadyInitialized = static_cast<HRESULT>(0x800704DF);

long long MillisecondsSince(long long qpcStart)
{
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return (QpcNow() - qpcStart) * 1000 / frequency.QuadPart;
}

// "<YYYY-MM-DD HH:MM:SS.mmm> <text>"
std::vector<std::string> Texts(const std::wstring& path)
{
    std::vector<std::string> texts;
    for (const std::string& line : SplitCrLfLines(ReadFileBytes(path))) {
        EXPECT_TRUE(line.size() > 24 && IsTimeStamp(line.substr(0, 23)) && line[23] == ' ') << line;
        texts.push_back(line.size() > 24 ? line.substr(24) : line);
    }
    return texts;
}

TEST(QxSampleHeartbeatTest, BeatsEveryThreeSecondsUntilShutdownAndStartsAgain)
{
    const std::wstring logFile =
        LogsDirectory() + L"QxSampleHeartbeat(" + std::to_wstring(GetCurrentProcessId()) + L").log";
    DeleteFileW(logFile.c_str());
    const HMODULE module = LoadLibraryW(L"QxSampleHeartbeat.dll");
    ASSERT_NE(module, nullptr) << "LoadLibraryW failed with " << GetLastError();
    const auto initialize =
        reinterpret_cast<QxSmInitializeFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, "SmInitialize")));
    const auto shutdown =
        reinterpret_cast<QxSmShutdownFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, "SmShutdown")));
    ASSERT_TRUE(initialize != nullptr && shutdown != nullptr);

    std::uint32_t flags = 0;
    const long long started = QpcNow();
    ASSERT_EQ(initialize(&flags), S_OK);
    EXPECT_EQ(flags, 0u) << "the heartbeat asks for nothing";
    EXPECT_EQ(initialize(&flags), kAlreadyInitialized);

    std::vector<std::string> texts;
    while (texts.size() < 2 && MillisecondsSince(started) < 10000) {
        Sleep(20);
        texts = FileExists(logFile) ? Texts(logFile) : std::vector<std::string>{};
    }
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_GE(MillisecondsSince(started), 3000) << "the second beat comes 3 s after the first";
    EXPECT_EQ(texts[0], "heartbeat 1");
    EXPECT_EQ(texts[1], "heartbeat 2");

    const long long stopping = QpcNow();
    shutdown();
    EXPECT_LT(MillisecondsSince(stopping), 1000) << "the worker wakes at once";
    texts = Texts(logFile);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[2], "stopped after heartbeat 2");
    shutdown();
    EXPECT_EQ(Texts(logFile).size(), 3u) << "a second SmShutdown does nothing";

    // A new start counts afresh and appends to the same file.
    ASSERT_EQ(initialize(&flags), S_OK);
    shutdown();
    texts = Texts(logFile);
    ASSERT_EQ(texts.size(), 5u);
    EXPECT_EQ(texts[3], "heartbeat 1");
    EXPECT_EQ(texts[4], "stopped after heartbeat 1");

    EXPECT_TRUE(FreeLibrary(module));
    DeleteFileW(logFile.c_str());
}

} // namespace
