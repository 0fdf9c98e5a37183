// One source for the service modules of the end-to-end tests, built as QxTestModuleA/B/C.dll,
// without SmShutdown as QxTestModuleNoShutdown.dll and without SmInitialize as
// QxTestModuleNoInitialize.dll. Each copy behaves as the registry key
// <the service's settings key>\<own base name> says (see TestTrace.h: below the service's own key),
// read at every SmInitialize, and Throw and ShutdownDelayMs at every SmShutdown too (values missing or of another type
// count as absent):
//     DelayMs  REG_DWORD  milliseconds SmInitialize sleeps before it returns
//     Crash    REG_DWORD  how SmInitialize brings the process down:
//                         1  writes through a null pointer (access violation)
//                         2  calls std::terminate(); the module's own C++ runtime handles that and
//                            aborts, which raises SIGABRT in the C runtime the host shares
//                         3  raises the heap-corruption exception 0xC0000374, which Wine's heap
//                            never raises by itself
//     ShutdownDelayMs REG_DWORD milliseconds SmShutdown sleeps after its trace line
//     Throw    REG_DWORD  1: SmInitialize throws a std::runtime_error instead of returning
//                         2: SmShutdown throws a std::runtime_error once it has traced its call
//     Flags    REG_DWORD  stored into *moduleFlags; without it the flags stay untouched
//     Result   REG_DWORD  the HRESULT SmInitialize returns; 0 (S_OK) when absent
//     ErrorText REG_SZ    COM error information SmInitialize leaves on its thread before it returns
//     ExitThread REG_DWORD SmInitialize ends its thread with ExitThread(value) instead of returning
//     OwnFilter REG_DWORD 1: SmInitialize installs an unhandled-exception filter of its own, as crash
//                         reporters do; it traces "own filter <code>" and ends the process
//                         (EXCEPTION_EXECUTE_HANDLER)
//     ThreadCrash REG_DWORD SmInitialize starts a thread of the module's own that, 200 ms later,
//                         1: writes through a null pointer; 2: throws a std::runtime_error nobody catches
// The module name is taken from the DLL's own file, so one binary copied under another name reads
// its settings and traces under that name. Trace lines (see TestTrace.h), written on entry, before
// any delay or crash:
//     <qpc> <pid> <tid> <module> SmInitialize flags=non-null    (flags=null for a null pointer)
//     <qpc> <pid> <tid> <module> SmShutdown
// Built as QxTestPlantedModule.dll it also traces its loading, from DllMain, before any other code
// of it runs: tests put copies of it where the host must never look for a library.
//     <qpc> <pid> <tid> <module> loaded from <the DLL's full path>
#include <windows.h>

#include <oleauto.h>

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

#include "QxServiceModule.h"
#include "TestTrace.h"

