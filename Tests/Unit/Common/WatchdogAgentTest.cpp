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

} // namespace
