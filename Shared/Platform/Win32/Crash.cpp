// Win32 only: the C runtime's and the system's crash hooks, and what an exception record says
// about a thrown C++ object.
#include "Platform/Win32/WindowsSupport.h"

#include "Platform/Win32/MsvcExceptions.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <exception>
#include <typeinfo>

#if defined(__GNUC__)
#include <unwind.h>
#endif

namespace Qx::Platform::Win32 {

namespace {

#if defined(__GNUC__)
// libstdc++ keeps a header in front of each thrown object and raises the object's
// _Unwind_Exception, which ends that header, as the only exception parameter. Its
// __cxa_exception and __cxa_dependent_exception (x86_64) differ only in the first field: the
// thrown object's type, or, for std::rethrow_exception, the primary exception object.
struct CxaHeader {
    const void* typeOrPrimaryException;
    void (*exceptionDestructor)(void*);
    void (*unexpectedHandler)();
    std::terminate_handler terminateHandler;
    CxaHeader* nextException;
    int handlerCount;
    int handlerSwitchValue;
    const unsigned char* actionRecord;
    const unsigned char* languageSpecificData;
    _Unwind_Ptr catchTemp;
    void* adjustedPtr;
    _Unwind_Exception unwindHeader;
};

constexpr std::uint64_t kGnuCxxPrimary = 0x474E5543432B2B00ULL;   // "GNUCC++\0"
constexpr std::uint64_t kGnuCxxDependent = 0x474E5543432B2B01ULL; // "GNUCC++\1", std::rethrow_exception

void DescribeThrownObject(const EXCEPTION_RECORD& record, ExceptionDescription& description)
{
    if (record.ExceptionCode != kExceptionGccThrow || record.NumberParameters < 1 ||
        record.ExceptionInformation[0] == 0) {
        return;
    }
    auto* unwind = reinterpret_cast<_Unwind_Exception*>(record.ExceptionInformation[0]);
    const auto* raised =
        reinterpret_cast<const CxaHeader*>(reinterpret_cast<const char*>(unwind) - offsetof(CxaHeader, unwindHeader));
    if (unwind->exception_class == kGnuCxxPrimary) {
        description.thrownObject = raised + 1;
    } else if (unwind->exception_class == kGnuCxxDependent) {
        description.thrownObject = raised->typeOrPrimaryException;
    } else {
        return;
    }
    const CxaHeader* header = static_cast<const CxaHeader*>(description.thrownObject) - 1;
    description.thrownType = static_cast<const std::type_info*>(header->typeOrPrimaryException);
    // The record's address is inside RaiseException; the module that threw owns the type.
    MEMORY_BASIC_INFORMATION memory{};
    if (::VirtualQuery(description.thrownType, &memory, sizeof(memory)) != 0) {
        description.module = memory.AllocationBase;
    }
}
#endif

// Microsoft's runtime raises 0xE06D7363 with the object, its throw information and the image base
// that the information's references start from: the image that threw.
void DescribeMsvcThrownObject(const EXCEPTION_RECORD& record, ExceptionDescription& description)
{
    const char* typeName = QxMsvcThrownTypeName(&record);
    if (typeName == nullptr) {
        return;
    }
    description.thrownObject = reinterpret_cast<const void*>(record.ExceptionInformation[1]);
    description.module = reinterpret_cast<const void*>(record.ExceptionInformation[3]);
#if defined(_MSC_VER)
    // The host's own runtime: the name ends its std::type_info, after two pointers.
    description.thrownType = reinterpret_cast<const std::type_info*>(typeName - 2 * sizeof(void*));
#else
    description.foreignThrownType = typeName;
#endif
}

ExceptionDescription Describe(EXCEPTION_POINTERS* pointers)
{
    ExceptionDescription description;
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    description.code = record.ExceptionCode;
    description.address = record.ExceptionAddress;
    for (DWORD i = 0; i < record.NumberParameters && i < 4; ++i) {
        description.parameters[i] = record.ExceptionInformation[i];
    }
    description.nativePointers = pointers;
#if defined(__GNUC__)
    DescribeThrownObject(record, description);
#endif
    DescribeMsvcThrownObject(record, description);
    if (description.module == nullptr) {
        MEMORY_BASIC_INFORMATION memory{};
        if (::VirtualQuery(record.ExceptionAddress, &memory, sizeof(memory)) != 0) {
            description.module = memory.AllocationBase;
        }
    }
    return description;
}

// The system calls plain functions of its own signatures; the host's handlers are kept here.
ExceptionHandlerFunction g_unhandledFilter = nullptr;
LPTOP_LEVEL_EXCEPTION_FILTER g_previousFilter = nullptr;
// A filter that replaced the host's and was put behind it again, and the library that holds its
// code, kept loaded for as long as the filter may be called.
std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> g_chainedFilter{nullptr};
HMODULE g_chainedFilterLibrary = nullptr;
void (*g_terminateHandler)() = nullptr;
constexpr std::size_t kMaxVectoredHandlers = 4;
// The system may still be calling a handler's trampoline on another thread when it is removed.
std::atomic<ExceptionHandlerFunction> g_vectoredHandlers[kMaxVectoredHandlers] = {};
NativeHandle g_vectoredRegistrations[kMaxVectoredHandlers] = {};

LONG WINAPI UnhandledFilterTrampoline(EXCEPTION_POINTERS* pointers)
{
    return g_unhandledFilter(Describe(pointers));
}

template <std::size_t Slot>
LONG CALLBACK VectoredTrampoline(EXCEPTION_POINTERS* pointers)
{
    const ExceptionHandlerFunction handler = g_vectoredHandlers[Slot].load();
    return handler != nullptr ? handler(Describe(pointers)) : EXCEPTION_CONTINUE_SEARCH;
}

using VectoredFunction = LONG(CALLBACK*)(EXCEPTION_POINTERS*);
constexpr VectoredFunction kVectoredTrampolines[kMaxVectoredHandlers] = {
    &VectoredTrampoline<0>, &VectoredTrampoline<1>, &VectoredTrampoline<2>, &VectoredTrampoline<3>};

void TerminateTrampoline()
{
    g_terminateHandler();
}

void AbortTrampoline(int)
{
    g_terminateHandler();
}

void InvalidParameter(const wchar_t* expression, const wchar_t* function, const wchar_t* file, unsigned line, uintptr_t)
{
    const ULONG_PTR arguments[] = {reinterpret_cast<ULONG_PTR>(expression), reinterpret_cast<ULONG_PTR>(function),
                                   reinterpret_cast<ULONG_PTR>(file), line};
    ::RaiseException(STATUS_BREAKPOINT, 0, 4, arguments);
}

} // namespace

void Win32CrashHandling::SendRuntimeErrorsToStandardError()
{
    _set_error_mode(_OUT_TO_STDERR);
}

void Win32CrashHandling::SetTerminateAndAbortHandler(void (*handler)())
{
    g_terminateHandler = handler;
    std::set_terminate(&TerminateTrampoline);
    std::signal(SIGABRT, &AbortTrampoline);
    CoverAbortOfLoadedRuntimes();
}

// Code built by Microsoft's compiler aborts through its own C runtime, ucrtbase.dll, and raises
// SIGABRT there (std::terminate included): that runtime's handler is set as well, as soon as it is
// in the process.
void CoverAbortOfLoadedRuntimes()
{
    static std::atomic<bool> covered{false};
    if (g_terminateHandler == nullptr || covered.load()) {
        return;
    }
    const HMODULE universalRuntime = ::GetModuleHandleW(L"ucrtbase.dll");
    if (universalRuntime == nullptr) {
        return;
    }
    using SignalFunction = void (*(*)(int, void (*)(int)))(int);
    const auto signal =
        reinterpret_cast<SignalFunction>(reinterpret_cast<void*>(::GetProcAddress(universalRuntime, "signal")));
    if (signal != nullptr && !covered.exchange(true)) {
        signal(SIGABRT, &AbortTrampoline);
    }
}

void Win32CrashHandling::SetInvalidParameterHandler()
{
    // With msvcrt this handler is never called (the runtime has no such hook); it takes effect
    // with a runtime that has one.
    _set_invalid_parameter_handler(&InvalidParameter);
}

void Win32CrashHandling::SetUnhandledExceptionFilter(ExceptionHandlerFunction filter)
{
    g_previousFilter = nullptr;
    g_unhandledFilter = filter;
    g_previousFilter = ::SetUnhandledExceptionFilter(&UnhandledFilterTrampoline);
}

bool Win32CrashHandling::CallPreviousFilter(const ExceptionDescription& exception, std::int32_t& verdict)
{
    if (g_previousFilter == nullptr) {
        return false;
    }
    verdict = g_previousFilter(static_cast<EXCEPTION_POINTERS*>(const_cast<void*>(exception.nativePointers)));
    return true;
}

void Win32CrashHandling::RestorePreviousFilter()
{
    ::SetUnhandledExceptionFilter(g_previousFilter);
}

bool Win32CrashHandling::ReassertUnhandledExceptionFilter(const void*& owner)
{
    if (g_unhandledFilter == nullptr) {
        return false;
    }
    const LPTOP_LEVEL_EXCEPTION_FILTER replacing = ::SetUnhandledExceptionFilter(&UnhandledFilterTrampoline);
    if (replacing == &UnhandledFilterTrampoline || replacing == nullptr || replacing == g_previousFilter) {
        return false;
    }
    // Only a filter whose code the host can keep loaded is safe to call at any later crash.
    HMODULE library = nullptr;
    if (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(replacing), &library) ==
        0) {
        library = nullptr;
    }
    const HMODULE released = g_chainedFilterLibrary;
    g_chainedFilter.store(library != nullptr ? replacing : nullptr);
    g_chainedFilterLibrary = library;
    if (released != nullptr) {
        ::FreeLibrary(released);
    }
    owner = library;
    return true;
}

