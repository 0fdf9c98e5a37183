// The start-up initialisation on the platform doubles. The host's process-wide objects it builds
// are destroyed with each test's doubles, so every test starts from none.
#include <algorithm>

#include "Common/UiLanguage.h"
#include "Common/WatchdogAgent.h"
#include "FakeModules.h"
#include "LoggedPlatformTest.h"
#include "ResKit/Logger/LogUtils.h"
#include "ResKit/ServiceHost/ServiceHostEntry.h"

using namespace Qx;
using namespace Qx::Testing;

namespace {

constexpr const wchar_t* kLoggerPath = L"C:\\Program Files\\Qx\\QxLogger.dll";
constexpr const wchar_t* kAgentPath = L"C:\\Program Files\\Qx\\QxWatchdogAgent.dll";
constexpr const wchar_t* kSearchFailure = L"SetDefaultDllDirectories failed Error:";

class StartupInitializationTest : public LoggedPlatformTest {
protected:
    StartupInitializationTest() { AddFakeWatchdogAgent(platform.libraries); }

    [[nodiscard]] bool Loaded(const std::wstring& path) const
    {
        const auto paths = platform.libraries.LoadedPaths();
        return std::find(paths.begin(), paths.end(), path) != paths.end();
    }
};

TEST_F(StartupInitializationTest, RestrictsTheLibrarySearchBeforeAnyLibraryIsLoaded)
{
    RunStartupInitialization();

    EXPECT_EQ(platform.libraries.SafeSearchCalls(), std::vector<std::size_t>{0}) << "once, before any load";
    EXPECT_TRUE(Loaded(kLoggerPath));
    EXPECT_TRUE(Loaded(kAgentPath));
    EXPECT_EQ(logger.Find(kSearchFailure), nullptr);
}

TEST_F(StartupInitializationTest, HandsLoggingTheErrorDescriber)
{
    const LogUtils::ErrorDescriber before = LogUtils::InstallErrorDescriber(nullptr);

    RunStartupInitialization();

    EXPECT_EQ(LogUtils::InstallErrorDescriber(before), &GetErrorDescription);
}

TEST_F(StartupInitializationTest, HandsTheCrashHandlersTheDumpWriter)
{
    RunStartupInitialization();

    ASSERT_NE(platform.crashHandling.unhandledFilter, nullptr);
    Qx::Platform::ExceptionDescription crash;
    crash.code = 0xC0000005;
    platform.crashHandling.unhandledFilter(crash);
    ASSERT_EQ(platform.dumps.miniDumps.size(), 1u);
    EXPECT_NE(platform.dumps.miniDumps[0].path.find(L"_C0000005_"), std::wstring::npos);
}

TEST_F(StartupInitializationTest, GoesOnAndLogsWhenTheSearchCannotBeRestricted)
{
    platform.libraries.FailSafeSearch(87);

    RunStartupInitialization();

    EXPECT_TRUE(Loaded(kLoggerPath));
    EXPECT_TRUE(WatchdogAgent::Instance().IsLoaded()) << "the agent is still bound from the host's folder";
    const LoggedRecord* failure = logger.Find(kSearchFailure);
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->text, std::wstring(kSearchFailure) + L"87");
    EXPECT_EQ(failure->severity, L"ERROR");
}

} // namespace
