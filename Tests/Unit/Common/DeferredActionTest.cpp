#include "Common/DeferredAction.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "LoggedPlatformTest.h"

using namespace Qx::Testing;

namespace {

using Worker = CDeferredAction<WPSkipFirstWait<WPSleep>, -1>;

// A gate the action can be held at.
class Gate {
public:
    void Open()
    {
        std::lock_guard lock(m_lock);
        m_open = true;
        m_changed.notify_all();
    }
    void Pass()
    {
        std::unique_lock lock(m_lock);
        m_changed.wait(lock, [&] { return m_open; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_open = false;
};

class DeferredActionTest : public LoggedPlatformTest {
protected:
    DeferredActionTest() { platform.threads.timeScale = 0.001; }

    std::atomic<int> runs{0};
};

TEST_F(DeferredActionTest, RunsAtOnceThenEveryPeriodUntilStopped)
{
    Worker worker;
    worker.Policy().period = 5000;
    EXPECT_TRUE(worker.Start([this] { ++runs; }));
    EXPECT_TRUE(Eventually([&] { return runs >= 3; })) << "5000 ms periods pass in 5 ms here";
    EXPECT_FALSE(worker.StartThread()) << "a second start while running changes nothing";
    EXPECT_FALSE(worker.Start([this] { ++runs; }));
    worker.Stop();
    EXPECT_EQ(platform.threads.WaitsBegun(CDeferredActionBase::kDefaultJoinMilliseconds), 1u);
    EXPECT_EQ(platform.threads.terminations, 0) << "Stop joined the worker, so no run can follow";
    EXPECT_EQ(platform.threads.priorities, (std::vector<int>{1, 0})) << "raised only for the handshake";
    EXPECT_NE(logger.Find(L"Thread "), nullptr);
    EXPECT_TRUE(logger.Find(L"Thread ")->text.ends_with(L" is created for deferred action servicing"));
    EXPECT_TRUE(logger.Contains(L"Worker thread initialization"));
    EXPECT_NE(logger.Find(L"Started DoWork thread "), nullptr);
    EXPECT_NE(logger.Find(L"Stopped DoWork thread "), nullptr);
}

TEST_F(DeferredActionTest, StopLetsTheRunningActionFinish)
{
    Gate gate;
    std::atomic<bool> inAction{false};
    Worker worker;
    worker.Policy().period = 5000;
    ASSERT_TRUE(worker.Start([&] {
        inAction = true;
        gate.Pass();
        ++runs;
    }));
    ASSERT_TRUE(Eventually([&] { return inAction.load(); }));
    std::thread stopper([&] { worker.Stop(); });
    ASSERT_TRUE(Eventually([&] {
        return platform.threads.WaitsBegun(CDeferredActionBase::kDefaultJoinMilliseconds) == 1;
    })) << "Stop waits for the worker";
    EXPECT_EQ(runs, 0);
    gate.Open();
    stopper.join();
    EXPECT_EQ(runs, 1) << "the run finishes and no other starts";
    EXPECT_EQ(platform.threads.terminations, 0);
}

TEST_F(DeferredActionTest, StopWithoutAThreadDoesNothing)
{
    Worker worker;
    worker.Stop();
    EXPECT_TRUE(logger.records.empty());
}

TEST_F(DeferredActionTest, RestartWaitsAFullPeriodFirst)
{
    Worker worker;
    worker.Policy().period = 5000;
    ASSERT_TRUE(worker.Start([this] { ++runs; }));
    ASSERT_TRUE(Eventually([&] { return runs >= 1; }));
    worker.Stop();
    EXPECT_FALSE(worker.Start([this] { ++runs; })) << "refused while the old action is still set";
    worker.ClearAction();

    platform.threads.timeScale = 1.0;
    const int before = runs;
    const std::size_t periodsBefore = platform.threads.WaitsBegun(5000);
    ASSERT_TRUE(worker.Start([this] { ++runs; }));
    ASSERT_TRUE(Eventually([&] { return platform.threads.WaitsBegun(5000) == periodsBefore + 1; }));
    EXPECT_EQ(runs, before) << "the restarted worker waits its period before the first run";
    worker.Stop();
    EXPECT_EQ(runs, before);
}

TEST_F(DeferredActionTest, ThreadThatDoesNotEndIsTerminated)
{
    Gate gate;
    std::atomic<bool> inAction{false};
    {
        Worker worker;
        worker.SetJoinTimeout(20);
        ASSERT_TRUE(worker.Start([&] {
            inAction = true;
            gate.Pass();
        }));
        ASSERT_TRUE(Eventually([&] { return inAction.load(); }));
        worker.Stop();
        EXPECT_EQ(platform.threads.terminations, 1);
        EXPECT_TRUE(std::any_of(logger.records.begin(), logger.records.end(),
                                [](const LoggedRecord& r) { return r.text.ends_with(L" is terminated"); }));
        // The fake's "terminated" thread is still alive; it must be done before the worker goes.
        gate.Open();
        EXPECT_TRUE(Eventually([&] { return platform.threads.runningThreads == 0; }));
    }
}

TEST_F(DeferredActionTest, StartFailuresLeaveTheWorkerIdle)
{
    Worker worker;
    platform.threads.createEventFailure = 8;
    EXPECT_FALSE(worker.Start([this] { ++runs; }));
    EXPECT_TRUE(logger.records.empty()) << "a missing stop event is not logged";

    platform.threads.createEventFailure = 0;
    platform.threads.createThreadFailure = 1450;
    EXPECT_FALSE(worker.Start([this] { ++runs; }));
    const LoggedRecord* failure = logger.Find(L"Couldn't start worker thread. Error: ");
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->text, L"Couldn't start worker thread. Error: 1450");
    EXPECT_EQ(failure->severity, L"ERROR");

    platform.threads.createThreadFailure = 0;
    EXPECT_TRUE(worker.Start([this] { ++runs; })) << "a failed start leaves nothing behind";
    EXPECT_TRUE(Eventually([&] { return runs >= 1; }));
}

TEST(DeferredActionConstructionTest, MissingStartUpEventRaises)
{
    FakePlatform platform;
    platform.threads.createEventFailure = 1450;
    EXPECT_EQ(RaisedBy([] { Worker worker; }), Qx::HResultFromWin32(1450)) << "construction must raise";
}

} // namespace
