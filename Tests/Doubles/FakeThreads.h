#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Platform/Api/Platform.h"

namespace Qx::Testing {

// Real threads and events behind fake handles. Every waitable's state is guarded by one lock.
class FakeThreads final : public Platform::IThreads {
public:
    // The next CreateLock calls answer these errors, in order; 0 lets one succeed.
    std::vector<Win32Error> lockFailures;
    Win32Error createThreadFailure = kErrorSuccess;
    Win32Error createEventFailure = kErrorSuccess;
    Win32Error openThreadFailure = kErrorSuccess;
    // Real time per waited millisecond: below 1, timed waits run faster than they say.
    double timeScale = 1.0;
    std::vector<std::uint32_t> waits;
    std::vector<int> priorities;
    int terminations = 0;
    // Threads still running their function, terminated ones included: a terminated fake thread
    // cannot be killed and runs on until its function returns.
    std::atomic<int> runningThreads{0};

    FakeThreads();
    FakeThreads(const FakeThreads&) = delete;
    FakeThreads& operator=(const FakeThreads&) = delete;
    // Joins every thread it started, terminated ones and those whose handle is closed included.
    ~FakeThreads() override;

    // Thread and event handles not yet closed.
    [[nodiscard]] std::size_t OpenHandleCount();
    // How many waits of that length have begun, on any thread.
    [[nodiscard]] std::size_t WaitsBegun(std::uint32_t milliseconds);

    Win32Error CreateLock(std::unique_ptr<Platform::ILock>& lock) override;
    Win32Error CreateThread(Platform::ThreadFunction function, void* argument, Platform::Thread& thread,
                            std::uint32_t* threadId) override;
    void SetPriority(Platform::NativeHandle thread, int priority) override;
    void Terminate(Platform::NativeHandle thread, std::uint32_t exitCode) override;
    Win32Error CreateEvent(bool manualReset, Platform::Event& event) override;
    void SetEvent(Platform::NativeHandle event) override;
    void ResetEvent(Platform::NativeHandle event) override;
    Win32Error OpenCurrentThread(Platform::Thread& thread) override;
    std::uint32_t Wait(Platform::NativeHandle handle, std::uint32_t milliseconds) override;
    std::uint32_t WaitAny(Platform::NativeHandle first, Platform::NativeHandle second,
                          std::uint32_t milliseconds) override;
    Win32Error GetExitCode(Platform::NativeHandle thread, std::uint32_t& exitCode) override;
    void CloseHandle(Platform::NativeHandle handle) override;

    // Plays ExitThread on one of its threads: to its waiters the thread has ended with exitCode,
    // and it never returns into the code that called this. It stays parked until the process ends.
    [[noreturn]] void EndCurrentThread(std::uint32_t exitCode);

    struct Waitable;
    // What a thread's exit watch refers to, weakly: once the doubles are gone, it signals nothing.
    struct ExitToken;
    // Marks a waitable signalled and wakes its waiters. A thread ends once: the exit code of its
    // first signal stays, so that a terminated thread's own end later does not overwrite it.
    void Signal(Waitable& waitable, std::uint32_t exitCode);

private:
    std::uint32_t WaitFor(const std::vector<Platform::NativeHandle>& handles, std::uint32_t milliseconds);
    Platform::NativeHandle Register(std::shared_ptr<Waitable> waitable);

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::map<Platform::NativeHandle, std::shared_ptr<Waitable>> m_handles;
    // Threads whose handle was closed while they still ran their function.
    std::vector<std::thread> m_unjoined;
    std::shared_ptr<ExitToken> m_exitToken;
};

} // namespace Qx::Testing
