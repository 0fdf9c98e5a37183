#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Api/Platform.h"

namespace Qx::Testing {

// A dispatcher that runs ServiceMain on a thread of its own and returns once the service has
// reported SERVICE_STOPPED, as the system's does.
class FakeServiceControl final : public Platform::IServiceControl {
public:
    Win32Error dispatcherResult = kErrorFailedServiceControllerConnect;
    Win32Error registerResult = kErrorSuccess;
    // What SetStatus answers; the report is recorded all the same.
    Win32Error statusResult = kErrorSuccess;
    std::vector<std::wstring> dispatchedNames;

    ~FakeServiceControl() override;

    Win32Error StartDispatcher(const wchar_t* serviceName, Platform::ServiceMainFunction serviceMain) override;
    Win32Error RegisterHandler(const wchar_t* serviceName, Platform::ServiceHandlerFunction handler, void* context,
                               Platform::NativeHandle& statusHandle) override;
    Win32Error SetStatus(Platform::NativeHandle statusHandle, const Platform::ServiceStatus& status) override;

    // Waits for the service thread of the last dispatch to end.
    void JoinServiceThread();
    // Calls the registered handler on the calling thread, as the dispatcher would.
    std::uint32_t SendControl(std::uint32_t control);
    // Waits until a report of state arrives; false on time-out.
    bool WaitForState(std::uint32_t state, std::uint32_t milliseconds);
    [[nodiscard]] std::vector<Platform::ServiceStatus> Reports();

private:
    std::mutex m_lock;
    std::condition_variable m_reported;
    std::vector<Platform::ServiceStatus> m_reports;
    Platform::ServiceHandlerFunction m_handler = nullptr;
    std::thread m_serviceThread;
};

} // namespace Qx::Testing
