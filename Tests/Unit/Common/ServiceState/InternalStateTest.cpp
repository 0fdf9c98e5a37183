#include "Common/ServiceState/ServiceInternalState.h"

#include <atomic>
#include <thread>
#include <tuple>

#include "Common/ServiceHost/ServiceConfiguration.h"
#include "LoggedPlatformTest.h"

using namespace Qx;
using namespace Qx::Testing;

namespace {

constexpr const wchar_t* kService = L"Guarded";

enum class Driver { Missing, QueryFails, Mode0, Mode1, Mode2, Mode3 };
enum class StopAccept { Missing, Zero, One, String, KeyUnreadable };

struct CallbackLog {
    std::mutex lock;
    std::vector<bool> calls;
    std::atomic<int> declinesLeft{0};

    ControlsCallback Callback()
    {
        return [this](std::uint32_t controls, bool enable) {
            EXPECT_EQ(controls, 1u);
            std::lock_guard guard(lock);
            calls.push_back(enable);
            return declinesLeft-- <= 0;
        };
    }
    std::vector<bool> Calls()
    {
        std::lock_guard guard(lock);
        return calls;
    }
};

class InternalStateTest : public LoggedPlatformTest {
protected:
    InternalStateTest()
    {
        logger.maxEnabledLevel = 5;
        platform.threads.timeScale = 0.001;
        platform.registry.CreateKey(ParametersKeyPath(kService));
    }

    void SetDriver(Driver driver)
    {
        auto& fake = platform.selfDefenceDriver;
        fake.result = driver == Driver::Missing      ? FakeSelfDefenceDriver::kDeviceMissing
                      : driver == Driver::QueryFails ? HResultFromWin32(5)
                                                     : kSOk;
        fake.mode = driver == Driver::Mode1 ? 1 : driver == Driver::Mode2 ? 2 : driver == Driver::Mode3 ? 3 : 0;
    }

    void SetStopAccept(StopAccept value)
    {
        const std::wstring key = ParametersKeyPath(kService);
        switch (value) {
        case StopAccept::Missing:
            break;
        case StopAccept::Zero:
            platform.registry.SetDword(key, L"StopAccept", 0);
            break;
        case StopAccept::One:
            platform.registry.SetDword(key, L"StopAccept", 1);
            break;
        case StopAccept::String:
            platform.registry.SetString(key, L"StopAccept", L"1");
            break;
        case StopAccept::KeyUnreadable:
            platform.registry.FailOpen(key, 5);
            break;
        }
    }

    // Starts the worker, lets its first decision run, and stops it again.
    void FirstDecision(InternalState& state)
    {
        const int queriesBefore = platform.selfDefenceDriver.queries;
        state.Initialize(callbacks.Callback(), kService);
        (void)Eventually([&] { return platform.selfDefenceDriver.queries != queriesBefore; });
        state.Shutdown();
    }

