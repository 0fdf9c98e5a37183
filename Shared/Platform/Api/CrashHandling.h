// Crash hooks: exceptions as handlers see them, and the process-wide handlers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <typeinfo>

#include "Platform/Api/UniqueHandle.h"

namespace Qx::Platform {

// One exception as a handler sees it.
struct ExceptionDescription {
    std::uint32_t code = 0;
    const void* address = nullptr;
    // The first four exception parameters; those the exception does not have are 0.
    std::uintptr_t parameters[4] = {};
    // The module the exception comes from: for a thrown object the module that threw it,
    // otherwise the allocation base of the code at the exception address.
    const void* module = nullptr;
    // A C++ object thrown in this process, with its type, when the runtime's record names one.
    const std::type_info* thrownType = nullptr;
    const void* thrownObject = nullptr;
    // The decorated name of the type of a C++ object thrown by another runtime than the host's
    // (Microsoft's, for a module built by its compiler), which has no std::type_info here.
    const char* foreignThrownType = nullptr;
    // The system's exception pointers, handed on to the dump writer.
    const void* nativePointers = nullptr;
};

// Returns the handler's verdict: 0 continue the search, 1 execute the handler, -1 continue
// execution.
using ExceptionHandlerFunction = std::int32_t (*)(const ExceptionDescription& exception);
constexpr std::int32_t kExceptionContinueSearch = 0;
constexpr std::int32_t kExceptionExecuteHandler = 1;

constexpr std::uint32_t kExceptionAccessViolation = 0xC0000005;
constexpr std::uint32_t kExceptionHeapCorruption = 0xC0000374;
constexpr std::uint32_t kExceptionMsvcThrow = 0xE06D7363;
constexpr std::uint32_t kExceptionGccThrow = 0x20474343;

// The process-wide crash hooks of the C runtime and the system.
class ICrashHandling {
public:
    virtual ~ICrashHandling() = default;
    // Runtime error messages go to standard error instead of a message box.
    virtual void SendRuntimeErrorsToStandardError() = 0;
    // handler runs for std::terminate and for SIGABRT.
    virtual void SetTerminateAndAbortHandler(void (*handler)()) = 0;
    // The C runtime's invalid-parameter handler raises a continuable breakpoint exception
    // (0x80000003) with the expression, function, file and line as parameters.
    virtual void SetInvalidParameterHandler() = 0;
    // Installs filter as the unhandled-exception filter; the previous one is kept for
    // CallPreviousFilter and RestorePreviousFilter.
    virtual void SetUnhandledExceptionFilter(ExceptionHandlerFunction filter) = 0;
    // The previous filter's verdict, or false when there was none.
    virtual bool CallPreviousFilter(const ExceptionDescription& exception, std::int32_t& verdict) = 0;
    virtual void RestorePreviousFilter() = 0;
    // Puts the filter of SetUnhandledExceptionFilter back in front when code of the process has
    // installed one of its own since, as crash reporters and runtimes do. True when one was found;
    // owner is then the image that holds its code, which stays loaded while the filter is kept for
    // CallChainedFilter, or null for a filter outside any image, which is not kept.
    virtual bool ReassertUnhandledExceptionFilter(const void*& owner) = 0;
    // The verdict of the filter that ReassertUnhandledExceptionFilter last found, or false when
    // there is none.
    virtual bool CallChainedFilter(const ExceptionDescription& exception, std::int32_t& verdict) = 0;
    // The file name, without its folder, of the image loaded at module, with its NUL, written into
    // buffer without allocating; 0 when no image is loaded there or the name does not fit.
    virtual std::size_t ModuleFileName(const void* module, std::span<wchar_t> buffer) = 0;
    // A vectored exception handler, called first; returns its registration, null on failure.
    virtual NativeHandle AddFirstVectoredHandler(ExceptionHandlerFunction handler) = 0;
    virtual void RemoveVectoredHandler(NativeHandle registration) = 0;
};

} // namespace Qx::Platform
