// Win32Dumps: the temporary folder, the local time, starting a process and MiniDumpWriteDump.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>

#include "MiniDumps.h"
#include "Platform/Api/Platform.h"
#include "TestFiles.h"

namespace {

using Qx::Platform::Dumps;

constexpr std::uint32_t kProcessWaitMs = 30000;
constexpr std::uint32_t kErrorBadArguments = 160;

std::wstring SystemFolder()
{
    std::array<wchar_t, MAX_PATH + 1> folder{};
    const UINT length = GetSystemDirectoryW(folder.data(), MAX_PATH);
    return std::wstring(folder.data(), length) + L"\\";
}

TEST(Win32Dumps, TempPathAndNowArePlausible)
{
    const std::wstring temp = Dumps().TempPath();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(L'\\', temp.back());
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(temp.c_str()));

    const Qx::Platform::LocalTime now = Dumps().Now();
    EXPECT_GE(now.year, 2024);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
    EXPECT_GE(now.day, 1);
    EXPECT_LE(now.day, 31);
    EXPECT_LE(now.hour, 23);
    EXPECT_LE(now.minute, 59);
    EXPECT_LE(now.second, 59);
}

TEST(Win32Dumps, WriteMiniDumpWritesADumpFileOrReportsTheFileWasNotCreated)
{
    const std::wstring path =
        Dumps().TempPath() + L"QxPlatformTests_" + std::to_wstring(GetCurrentProcessId()) + L".dmp";
    bool fileCreated = false;
    EXPECT_TRUE(Dumps().WriteMiniDump(path.c_str(), 0, nullptr, GetCurrentThreadId(), fileCreated));
    EXPECT_TRUE(fileCreated);
    const Qx::Testing::MiniDump dump = Qx::Testing::ReadMiniDump(path);
    EXPECT_TRUE(Qx::Testing::IsWholeMiniDump(dump, false));
    EXPECT_NE(dump.threadIds.end(), std::find(dump.threadIds.begin(), dump.threadIds.end(), GetCurrentThreadId()));
    EXPECT_TRUE(DeleteFileW(path.c_str())) << GetLastError();

    const std::wstring unreachable = Dumps().TempPath() + L"QxNoSuchFolder\\x.dmp";
    fileCreated = true;
    EXPECT_FALSE(Dumps().WriteMiniDump(unreachable.c_str(), 0, nullptr, GetCurrentThreadId(), fileCreated));
    EXPECT_FALSE(fileCreated);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(unreachable.c_str()));
}

// RunProcess with a command line of its own that it may write to.
Qx::Win32Error RunProcess(const std::wstring& application, std::wstring commandLine, std::uint32_t& exitCode)
{
    return Dumps().RunProcess(application.c_str(), commandLine.data(), kProcessWaitMs, exitCode);
}

TEST(Win32Dumps, RunProcessGivesTheStartErrorOrTheExitCode)
{
    std::uint32_t exitCode = 0xABCD;
    EXPECT_EQ(
        2u, RunProcess(Qx::Testing::ExecutableDirectory() + L"QxNoSuchProgram.exe", L"QxNoSuchProgram.exe", exitCode));
    EXPECT_EQ(0xABCDu, exitCode);

    ASSERT_EQ(0u, RunProcess(SystemFolder() + L"cmd.exe", L"cmd.exe /c exit 3", exitCode));
    EXPECT_EQ(3u, exitCode);

    ASSERT_EQ(0u, RunProcess(SystemFolder() + L"cmd.exe", L"cmd.exe /c exit -1073741819", exitCode));
    EXPECT_EQ(0xC0000005u, exitCode);

    // Without a program to run, the tool ends with ERROR_BAD_ARGUMENTS.
    ASSERT_EQ(0u, RunProcess(Qx::Testing::ExecutableDirectory() + L"QxRunExit.exe", L"QxRunExit.exe", exitCode));
    EXPECT_EQ(kErrorBadArguments, exitCode);
}

} // namespace
