#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Api/Platform.h"

namespace Qx::Testing {

// Records the hooks it is given; tests call them as the system would.
class FakeCrashHandling final : public Platform::ICrashHandling {
public:
    int stderrRequests = 0;
    int invalidParameterInstalls = 0;
    void (*terminateAndAbort)() = nullptr;
    Platform::ExceptionHandlerFunction unhandledFilter = nullptr;
    bool hasPreviousFilter = true;
    std::int32_t previousVerdict = -1;
    int previousFilterCalls = 0;
    bool previousRestored = false;
    std::vector<Platform::ExceptionHandlerFunction> vectoredHandlers; // first called first
    // A filter that code of the process installed in place of the host's, as SetUnhandledExceptionFilter would.
    Platform::ExceptionHandlerFunction replacingFilter = nullptr;
    const void* replacingFilterImage = nullptr;
    // The one put behind the host's again, which CallChainedFilter calls.
    Platform::ExceptionHandlerFunction chainedFilter = nullptr;
    // The file names ModuleFileName knows, by image base.
    std::map<const void*, std::wstring> moduleFiles;

    void SendRuntimeErrorsToStandardError() override { ++stderrRequests; }
    void SetTerminateAndAbortHandler(void (*handler)()) override { terminateAndAbort = handler; }
    void SetInvalidParameterHandler() override { ++invalidParameterInstalls; }
    void SetUnhandledExceptionFilter(Platform::ExceptionHandlerFunction filter) override { unhandledFilter = filter; }
    bool CallPreviousFilter(const Platform::ExceptionDescription& exception, std::int32_t& verdict) override;
    void RestorePreviousFilter() override { previousRestored = true; }
    bool ReassertUnhandledExceptionFilter(const void*& owner) override;
    bool CallChainedFilter(const Platform::ExceptionDescription& exception, std::int32_t& verdict) override;
    std::size_t ModuleFileName(const void* module, std::span<wchar_t> buffer) override;
    Platform::NativeHandle AddFirstVectoredHandler(Platform::ExceptionHandlerFunction handler) override;
    void RemoveVectoredHandler(Platform::NativeHandle registration) override;

private:
    std::vector<std::pair<Platform::NativeHandle, Platform::ExceptionHandlerFunction>> m_registrations;
    std::uintptr_t m_nextRegistration = 1;
};

} // namespace Qx::Testing
