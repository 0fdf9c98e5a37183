#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Api/Platform.h"

namespace Qx::Testing {

class FakeProcess final : public Platform::IProcess {
public:
    static constexpr const wchar_t* kExecutablePath = L"C:\\Program Files\\Qx\\QxServiceHost.exe";

    std::uint32_t processId = 4242;
    std::wstring commandLine = L"\"C:\\Program Files\\Qx\\QxServiceHost.exe\"";
    Platform::NativeHandle hostInstance = reinterpret_cast<Platform::NativeHandle>(0x140000000);
    std::map<Platform::NativeHandle, std::wstring> modulePaths{{nullptr, kExecutablePath},
                                                               {hostInstance, kExecutablePath}};
    std::uint64_t tickCount = 1000;
    std::vector<void*> returnAddresses;
    Platform::ErrorInfo threadErrorInfo;

    std::uint32_t CurrentProcessId() override { return processId; }
    // A distinct id per thread, as the system gives.
    std::uint32_t CurrentThreadId() override;
    std::wstring CommandLine() override { return commandLine; }
    Platform::NativeHandle HostInstance() override { return hostInstance; }
    Win32Error ModuleFileName(Platform::NativeHandle module, std::wstring& path) override;
    std::uint64_t TickCount64() override { return tickCount; }
    // Each thread has its own, 0 until it sets one.
    Win32Error LastError() override;
    void SetLastError(Win32Error error) override;
    std::uint32_t CaptureReturnAddresses(std::uint32_t skip, std::uint32_t count, void** addresses) override;
    Platform::ErrorInfo TakeThreadErrorInfo() override { return std::exchange(threadErrorInfo, nullptr); }

private:
    std::mutex m_lastErrorLock;
    std::map<std::uint32_t, Win32Error> m_lastErrors; // by thread id, guarded by m_lastErrorLock
};

} // namespace Qx::Testing
