#include "FakeThreads.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "FakePlatform.h"

using namespace Qx::Testing;
using Qx::Platform::kWaitObject0;
using Qx::Platform::Thread;

namespace {

// Holds a fake thread's function until the test lets it return.
struct HeldFunction {
    std::mutex lock;
    std::condition_variable changed;
    bool released = false;
    std::atomic<bool> returned{false};

    void Release()
    {
        std::lock_guard guard(lock);
        released = true;
        changed.notify_all();
    }
};

std::uint32_t RunUntilReleased(void* argument)
{
    auto* held = static_cast<HeldFunction*>(argument);
    std::unique_lock guard(held->lock);
    held->changed.wait(guard, [&] { return held->released; });
    held->returned = true;
    return 42;
}

TEST(FakeThreads, ATerminatedThreadKeepsItsExitCodeWhenItsFunctionReturns)
{
    FakePlatform platform;
    HeldFunction held;
    Thread thread;
    ASSERT_EQ(0u, platform.threads.CreateThread(&RunUntilReleased, &held, thread, nullptr));
    platform.threads.Terminate(thread.get(), 7);
    EXPECT_EQ(kWaitObject0, platform.threads.Wait(thread.get(), 0));

    held.Release();
    while (platform.threads.runningThreads != 0) {
        std::this_thread::yield();
    }
    std::uint32_t exitCode = 0;
    ASSERT_EQ(0u, platform.threads.GetExitCode(thread.get(), exitCode));
    EXPECT_EQ(7u, exitCode);
}

TEST(FakeThreads, ClosingTheHandleOfARunningThreadDoesNotWaitForItAndTheDoublesJoinIt)
{
    FakePlatform platform;
    HeldFunction held;
    {
        FakeThreads threads;
        Thread thread;
        ASSERT_EQ(0u, threads.CreateThread(&RunUntilReleased, &held, thread, nullptr));
        thread.reset();
        EXPECT_EQ(0u, threads.OpenHandleCount());
        held.Release();
    }
    EXPECT_TRUE(held.returned);
}

// The exit watch of a thread that outlives the doubles it opened its handle with finds them gone.
TEST(FakeThreads, AThreadThatEndsAfterItsDoublesSignalsNothing)
{
    FakePlatform platform;
    HeldFunction held;
    auto threads = std::make_unique<FakeThreads>();
    std::promise<void> opened;
    std::thread outsider([&] {
        {
            Thread self;
            EXPECT_EQ(0u, threads->OpenCurrentThread(self));
        }
        opened.set_value();
        (void)RunUntilReleased(&held);
    });
    opened.get_future().wait();
    threads.reset();
    held.Release();
    outsider.join();
    EXPECT_TRUE(held.returned);
}

} // namespace