    CallbackLog callbacks;
};

// Every driver answer crossed with every StopAccept state. Stop is accepted when the driver is not
// active (absent, failing, mode 0 or an unknown mode), or when StopAccept is a non-zero REG_DWORD.
class DecisionTableTest : public InternalStateTest,
                          public ::testing::WithParamInterface<std::tuple<Driver, StopAccept>> {};

TEST_P(DecisionTableTest, FirstDecisionOffersStopOnlyWhenAllowed)
{
    const auto [driver, stopAccept] = GetParam();
    const bool driverActive = driver == Driver::Mode1 || driver == Driver::Mode2;
    const bool accepted = !driverActive || stopAccept == StopAccept::One;
    SetDriver(driver);
    SetStopAccept(stopAccept);
    InternalState state;
    FirstDecision(state);
    EXPECT_EQ(callbacks.Calls(), accepted ? std::vector<bool>{true} : std::vector<bool>{});
    EXPECT_EQ(state.StopBlocked(), !accepted);
    EXPECT_EQ(logger.Contains(L"SERVICE_ACCEPT_STOP changed to: 1"), accepted);
    const bool valueRead = driverActive && (stopAccept == StopAccept::Zero || stopAccept == StopAccept::One);
    EXPECT_EQ(logger.Find(L"StopAccept registry flag value = ") != nullptr, valueRead)
        << "StopAccept is read only while the driver is active";
}

INSTANTIATE_TEST_SUITE_P(DriverAndStopAccept, DecisionTableTest,
                         ::testing::Combine(::testing::Values(Driver::Missing, Driver::QueryFails, Driver::Mode0,
                                                              Driver::Mode1, Driver::Mode2, Driver::Mode3),
                                            ::testing::Values(StopAccept::Missing, StopAccept::Zero, StopAccept::One,
                                                              StopAccept::String, StopAccept::KeyUnreadable)));

TEST_F(InternalStateTest, ChangesFollowTheDriverAndStopAccept)
{
    SetDriver(Driver::Mode1);
    SetStopAccept(StopAccept::One);
    InternalState state;
    FirstDecision(state);
    EXPECT_EQ(callbacks.Calls(), std::vector<bool>{true});

    platform.registry.SetDword(ParametersKeyPath(kService), L"StopAccept", 0);
    state.UpdateInternalState();
    EXPECT_EQ(callbacks.Calls(), (std::vector<bool>{true, false}));
    EXPECT_TRUE(logger.Contains(L"SERVICE_ACCEPT_STOP changed to: 0"));

    state.UpdateInternalState();
    EXPECT_EQ(callbacks.Calls().size(), 2u) << "an unchanged decision calls nothing";

    SetDriver(Driver::Mode0);
    state.UpdateInternalState();
    EXPECT_EQ(callbacks.Calls(), (std::vector<bool>{true, false, true}));
    EXPECT_TRUE(logger.Contains(L"InternalState::UpdateInternalState - starting")) << "level 5 timed scope";
    EXPECT_TRUE(logger.Contains(L"InternalState::Initialize - starting"));
    EXPECT_NE(logger.Find(L"InternalState::Shutdown - succeeded ("), nullptr);
}

TEST_F(InternalStateTest, DeclinedChangeIsRetriedOnePeriodLater)
{
    callbacks.declinesLeft = 1;
    InternalState state;
    state.Initialize(callbacks.Callback(), kService);
    (void)Eventually([&] { return callbacks.Calls().size() >= 2; });
    state.Shutdown();
    EXPECT_EQ(callbacks.Calls(), (std::vector<bool>{true, true}));
    EXPECT_GT(platform.threads.WaitsBegun(5000), 0u) << "the retry comes after a 5000 ms period";
    EXPECT_FALSE(state.StopBlocked());
    const auto changes = std::count_if(logger.records.begin(), logger.records.end(), [](const LoggedRecord& r) {
        return r.text == L"SERVICE_ACCEPT_STOP changed to: 1";
    });
    EXPECT_EQ(changes, 1);
}

TEST_F(InternalStateTest, UpdateBeforeInitializeDecidesNothing)
{
    InternalState state;
    state.UpdateInternalState();
    EXPECT_EQ(platform.selfDefenceDriver.queries, 0);
    EXPECT_TRUE(state.StopBlocked());
    state.Shutdown();
}

TEST_F(InternalStateTest, ConcurrentInterrogatesAndWorkerUpdatesAreSerialised)
{
    InternalState state;
    state.Initialize(callbacks.Callback(), kService);
    constexpr int kInterrogators = 4;
    std::vector<std::thread> interrogates;
    interrogates.reserve(kInterrogators);
    for (int i = 0; i < kInterrogators; ++i) {
        interrogates.emplace_back([&] {
            for (int k = 0; k < 50; ++k) {
                state.UpdateInternalState();
            }
        });
    }
    for (auto& thread : interrogates) {
        thread.join();
    }
    state.Shutdown();
    EXPECT_EQ(callbacks.Calls(), std::vector<bool>{true}) << "one change, applied once";
}

TEST_F(InternalStateTest, WatchDogGuardKeyFollowsTheServiceName)
{
    WatchDogGuard::SetServiceName(kService);
    WatchDogGuard::Set(true);
    EXPECT_TRUE(platform.registry.HasKey(L"SYSTEM\\CurrentControlSet\\services\\Guarded\\WatchDogGuard"));
    WatchDogGuard::Set(false);
    EXPECT_FALSE(platform.registry.HasKey(L"SYSTEM\\CurrentControlSet\\services\\Guarded\\WatchDogGuard"));
}

} // namespace
