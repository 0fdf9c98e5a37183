// Win32 only: locks, threads, events and waits.
#include "Platform/Win32/WindowsSupport.h"

namespace Qx::Platform::Win32 {

namespace {

class CriticalSectionLock final : public ILock {
public:
    CriticalSectionLock() = default;
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;
    ~CriticalSectionLock() override
    {
        if (m_initialized) {
            ::DeleteCriticalSection(&m_section);
        }
    }

    [[nodiscard]] bool Initialize()
    {
        m_initialized = ::InitializeCriticalSectionEx(&m_section, 0, 0) != FALSE;
        return m_initialized;
    }
    void lock() override { ::EnterCriticalSection(&m_section); }
    void unlock() override { ::LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section{};
    bool m_initialized = false;
};

struct ThreadStart {
    ThreadFunction function;
    void* argument;
};

constexpr std::uintptr_t kPageSize = 0x1000;
// What the thread's last steps (its return, the runtime's thread detach) use below the frame.
constexpr std::uintptr_t kStackKeptBelowFrame = 16 * kPageSize;

// The lowest committed page of the calling thread's stack.
std::uintptr_t StackLimit()
{
    // GCC takes the segment-relative read inside NtCurrentTeb for an access past an array.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#endif
    const auto* tib = reinterpret_cast<const NT_TIB*>(::NtCurrentTeb());
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return reinterpret_cast<std::uintptr_t>(tib->StackLimit);
}

// Tells the system that the pages of the calling thread's stack below the current frame hold
// nothing of interest any more. They stay committed, so whatever runs on the thread afterwards still
// finds its stack. Windows frees a thread's stack as the thread ends; Wine keeps a finished thread's
// stack, about 1 MB of it resident, until another thread ends, so a thread that ends early in a run
// (the initialisation thread) would otherwise weigh on the working set for the whole run.
void DiscardStackBelowCurrentFrame()
{
    const std::uintptr_t limit = StackLimit();
    volatile char frameMarker = 0;
    const auto frame = reinterpret_cast<std::uintptr_t>(&frameMarker);
    const std::uintptr_t end = (frame - kStackKeptBelowFrame) & ~(kPageSize - 1);
    if (frame > kStackKeptBelowFrame && end > limit) {
        // MEM_RESET ignores the protection, but it must be a valid one.
        (void)::VirtualAlloc(reinterpret_cast<void*>(limit), end - limit, MEM_RESET, PAGE_NOACCESS);
    }
}

DWORD WINAPI ThreadTrampoline(LPVOID parameter)
{
    const ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    const std::uint32_t exitCode = start.function(start.argument);
    DiscardStackBelowCurrentFrame();
    return exitCode;
}

} // namespace

Win32Error Win32Threads::CreateLock(std::unique_ptr<ILock>& lock)
{
    auto section = std::make_unique<CriticalSectionLock>();
    if (!section->Initialize()) {
        return LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
    }
    lock = std::move(section);
    return ERROR_SUCCESS;
}

} // namespace Qx::Platform::Win32

namespace Qx::Platform::Win32 {

Win32Error Win32Threads::CreateThread(ThreadFunction function, void* argument, Thread& thread, std::uint32_t* threadId)
{
    auto* start = new ThreadStart{function, argument};
    DWORD id = 0;
    HANDLE handle = ::CreateThread(nullptr, 0, &ThreadTrampoline, start, 0, &id);
    if (handle == nullptr) {
        const Win32Error error = LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
        delete start;
        return error;
    }
    thread.reset(handle, *this);
    if (threadId != nullptr) {
        *threadId = id;
    }
    return ERROR_SUCCESS;
}

void Win32Threads::SetPriority(NativeHandle thread, int priority)
{
    ::SetThreadPriority(thread, priority);
}

void Win32Threads::Terminate(NativeHandle thread, std::uint32_t exitCode)
{
    ::TerminateThread(thread, exitCode);
}

Win32Error Win32Threads::CreateEvent(bool manualReset, Event& event)
{
    HANDLE handle = ::CreateEventW(nullptr, static_cast<WINBOOL>(manualReset), FALSE, nullptr);
    if (handle == nullptr) {
        return LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
    }
    event.reset(handle, *this);
    return ERROR_SUCCESS;
}

void Win32Threads::SetEvent(NativeHandle event)
{
    ::SetEvent(event);
}

void Win32Threads::ResetEvent(NativeHandle event)
{
    ::ResetEvent(event);
}

Win32Error Win32Threads::OpenCurrentThread(Thread& thread)
{
    HANDLE handle = ::OpenThread(SYNCHRONIZE, FALSE, ::GetCurrentThreadId());
    if (handle == nullptr) {
        return LastErrorOr(ERROR_INVALID_HANDLE);
    }
    thread.reset(handle, *this);
    return ERROR_SUCCESS;
}

std::uint32_t Win32Threads::Wait(NativeHandle handle, std::uint32_t milliseconds)
{
    return ::WaitForSingleObject(handle, milliseconds);
}

std::uint32_t Win32Threads::WaitAny(NativeHandle first, NativeHandle second, std::uint32_t milliseconds)
{
    const HANDLE handles[] = {first, second};
    return ::WaitForMultipleObjects(2, handles, FALSE, milliseconds);
}

Win32Error Win32Threads::GetExitCode(NativeHandle thread, std::uint32_t& exitCode)
{
    DWORD code = 0;
    if (::GetExitCodeThread(thread, &code) == 0) {
        return LastErrorOr(ERROR_INVALID_HANDLE);
    }
    exitCode = code;
    return ERROR_SUCCESS;
}

void Win32Threads::CloseHandle(NativeHandle handle)
{
    ::CloseHandle(handle);
}

} // namespace Qx::Platform::Win32
