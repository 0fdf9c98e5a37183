#include "FakeThreads.h"

#include <algorithm>

#include <chrono>
#include <future>
#include <utility>

namespace Qx::Testing {

using namespace Qx::Platform;

namespace {

// Re-entered by the thread that holds it, as a critical section is.
class FakeLock final : public ILock {
public:
    void lock() override { m_mutex.lock(); }
    void unlock() override { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

} // namespace

// A thread or an event. A thread is signalled when it ends, with its exit code.
struct FakeThreads::Waitable {
    bool manualReset = true;
    bool signalled = false;
    bool functionReturned = false;
    std::uint32_t exitCode = 259; // STILL_ACTIVE
    std::thread thread;
};

struct FakeThreads::ExitToken {
    std::mutex lock;
    FakeThreads* threads = nullptr; // none once the doubles are being destroyed
};

namespace {

// Signals every handle opened on the current thread when the thread exits, through the doubles
// that opened it while they exist.
struct ThreadExitWatch {
    std::vector<std::pair<std::weak_ptr<FakeThreads::ExitToken>, std::shared_ptr<FakeThreads::Waitable>>> handles;
    ~ThreadExitWatch()
    {
        for (auto& [token, waitable] : handles) {
            if (const auto live = token.lock()) {
                std::lock_guard guard(live->lock);
                if (live->threads != nullptr) {
                    live->threads->Signal(*waitable, 0);
                }
            }
        }
    }
};

thread_local ThreadExitWatch t_exitWatch;

} // namespace

FakeThreads::FakeThreads() : m_exitToken(std::make_shared<ExitToken>())
{
    m_exitToken->threads = this;
}

FakeThreads::~FakeThreads()
{
    {
        std::lock_guard guard(m_exitToken->lock);
        m_exitToken->threads = nullptr;
    }
    // A thread still running may close handles meanwhile: join until none is left.
    for (;;) {
        std::vector<std::thread> running;
        {
            std::lock_guard guard(m_lock);
            running.swap(m_unjoined);
            for (auto& [handle, waitable] : m_handles) {
                if (waitable->thread.joinable()) {
                    running.push_back(std::move(waitable->thread));
                }
            }
        }
        if (running.empty()) {
            return;
        }
        for (auto& thread : running) {
            thread.join();
        }
    }
}

Win32Error FakeThreads::CreateLock(std::unique_ptr<ILock>& lock)
{
    if (!lockFailures.empty()) {
        const Win32Error error = lockFailures.front();
        lockFailures.erase(lockFailures.begin());
        if (error != kErrorSuccess) {
            return error;
        }
    }
    lock = std::make_unique<FakeLock>();
    return kErrorSuccess;
}

NativeHandle FakeThreads::Register(std::shared_ptr<Waitable> waitable)
{
    NativeHandle handle = waitable.get();
    std::lock_guard guard(m_lock);
    m_handles[handle] = std::move(waitable);
    return handle;
}

void FakeThreads::Signal(Waitable& waitable, std::uint32_t exitCode)
{
    std::lock_guard guard(m_lock);
    if (!waitable.signalled) {
        waitable.exitCode = exitCode;
        waitable.signalled = true;
    }
    m_changed.notify_all();
}

Win32Error FakeThreads::CreateThread(ThreadFunction function, void* argument, Thread& thread, std::uint32_t* threadId)
{
    if (createThreadFailure != kErrorSuccess) {
        return createThreadFailure;
    }
    auto waitable = std::make_shared<Waitable>();
    ++runningThreads;
    auto started = std::make_shared<std::promise<std::uint32_t>>();
    auto id = started->get_future();
    // The thread starts only once its handle is registered, as a real thread handle exists
    // before the thread can end.
    auto registered = std::make_shared<std::promise<void>>();
    auto go = registered->get_future().share();
    waitable->thread = std::thread([this, waitable, function, argument, started, go] {
        started->set_value(Platform::Process().CurrentThreadId());
        go.wait();
        const std::uint32_t exitCode = function(argument);
        Signal(*waitable, exitCode);
        {
            std::lock_guard guard(m_lock);
            waitable->functionReturned = true;
        }
        --runningThreads;
    });
    thread.reset(Register(waitable), *this);
    if (threadId != nullptr) {
        *threadId = id.get();
    }
    registered->set_value();
    return kErrorSuccess;
}

void FakeThreads::EndCurrentThread(std::uint32_t exitCode)
{
    std::shared_ptr<Waitable> ended;
    {
        std::lock_guard guard(m_lock);
        for (auto& [handle, waitable] : m_handles) {
            if (waitable->thread.get_id() == std::this_thread::get_id()) {
                ended = waitable;
                ended->thread.detach();
            }
        }
    }
    if (ended) {
        Signal(*ended, exitCode);
    }
    --runningThreads;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::hours(1));
    }
}

void FakeThreads::SetPriority(NativeHandle /*thread*/, int priority)
{
    std::lock_guard guard(m_lock);
    priorities.push_back(priority);
}

void FakeThreads::Terminate(NativeHandle thread, std::uint32_t exitCode)
{
    std::shared_ptr<Waitable> waitable;
    {
        std::lock_guard guard(m_lock);
        ++terminations;
        waitable = m_handles.at(thread);
    }
    // A fake thread cannot be killed: it runs on until its function returns, but to its waiters it
    // has ended with this exit code.
    Signal(*waitable, exitCode);
}

std::size_t FakeThreads::OpenHandleCount()
{
    std::lock_guard guard(m_lock);
    return m_handles.size();
}

Win32Error FakeThreads::CreateEvent(bool manualReset, Event& event)
{
    if (createEventFailure != kErrorSuccess) {
        return createEventFailure;
    }
    auto waitable = std::make_shared<Waitable>();
    waitable->manualReset = manualReset;
    event.reset(Register(std::move(waitable)), *this);
    return kErrorSuccess;
}

void FakeThreads::SetEvent(NativeHandle event)
{
    std::lock_guard guard(m_lock);
    if (const auto found = m_handles.find(event); found != m_handles.end()) {
        found->second->signalled = true;
        m_changed.notify_all();
    }
}

void FakeThreads::ResetEvent(NativeHandle event)
{
    std::lock_guard guard(m_lock);
    if (const auto found = m_handles.find(event); found != m_handles.end()) {
        found->second->signalled = false;
    }
}

Win32Error FakeThreads::OpenCurrentThread(Thread& thread)
{
    if (openThreadFailure != kErrorSuccess) {
        return openThreadFailure;
    }
    auto waitable = std::make_shared<Waitable>();
    std::erase_if(t_exitWatch.handles, [](const auto& watched) { return watched.first.expired(); });
    t_exitWatch.handles.emplace_back(m_exitToken, waitable);
    thread.reset(Register(std::move(waitable)), *this);
    return kErrorSuccess;
}

std::uint32_t FakeThreads::WaitFor(const std::vector<NativeHandle>& handles, std::uint32_t milliseconds)
{
    std::unique_lock guard(m_lock);
    waits.push_back(milliseconds);
    std::vector<std::shared_ptr<Waitable>> waitables;
    for (NativeHandle handle : handles) {
        const auto found = m_handles.find(handle);
        if (found == m_handles.end()) {
            return kWaitFailed;
        }
        waitables.push_back(found->second);
    }
    std::size_t index = 0;
    const auto anySignalled = [&] {
        for (index = 0; index < waitables.size(); ++index) {
            if (waitables[index]->signalled) {
                return true;
            }
        }
        return false;
    };
    const auto realTime = std::chrono::duration<double, std::milli>(milliseconds * timeScale);
    if (!m_changed.wait_for(guard, realTime, anySignalled)) {
        return kWaitTimeout;
    }
    if (!waitables[index]->manualReset) {
        waitables[index]->signalled = false;
    }
    return kWaitObject0 + static_cast<std::uint32_t>(index);
}

std::size_t FakeThreads::WaitsBegun(std::uint32_t milliseconds)
{
    std::lock_guard guard(m_lock);
    return static_cast<std::size_t>(std::ranges::count(waits, milliseconds));
}

std::uint32_t FakeThreads::Wait(NativeHandle handle, std::uint32_t milliseconds)
{
    return WaitFor({handle}, milliseconds);
}

std::uint32_t FakeThreads::WaitAny(NativeHandle first, NativeHandle second, std::uint32_t milliseconds)
{
    return WaitFor({first, second}, milliseconds);
}

Win32Error FakeThreads::GetExitCode(NativeHandle thread, std::uint32_t& exitCode)
{
    std::lock_guard guard(m_lock);
    exitCode = m_handles.at(thread)->exitCode;
    return kErrorSuccess;
}

void FakeThreads::CloseHandle(NativeHandle handle)
{
    std::shared_ptr<Waitable> waitable;
    {
        std::lock_guard guard(m_lock);
        const auto found = m_handles.find(handle);
        if (found == m_handles.end()) {
            return;
        }
        waitable = found->second;
        m_handles.erase(found);
        // As CloseHandle does not wait for the thread, one still running is joined with the doubles.
        if (!waitable->functionReturned && waitable->thread.joinable()) {
            m_unjoined.push_back(std::move(waitable->thread));
        }
    }
    if (waitable->thread.joinable()) {
        waitable->thread.join();
    }
}

} // namespace Qx::Testing
