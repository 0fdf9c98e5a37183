#include "FakeServiceControl.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>

namespace Qx::Testing {

using namespace Qx::Platform;

FakeServiceControl::~FakeServiceControl()
{
    JoinServiceThread();
}

void FakeServiceControl::JoinServiceThread()
{
    if (m_serviceThread.joinable()) {
        m_serviceThread.join();
    }
}

Win32Error FakeServiceControl::StartDispatcher(const wchar_t* serviceName, ServiceMainFunction serviceMain)
{
    dispatchedNames.emplace_back(serviceName);
    if (dispatcherResult != kErrorSuccess) {
        return dispatcherResult;
    }
    JoinServiceThread();
    auto mainReturned = std::make_shared<std::atomic<bool>>(false);
    m_serviceThread = std::thread([this, serviceMain, mainReturned] {
        serviceMain(0, nullptr);
        std::lock_guard guard(m_lock);
        *mainReturned = true;
        m_reported.notify_all();
    });
    std::unique_lock guard(m_lock);
    m_reported.wait(guard, [&] {
        return *mainReturned || (!m_reports.empty() && m_reports.back().currentState == kServiceStopped);
    });
    return kErrorSuccess;
}

Win32Error FakeServiceControl::RegisterHandler(const wchar_t*, ServiceHandlerFunction handler, void*,
                                               NativeHandle& statusHandle)
{
    if (registerResult != kErrorSuccess) {
        return registerResult;
    }
    std::lock_guard guard(m_lock);
    m_handler = handler;
    statusHandle = this;
    return kErrorSuccess;
}

Win32Error FakeServiceControl::SetStatus(NativeHandle, const ServiceStatus& status)
{
    std::lock_guard guard(m_lock);
    m_reports.push_back(status);
    m_reported.notify_all();
    return statusResult;
}

std::uint32_t FakeServiceControl::SendControl(std::uint32_t control)
{
    ServiceHandlerFunction handler = nullptr;
    {
        std::lock_guard guard(m_lock);
        handler = m_handler;
    }
    return handler(control, 0, nullptr, nullptr);
}

bool FakeServiceControl::WaitForState(std::uint32_t state, std::uint32_t milliseconds)
{
    std::unique_lock guard(m_lock);
    return m_reported.wait_for(guard, std::chrono::milliseconds(milliseconds), [&] {
        return std::any_of(m_reports.begin(), m_reports.end(),
                           [&](const ServiceStatus& report) { return report.currentState == state; });
    });
}

std::vector<ServiceStatus> FakeServiceControl::Reports()
{
    std::lock_guard guard(m_lock);
    return m_reports;
}

} // namespace Qx::Testing
