#include "Common/WatchdogAgent.h"

#include <gtest/gtest.h>

#include "FakeModules.h"

using namespace Qx::Testing;

namespace {

TEST(WatchdogAgentTest, BindsOnlyWithAllFourExports)
{
    FakePlatform platform;
    Exports().Reset();
    {
        const WatchdogAgent absent;
        EXPECT_FALSE(absent.IsLoaded());
        absent.Init(L"Foo");
        absent.Deinit();
        EXPECT_TRUE(Exports().Names().empty()) << "an absent agent is never called";
    }

    AddFakeWatchdogAgent(platform.libraries, false);
    {
        const WatchdogAgent partial;
        EXPECT_FALSE(partial.IsLoaded()) << "WAOnExit is required although the host never calls it";
        partial.Init(L"Foo");
        EXPECT_TRUE(Exports().Names().empty());
    }
    EXPECT_EQ(platform.libraries.LivePaths(), std::vector<std::wstring>{}) << "an unbound library is freed";

    AddFakeWatchdogAgent(platform.libraries, true);
    const WatchdogAgent bound;
    EXPECT_TRUE(bound.IsLoaded());
    bound.Init(L"Foo");
    bound.Deinit();
    const auto calls = Exports().Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, "WAInitW");
    EXPECT_EQ(calls[0].argument, L"Foo");
    EXPECT_EQ(calls[1].name, "WADeinit");
}

TEST(WatchdogAgentTest, IsLoadedFromTheHostExecutablesFolderOnly)
{
    FakePlatform platform;
    const FakeModule& agent = AddFakeWatchdogAgent(platform.libraries);
    platform.libraries.Add(L"QxWatchdogAgent.dll").exports = agent.exports;
    platform.process.modulePaths[nullptr] = L"D:\\Elsewhere\\QxServiceHost.exe";
    EXPECT_FALSE(WatchdogAgent().IsLoaded()) << "neither by its bare name nor from another folder";

    platform.libraries.Add(L"D:\\Elsewhere\\QxWatchdogAgent.dll").exports = agent.exports;
    EXPECT_TRUE(WatchdogAgent().IsLoaded());
    EXPECT_EQ(platform.libraries.LoadedPaths(), std::vector<std::wstring>{L"D:\\Elsewhere\\QxWatchdogAgent.dll"});

    platform.process.modulePaths[nullptr] = L"QxServiceHost.exe";
    EXPECT_FALSE(WatchdogAgent().IsLoaded()) << "an executable path without a folder names no folder";
    platform.process.modulePaths.erase(nullptr);
    EXPECT_FALSE(WatchdogAgent().IsLoaded()) << "nor does an executable path that cannot be read";
    EXPECT_EQ(platform.libraries.LoadedPaths().size(), 1u);
}

} // namespace
