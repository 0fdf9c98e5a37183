#include "FakeProcess.h"

#include <algorithm>
#include <atomic>
#include <cstddef>

namespace Qx::Testing {

using namespace Qx::Platform;

std::uint32_t FakeProcess::CurrentThreadId()
{
    // Process-wide, as the system's thread ids are: a thread keeps its id whichever doubles are
    // installed, and no two threads share one.
    static std::atomic<std::uint32_t> nextId{100};
    thread_local const std::uint32_t id = nextId++;
    return id;
}

Win32Error FakeProcess::ModuleFileName(NativeHandle module, std::wstring& path)
{
    const auto found = modulePaths.find(module);
    if (found == modulePaths.end()) {
        return 126;
    }
    path = found->second;
    return kErrorSuccess;
}

std::uint32_t FakeProcess::CaptureReturnAddresses(std::uint32_t, std::uint32_t count, void** addresses)
{
    const auto written = std::min<std::size_t>(count, returnAddresses.size());
    std::copy_n(returnAddresses.begin(), written, addresses);
    return static_cast<std::uint32_t>(written);
}

Win32Error FakeProcess::LastError()
{
    const std::uint32_t thread = CurrentThreadId();
    std::lock_guard guard(m_lastErrorLock);
    const auto found = m_lastErrors.find(thread);
    return found != m_lastErrors.end() ? found->second : kErrorSuccess;
}

void FakeProcess::SetLastError(Win32Error error)
{
    const std::uint32_t thread = CurrentThreadId();
    std::lock_guard guard(m_lastErrorLock);
    m_lastErrors[thread] = error;
}

} // namespace Qx::Testing
