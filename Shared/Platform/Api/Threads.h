// Threads, events, locks and waits.
#pragma once

#include <cstdint>
#include <memory>

#include "Platform/Api/HResult.h"
#include "Platform/Api/UniqueHandle.h"

namespace Qx::Platform {

class IThreads;

void CloseThrough(IThreads& threads, NativeHandle handle);
// A kernel object handle of a thread; neither null nor INVALID_HANDLE_VALUE when valid.
using Thread = UniqueHandle<OpenedThrough<IThreads, InvalidValue::IsNone>>;
using Event = UniqueHandle<OpenedThrough<IThreads>>;

// A lock of the kind InitializeCriticalSectionEx creates.
class ILock {
public:
    virtual ~ILock() = default;
    virtual void lock() = 0;
    virtual void unlock() = 0;
};

constexpr std::uint32_t kWaitObject0 = 0;
constexpr std::uint32_t kWaitTimeout = 258;
constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;
constexpr std::uint32_t kWaitInfinite = 0xFFFFFFFF;

using ThreadFunction = std::uint32_t (*)(void* argument);

class IThreads {
public:
    virtual ~IThreads() = default;
    // InitializeCriticalSectionEx; lock stays empty on failure.
    [[nodiscard]] virtual Win32Error CreateLock(std::unique_ptr<ILock>& lock) = 0;
    // A thread with default security and stack, running at once; threadId may be null.
    [[nodiscard]] virtual Win32Error CreateThread(ThreadFunction function, void* argument, Thread& thread,
                                                  std::uint32_t* threadId) = 0;
    virtual void SetPriority(NativeHandle thread, int priority) = 0;
    // TerminateThread: the last resort for a thread that does not end.
    virtual void Terminate(NativeHandle thread, std::uint32_t exitCode) = 0;
    // CreateEventW without a name, not signalled.
    [[nodiscard]] virtual Win32Error CreateEvent(bool manualReset, Event& event) = 0;
    virtual void SetEvent(NativeHandle event) = 0;
    virtual void ResetEvent(NativeHandle event) = 0;
    // OpenThread of the calling thread with SYNCHRONIZE access.
    [[nodiscard]] virtual Win32Error OpenCurrentThread(Thread& thread) = 0;
    // WaitForSingleObject: kWaitObject0, kWaitTimeout or kWaitFailed.
    virtual std::uint32_t Wait(NativeHandle handle, std::uint32_t milliseconds) = 0;
    // WaitForMultipleObjects for either of two: kWaitObject0 plus the index, kWaitTimeout or kWaitFailed.
    virtual std::uint32_t WaitAny(NativeHandle first, NativeHandle second, std::uint32_t milliseconds) = 0;
    [[nodiscard]] virtual Win32Error GetExitCode(NativeHandle thread, std::uint32_t& exitCode) = 0;
    virtual void CloseHandle(NativeHandle handle) = 0;
};

constexpr int kThreadPriorityNormal = 0;
constexpr int kThreadPriorityAboveNormal = 1;

} // namespace Qx::Platform
