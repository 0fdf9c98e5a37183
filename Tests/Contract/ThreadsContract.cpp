// The contract of IThreads: locks, events and threads as the kernel treats them, held against the
// Win32 layer and the doubles alike.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "ContractPlatform.h"
#include "Platform/Api/Platform.h"

namespace {

using namespace Qx::Testing;
using namespace Qx::Platform;

constexpr std::uint32_t kStillActive = 259;
// Long enough for any thread of these tests to end; a wait that takes it is a failure anyway.
constexpr std::uint32_t kPatience = 10000;

class ThreadsContract : public ContractTest {};

TEST_F(ThreadsContract, AnAutoResetEventReleasesOneWaitAndAManualResetOneEveryWaitUntilReset)
{
    Event autoReset;
    ASSERT_EQ(0u, Threads().CreateEvent(false, autoReset));
    EXPECT_EQ(kWaitTimeout, Threads().Wait(autoReset.get(), 0)) << "created not signalled";
    Threads().SetEvent(autoReset.get());
    EXPECT_EQ(kWaitObject0, Threads().Wait(autoReset.get(), 0));
    EXPECT_EQ(kWaitTimeout, Threads().Wait(autoReset.get(), 0)) << "the wait took the signal";

    Event manualReset;
    ASSERT_EQ(0u, Threads().CreateEvent(true, manualReset));
    Threads().SetEvent(manualReset.get());
    EXPECT_EQ(kWaitObject0, Threads().Wait(manualReset.get(), 0));
    EXPECT_EQ(kWaitObject0, Threads().Wait(manualReset.get(), 0));
    Threads().ResetEvent(manualReset.get());
    EXPECT_EQ(kWaitTimeout, Threads().Wait(manualReset.get(), 0));
}

TEST_F(ThreadsContract, WaitAnyNamesTheFirstSignalledOfTheTwo)
{
    Event first;
    Event second;
    ASSERT_EQ(0u, Threads().CreateEvent(true, first));
    ASSERT_EQ(0u, Threads().CreateEvent(true, second));
    EXPECT_EQ(kWaitTimeout, Threads().WaitAny(first.get(), second.get(), 0));
    Threads().SetEvent(second.get());
    EXPECT_EQ(kWaitObject0 + 1, Threads().WaitAny(first.get(), second.get(), 0));
    Threads().SetEvent(first.get());
    EXPECT_EQ(kWaitObject0, Threads().WaitAny(first.get(), second.get(), 0)) << "the lower index wins";
}

struct ThreadRun {
    Event release;
    std::atomic<std::uint32_t> seenId{0};
};

std::uint32_t RunUntilReleased(void* argument)
{
    auto* run = static_cast<ThreadRun*>(argument);
    run->seenId = Process().CurrentThreadId();
    (void)Threads().Wait(run->release.get(), kPatience);
    return 7;
}

TEST_F(ThreadsContract, AThreadRunsItsFunctionUnderItsOwnIdAndEndsWithItsResult)
{
    ThreadRun run;
    ASSERT_EQ(0u, Threads().CreateEvent(true, run.release));
    Thread thread;
    std::uint32_t threadId = 0;
    ASSERT_EQ(0u, Threads().CreateThread(&RunUntilReleased, &run, thread, &threadId));
    ASSERT_TRUE(thread);

    std::uint32_t exitCode = 0;
    EXPECT_EQ(kWaitTimeout, Threads().Wait(thread.get(), 0)) << "a running thread is not signalled";
    ASSERT_EQ(0u, Threads().GetExitCode(thread.get(), exitCode));
    EXPECT_EQ(kStillActive, exitCode);

    Threads().SetEvent(run.release.get());
    ASSERT_EQ(kWaitObject0, Threads().Wait(thread.get(), kPatience));
    ASSERT_EQ(0u, Threads().GetExitCode(thread.get(), exitCode));
    EXPECT_EQ(7u, exitCode);
    EXPECT_EQ(threadId, run.seenId.load());
    EXPECT_NE(threadId, Process().CurrentThreadId());
}

struct SelfOpening {
    Event opened;
    Event release;
    Thread self;
    std::uint32_t result = 1;
};

std::uint32_t OpenSelf(void* argument)
{
    auto* run = static_cast<SelfOpening*>(argument);
    run->result = Threads().OpenCurrentThread(run->self);
    Threads().SetEvent(run->opened.get());
    return Threads().Wait(run->release.get(), kPatience);
}

TEST_F(ThreadsContract, AThreadOpenedByItselfSignalsWhenItEnds)
{
    SelfOpening run;
    ASSERT_EQ(0u, Threads().CreateEvent(true, run.opened));
    ASSERT_EQ(0u, Threads().CreateEvent(true, run.release));
    Thread thread;
    ASSERT_EQ(0u, Threads().CreateThread(&OpenSelf, &run, thread, nullptr));
    ASSERT_EQ(kWaitObject0, Threads().Wait(run.opened.get(), kPatience));
    ASSERT_EQ(0u, run.result);
    ASSERT_TRUE(run.self);
    EXPECT_EQ(kWaitTimeout, Threads().Wait(run.self.get(), 0));

    Threads().SetEvent(run.release.get());
    EXPECT_EQ(kWaitObject0, Threads().Wait(run.self.get(), kPatience));
    EXPECT_EQ(kWaitObject0, Threads().Wait(thread.get(), kPatience));
}

struct Counting {
    Qx::Platform::ILock* lock = nullptr;
    long counter = 0;
};

std::uint32_t CountUnderLock(void* argument)
{
    auto* counting = static_cast<Counting*>(argument);
    for (int i = 0; i < 10000; ++i) {
        counting->lock->lock();
        const long value = counting->counter;
        counting->counter = value + 1;
        counting->lock->unlock();
    }
    return 0;
}

// A critical section serialises threads and, unlike std::mutex, can be taken again by the
// thread that holds it.
TEST_F(ThreadsContract, ALockSerialisesThreadsAndCanBeTakenAgainByItsHolder)
{
    std::unique_ptr<Qx::Platform::ILock> lock;
    ASSERT_EQ(0u, Threads().CreateLock(lock));
    ASSERT_NE(nullptr, lock);
    Counting counting{lock.get()};
    Thread first;
    Thread second;
    ASSERT_EQ(0u, Threads().CreateThread(&CountUnderLock, &counting, first, nullptr));
    ASSERT_EQ(0u, Threads().CreateThread(&CountUnderLock, &counting, second, nullptr));
    ASSERT_EQ(kWaitObject0, Threads().Wait(first.get(), kPatience));
    ASSERT_EQ(kWaitObject0, Threads().Wait(second.get(), kPatience));
    EXPECT_EQ(20000, counting.counter);

    lock->lock();
    lock->lock();
    lock->unlock();
    lock->unlock();
}

} // namespace
