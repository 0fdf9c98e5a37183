// Win32Threads: threads, events, waits, locks and the thread message queue.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "Platform/Api/Platform.h"

namespace {

using Qx::Platform::Event;
using Qx::Platform::kWaitObject0;
using Qx::Platform::kWaitTimeout;
using Qx::Platform::Thread;
using Qx::Platform::Threads;

constexpr std::uint32_t kLongWaitMs = 10000;

struct Seen {
    std::atomic<std::uint32_t> threadId{0};
};

std::uint32_t RecordThreadId(void* argument)
{
    static_cast<Seen*>(argument)->threadId = GetCurrentThreadId();
    return 0x1234;
}

// Runs until its event is set.
std::uint32_t WaitForEvent(void* argument)
{
    return Threads().Wait(argument, kLongWaitMs) == kWaitObject0 ? 7 : 8;
}

TEST(Win32Threads, CreateThreadRunsTheFunctionAndGivesItsIdAndExitCode)
{
    Seen seen;
    Thread thread;
    std::uint32_t threadId = 0;
    ASSERT_EQ(0u, Threads().CreateThread(&RecordThreadId, &seen, thread, &threadId));
    ASSERT_TRUE(thread);
    ASSERT_EQ(kWaitObject0, Threads().Wait(thread.get(), kLongWaitMs));
    EXPECT_EQ(threadId, seen.threadId.load());
    EXPECT_NE(0u, threadId);
    std::uint32_t exitCode = 0;
    ASSERT_EQ(0u, Threads().GetExitCode(thread.get(), exitCode));
    EXPECT_EQ(0x1234u, exitCode);

    Thread withoutId;
    ASSERT_EQ(0u, Threads().CreateThread(&RecordThreadId, &seen, withoutId, nullptr));
    EXPECT_EQ(kWaitObject0, Threads().Wait(withoutId.get(), kLongWaitMs));
}

TEST(Win32Threads, WaitOnARunningThreadTimesOut)
{
    Event release;
    ASSERT_EQ(0u, Threads().CreateEvent(true, release));
    Thread thread;
    ASSERT_EQ(0u, Threads().CreateThread(&WaitForEvent, release.get(), thread, nullptr));
    EXPECT_EQ(kWaitTimeout, Threads().Wait(thread.get(), 10));
    std::uint32_t exitCode = 0;
    ASSERT_EQ(0u, Threads().GetExitCode(thread.get(), exitCode));
    EXPECT_EQ(static_cast<std::uint32_t>(STILL_ACTIVE), exitCode);

    Threads().SetEvent(release.get());
    ASSERT_EQ(kWaitObject0, Threads().Wait(thread.get(), kLongWaitMs));
    ASSERT_EQ(0u, Threads().GetExitCode(thread.get(), exitCode));
    EXPECT_EQ(7u, exitCode);
}

TEST(Win32Threads, ManualAndAutoResetEventsBehaveAsTheirKind)
{
    Event manual;
    Event automatic;
    ASSERT_EQ(0u, Threads().CreateEvent(true, manual));
    ASSERT_EQ(0u, Threads().CreateEvent(false, automatic));

    EXPECT_EQ(kWaitTimeout, Threads().Wait(manual.get(), 0));
    EXPECT_EQ(kWaitTimeout, Threads().WaitAny(manual.get(), automatic.get(), 10));

    Threads().SetEvent(manual.get());
    EXPECT_EQ(kWaitObject0, Threads().Wait(manual.get(), 0));
    EXPECT_EQ(kWaitObject0, Threads().Wait(manual.get(), 0));
    EXPECT_EQ(kWaitObject0, Threads().WaitAny(manual.get(), automatic.get(), 0));
    Threads().ResetEvent(manual.get());
    EXPECT_EQ(kWaitTimeout, Threads().Wait(manual.get(), 0));

    Threads().SetEvent(automatic.get());
    EXPECT_EQ(kWaitObject0 + 1, Threads().WaitAny(manual.get(), automatic.get(), 0));
    EXPECT_EQ(kWaitTimeout, Threads().Wait(automatic.get(), 0));

    Threads().SetEvent(automatic.get());
    Threads().ResetEvent(automatic.get());
    EXPECT_EQ(kWaitTimeout, Threads().WaitAny(manual.get(), automatic.get(), 0));
}

struct Opened {
    Event opened;
    Event release;
    Thread handle;
    std::uint32_t result = 1;
};

std::uint32_t OpenSelf(void* argument)
{
    auto* opened = static_cast<Opened*>(argument);
    opened->result = Threads().OpenCurrentThread(opened->handle);
    Threads().SetEvent(opened->opened.get());
    return Threads().Wait(opened->release.get(), kLongWaitMs);
}

TEST(Win32Threads, OpenCurrentThreadGivesAHandleThatSignalsWhenTheThreadEnds)
{
    Opened opened;
    ASSERT_EQ(0u, Threads().CreateEvent(true, opened.opened));
    ASSERT_EQ(0u, Threads().CreateEvent(true, opened.release));
    Thread thread;
    ASSERT_EQ(0u, Threads().CreateThread(&OpenSelf, &opened, thread, nullptr));
    ASSERT_EQ(kWaitObject0, Threads().Wait(opened.opened.get(), kLongWaitMs));
    ASSERT_EQ(0u, opened.result);
    ASSERT_TRUE(opened.handle);
    EXPECT_EQ(kWaitTimeout, Threads().Wait(opened.handle.get(), 10));

    Threads().SetEvent(opened.release.get());
    EXPECT_EQ(kWaitObject0, Threads().Wait(opened.handle.get(), kLongWaitMs));
    EXPECT_EQ(kWaitObject0, Threads().Wait(thread.get(), kLongWaitMs));
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

TEST(Win32Threads, CreateLockGivesALockThatSerialisesThreads)
{
    std::unique_ptr<Qx::Platform::ILock> lock;
    ASSERT_EQ(0u, Threads().CreateLock(lock));
    ASSERT_NE(nullptr, lock);
    Counting counting{lock.get()};
    Thread first;
    Thread second;
    ASSERT_EQ(0u, Threads().CreateThread(&CountUnderLock, &counting, first, nullptr));
    ASSERT_EQ(0u, Threads().CreateThread(&CountUnderLock, &counting, second, nullptr));
    ASSERT_EQ(kWaitObject0, Threads().Wait(first.get(), kLongWaitMs));
    ASSERT_EQ(kWaitObject0, Threads().Wait(second.get(), kLongWaitMs));
    EXPECT_EQ(20000, counting.counter);

    lock->lock();
    lock->lock();
    lock->unlock();
    lock->unlock();
}

std::uint32_t LoopUntilQuit(void* argument)
{
    Threads().EnsureMessageQueue();
    Threads().SetEvent(argument);
    Threads().RunMessageLoop();
    return 5;
}

TEST(Win32Threads, RunMessageLoopEndsOnPostQuitToItsThread)
{
    Event ready;
    ASSERT_EQ(0u, Threads().CreateEvent(true, ready));
    Thread thread;
    std::uint32_t threadId = 0;
    ASSERT_EQ(0u, Threads().CreateThread(&LoopUntilQuit, ready.get(), thread, &threadId));
    ASSERT_EQ(kWaitObject0, Threads().Wait(ready.get(), kLongWaitMs));
    EXPECT_EQ(kWaitTimeout, Threads().Wait(thread.get(), 10));

    Threads().PostQuit(threadId);
    ASSERT_EQ(kWaitObject0, Threads().Wait(thread.get(), kLongWaitMs));
    std::uint32_t exitCode = 0;
    ASSERT_EQ(0u, Threads().GetExitCode(thread.get(), exitCode));
    EXPECT_EQ(5u, exitCode);
}

} // namespace
