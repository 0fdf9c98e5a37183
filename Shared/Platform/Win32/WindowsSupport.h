// Win32 only. The platform layer's door to <windows.h>: every C++ source of the layer includes this
// header instead. Only the handle owners, which code outside the layer uses too, and the header of
// the exception filters, which are C, include <windows.h> themselves.
#pragma once

#include <windows.h>

#include <oleauto.h>
#include <winsvc.h>

#include "Platform/Api/Platform.h"
#include "Platform/Win32/UniqueWin32Handles.h"

static_assert(sizeof(HRESULT) == 4);

namespace Qx::Platform::Win32 {

inline Win32Error LastErrorOr(Win32Error fallback)
{
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

// A function of a system library that a normal run never calls (dump writing, COM error texts, a
// version function kernelbase lacks). Importing it would load the library, and those it pulls in,
// into every process at start; instead it is loaded from the system folder, never beside the host,
// on first use and kept for the life of the process. Null when the library or the function is
// missing.
template <class Function>
Function SystemLibraryFunction(const wchar_t* library, const char* name)
{
    const HMODULE module = ::LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
                             : nullptr;
}

class Win32Registry final : public IRegistry {
public:
    Win32Error OpenKey(const std::wstring& path, std::uint32_t access, RegistryKey& key) override;
    Win32Error QueryValue(NativeHandle key, const wchar_t* name, std::uint32_t* type, void* data,
                          std::uint32_t* size) override;
    Win32Error CreateVolatileKey(const std::wstring& path) override;
    Win32Error DeleteKey(const std::wstring& path) override;
    Win32Error DeleteValue(NativeHandle key, const wchar_t* name) override;
    void CloseKey(NativeHandle key) override;
};

// Sets the terminate and abort handler of the crash handling, once it has one, in the C runtimes of
// other compilers that are loaded by now (Microsoft's ucrtbase.dll). Called after each library load.
void CoverAbortOfLoadedRuntimes();

class Win32Libraries final : public ILibraries {
public:
    Win32Error RestrictSearchToSafeFolders() override;
    Win32Error Load(const std::wstring& path, Library& library) override;
    Win32Error LoadAsDataFile(const std::wstring& path, Library& library) override;
    void* GetProc(NativeHandle library, const char* name) override;
    void Free(NativeHandle library) override;
    ModuleEntryOutcome CallSmInitialize(SmInitializeEntry entry, std::uint32_t* moduleFlags) override;
    ModuleEntryOutcome CallSmShutdown(SmShutdownEntry entry) override;
};

class Win32Process final : public IProcess {
public:
    std::uint32_t CurrentProcessId() override;
    std::uint32_t CurrentThreadId() override;
    std::wstring CommandLine() override;
    NativeHandle HostInstance() override;
    Win32Error ModuleFileName(NativeHandle module, std::wstring& path) override;
    std::uint64_t TickCount64() override;
    Win32Error LastError() override;
    void SetLastError(Win32Error error) override;
    std::uint32_t CaptureReturnAddresses(std::uint32_t skip, std::uint32_t count, void** addresses) override;
    ErrorInfo TakeThreadErrorInfo() override;
};

class Win32Text final : public IText {
public:
    Win32Error MapString(std::uint32_t locale, std::uint32_t flags, std::wstring_view source, wchar_t* destination,
                         int capacity, int& written) override;
    wchar_t CharUpper(wchar_t c) override;
    Win32Error Utf8ToWide(std::string_view source, std::wstring& result) override;
    Win32Error FormatMessage(std::uint32_t sourceFlag, NativeHandle source, std::uint32_t messageId,
                             std::uint32_t languageId, std::wstring& text) override;
    Win32Error GetThreadPreferredUILanguages(std::uint32_t flags, std::vector<wchar_t>& list) override;
    bool SetThreadPreferredUILanguages(std::uint32_t flags, const wchar_t* list) override;
    std::uint16_t UserDefaultUILanguage() override;
    std::uint16_t SystemDefaultUILanguage() override;
    bool HasConsoleWindow() override;
};

class Win32Files final : public IFiles {
public:
    bool FileExists(const std::wstring& path) override;
    std::wstring ReadProfileString(const std::wstring& file, const wchar_t* section, const wchar_t* key,
                                   const wchar_t* defaultValue, std::uint32_t capacity) override;
    HRESULT ReadVersionInfo(const std::wstring& path, bool neutral, std::unique_ptr<IVersionBlock>& block) override;
};

class Win32Threads final : public IThreads {
public:
    Win32Error CreateLock(std::unique_ptr<ILock>& lock) override;
    Win32Error CreateThread(ThreadFunction function, void* argument, Thread& thread, std::uint32_t* threadId) override;
    void SetPriority(NativeHandle thread, int priority) override;
    void Terminate(NativeHandle thread, std::uint32_t exitCode) override;
    Win32Error CreateEvent(bool manualReset, Event& event) override;
    void SetEvent(NativeHandle event) override;
    void ResetEvent(NativeHandle event) override;
    Win32Error OpenCurrentThread(Thread& thread) override;
    std::uint32_t Wait(NativeHandle handle, std::uint32_t milliseconds) override;
    std::uint32_t WaitAny(NativeHandle first, NativeHandle second, std::uint32_t milliseconds) override;
    Win32Error GetExitCode(NativeHandle thread, std::uint32_t& exitCode) override;
    void CloseHandle(NativeHandle handle) override;
};

class Win32SelfDefenceDriver final : public ISelfDefenceDriver {
public:
    HRESULT QueryMode(std::uint32_t& mode) override;
};

class Win32CrashHandling final : public ICrashHandling {
public:
    void SendRuntimeErrorsToStandardError() override;
    void SetTerminateAndAbortHandler(void (*handler)()) override;
    void SetInvalidParameterHandler() override;
    void SetUnhandledExceptionFilter(ExceptionHandlerFunction filter) override;
    bool CallPreviousFilter(const ExceptionDescription& exception, std::int32_t& verdict) override;
    void RestorePreviousFilter() override;
    bool ReassertUnhandledExceptionFilter(const void*& owner) override;
    bool CallChainedFilter(const ExceptionDescription& exception, std::int32_t& verdict) override;
    std::size_t ModuleFileName(const void* module, std::span<wchar_t> buffer) override;
    NativeHandle AddFirstVectoredHandler(ExceptionHandlerFunction handler) override;
    void RemoveVectoredHandler(NativeHandle registration) override;
};

class Win32Dumps final : public IDumps {
public:
    std::wstring TempPath() override;
    LocalTime Now() override;
    Win32Error RunProcess(const wchar_t* application, wchar_t* commandLine, std::uint32_t waitMilliseconds,
                          std::uint32_t& exitCode) override;
    bool WriteMiniDump(const wchar_t* path, std::int32_t dumpType, const void* exceptionPointers,
                       std::uint32_t threadId, bool& fileCreated) override;
    bool FileHasData(const wchar_t* path) override;
};

class Win32ServiceControl final : public IServiceControl {
public:
    Win32Error StartDispatcher(const wchar_t* serviceName, ServiceMainFunction serviceMain) override;
    Win32Error RegisterHandler(const wchar_t* serviceName, ServiceHandlerFunction handler, void* context,
                               NativeHandle& statusHandle) override;
    Win32Error SetStatus(NativeHandle statusHandle, const ServiceStatus& status) override;
};

} // namespace Qx::Platform::Win32