bool Win32CrashHandling::CallChainedFilter(const ExceptionDescription& exception, std::int32_t& verdict)
{
    const LPTOP_LEVEL_EXCEPTION_FILTER filter = g_chainedFilter.load();
    if (filter == nullptr) {
        return false;
    }
    verdict = filter(static_cast<EXCEPTION_POINTERS*>(const_cast<void*>(exception.nativePointers)));
    return true;
}

std::size_t Win32CrashHandling::ModuleFileName(const void* module, std::span<wchar_t> buffer)
{
    if (module == nullptr || buffer.size() < 2) {
        return 0;
    }
    const DWORD length = ::GetModuleFileNameW(static_cast<HMODULE>(const_cast<void*>(module)), buffer.data(),
                                              static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) {
        return 0;
    }
    std::size_t start = length;
    while (start > 0 && buffer[start - 1] != L'\\' && buffer[start - 1] != L'/') {
        --start;
    }
    std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(start), buffer.begin() + length + 1, buffer.begin());
    return length - start;
}

NativeHandle Win32CrashHandling::AddFirstVectoredHandler(ExceptionHandlerFunction handler)
{
    for (std::size_t slot = 0; slot < kMaxVectoredHandlers; ++slot) {
        if (g_vectoredHandlers[slot].load() == nullptr) {
            g_vectoredHandlers[slot].store(handler);
            g_vectoredRegistrations[slot] = ::AddVectoredExceptionHandler(1, kVectoredTrampolines[slot]);
            if (g_vectoredRegistrations[slot] == nullptr) {
                g_vectoredHandlers[slot].store(nullptr);
            }
            return g_vectoredRegistrations[slot];
        }
    }
    return nullptr;
}

void Win32CrashHandling::RemoveVectoredHandler(NativeHandle registration)
{
    for (std::size_t slot = 0; slot < kMaxVectoredHandlers; ++slot) {
        if (registration != nullptr && g_vectoredRegistrations[slot] == registration) {
            ::RemoveVectoredExceptionHandler(registration);
            g_vectoredRegistrations[slot] = nullptr;
            g_vectoredHandlers[slot].store(nullptr);
        }
    }
}

} // namespace Qx::Platform::Win32