namespace {

#ifndef QX_TEST_MODULE_WITHOUT_INITIALIZE
enum CrashValue : DWORD { kAccessViolation = 1, kTerminate = 2, kHeapCorruption = 3 };
enum ThreadCrashValue : DWORD { kThreadAccessViolation = 1, kThreadThrows = 2 };

void WriteThroughNull()
{
    // Through a volatile pointer, so the compiler cannot see the null and turn the write into a
    // trap instruction, to a volatile target, so that it cannot drop the write: the fault must be a
    // real access violation.
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

void Crash(DWORD how)
{
    switch (how) {
    case kAccessViolation:
        WriteThroughNull();
        break;
    case kTerminate:
        std::terminate();
    case kHeapCorruption:
        RaiseException(STATUS_HEAP_CORRUPTION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
        break;
    default:
        break;
    }
}

LONG WINAPI OwnFilter(EXCEPTION_POINTERS* pointers)
{
    std::string code(8, '0');
    for (DWORD rest = pointers->ExceptionRecord->ExceptionCode, digit = 8; rest != 0; rest >>= 4) {
        code[--digit] = "0123456789ABCDEF"[rest & 0xF];
    }
    Qx::Testing::Trace(Qx::Testing::OwnBaseName(), "own filter " + code);
    return EXCEPTION_EXECUTE_HANDLER;
}

DWORD WINAPI CrashingThread(void* how)
{
    constexpr DWORD kDelayMs = 200;
    Sleep(kDelayMs);
    if (reinterpret_cast<std::uintptr_t>(how) == kThreadThrows) {
        throw std::runtime_error("a thread of the test module throws");
    }
    WriteThroughNull();
    return 0;
}

// IID_IErrorInfo, spelt out: Microsoft's mode here has no uuid library that defines it.
constexpr IID kErrorInfoInterface = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

void LeaveErrorInfo(const std::wstring& text)
{
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create))) {
        return;
    }
    create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(kErrorInfoInterface, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
}

// What SmInitialize does besides tracing, delaying and returning, as the settings say.
void Misbehave(const std::wstring& key)
{
    using Qx::Testing::ReadDword;
    if (ReadDword(key, L"OwnFilter").value_or(0) == 1) {
        SetUnhandledExceptionFilter(&OwnFilter);
    }
    if (const DWORD how = ReadDword(key, L"ThreadCrash").value_or(0); how != 0) {
        CloseHandle(
            CreateThread(nullptr, 0, &CrashingThread, reinterpret_cast<void*>(std::uintptr_t{how}), 0, nullptr));
    }
    Crash(ReadDword(key, L"Crash").value_or(0));
    if (const auto exitCode = ReadDword(key, L"ExitThread")) {
        ExitThread(*exitCode);
    }
    if (ReadDword(key, L"Throw").value_or(0) == 1) {
        throw std::runtime_error("SmInitialize of the test module throws");
    }
}
#endif

// The copy's own base name and the key of its settings; false when memory runs out, and the exports
// give up then rather than throw into the host.
bool FindOwnSettings(std::wstring& module, std::wstring& key) noexcept
{
    try {
        module = Qx::Testing::OwnBaseName();
        key = Qx::Testing::SettingsKey() + L"\\" + module;
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

#ifndef QX_TEST_MODULE_WITHOUT_INITIALIZE
QX_MODULE_API HRESULT SmInitialize(uint32_t* moduleFlags)
{
    using namespace Qx::Testing;
    std::wstring module;
    std::wstring key;
    if (!FindOwnSettings(module, key)) {
        return E_OUTOFMEMORY;
    }
    Trace(module, moduleFlags != nullptr ? "SmInitialize flags=non-null" : "SmInitialize flags=null");
    if (const auto delay = ReadDword(key, L"DelayMs")) {
        Sleep(*delay);
    }
    Misbehave(key);
    if (const std::wstring text = ReadString(key, L"ErrorText"); !text.empty()) {
        LeaveErrorInfo(text);
    }
    if (const auto flags = ReadDword(key, L"Flags"); flags && moduleFlags != nullptr) {
        *moduleFlags = *flags;
    }
    return static_cast<HRESULT>(ReadDword(key, L"Result").value_or(S_OK));
}
#endif

#ifndef QX_TEST_MODULE_WITHOUT_SHUTDOWN
QX_MODULE_API void SmShutdown(void)
{
    using namespace Qx::Testing;
    std::wstring module;
    std::wstring key;
    if (!FindOwnSettings(module, key)) {
        // Out of memory: the line is lost, and nothing is thrown on purpose.
        return;
    }
    Trace(module, "SmShutdown");
    if (const auto delay = ReadDword(key, L"ShutdownDelayMs")) {
        Sleep(*delay);
    }
    if (ReadDword(key, L"Throw").value_or(0) == 2) {
        throw std::runtime_error("SmShutdown of the test module throws");
    }
}
#endif

#ifdef QX_TEST_MODULE_TRACES_LOADING
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        try {
            Qx::Testing::Trace(Qx::Testing::OwnBaseName(),
                               "loaded from " + Qx::Testing::ToUtf8(Qx::Testing::ModulePath(instance)));
        } catch (...) {
            // Out of memory: the line is lost.
        }
    }
    return TRUE;
}
#endif
