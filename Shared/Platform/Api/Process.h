// The process: its identity, command line, last error, stack and COM error information.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Platform/Api/HResult.h"
#include "Platform/Api/UniqueHandle.h"

namespace Qx::Platform {

// A counted reference to COM error information (IErrorInfo). Copies share the reference;
// the last one releases it.
class IErrorInfoRef {
public:
    virtual ~IErrorInfoRef() = default;
    // The description, empty when the object has none.
    virtual std::wstring Description() const = 0;
};
using ErrorInfo = std::shared_ptr<const IErrorInfoRef>;

class IProcess {
public:
    virtual ~IProcess() = default;
    virtual std::uint32_t CurrentProcessId() = 0;
    virtual std::uint32_t CurrentThreadId() = 0;
    // GetCommandLineW: the whole command line, program path included.
    virtual std::wstring CommandLine() = 0;
    // The host module's own instance handle.
    virtual NativeHandle HostInstance() = 0;
    // GetModuleFileNameW; a null module names the process executable.
    [[nodiscard]] virtual Win32Error ModuleFileName(NativeHandle module, std::wstring& path) = 0;
    virtual std::uint64_t TickCount64() = 0;
    virtual Win32Error LastError() = 0;
    virtual void SetLastError(Win32Error error) = 0;
    // Fills up to count return addresses of the calling thread, skipping the innermost frames;
    // returns how many were written.
    virtual std::uint32_t CaptureReturnAddresses(std::uint32_t skip, std::uint32_t count, void** addresses) = 0;
    // GetErrorInfo: the thread's current COM error information, which it also clears; null
    // unless the call answers S_OK.
    virtual ErrorInfo TakeThreadErrorInfo() = 0;
};

} // namespace Qx::Platform
