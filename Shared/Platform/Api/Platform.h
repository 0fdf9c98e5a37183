// The platform services the host's logic uses, as small interfaces.
//
// The Win32 layer (Platform/Win32) implements them over the real APIs and is the product;
// the test doubles (Tests/Doubles) implement the same interfaces so the logic builds and is
// unit-tested on Linux. Nothing here includes <windows.h>.
//
// Conventions: operations that can fail return a Win32 error code or an HRESULT marked
// [[nodiscard]], and leave their out-parameters untouched on failure unless stated. None of
// them throws; raising HRXEx is the logic's decision.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "Platform/Api/HResult.h"
#include "Platform/Api/UniqueHandle.h"

namespace Qx::Platform {

class IRegistry;
class ILibraries;
class IThreads;

struct RegistryKeyTraits {
    using Handle = NativeHandle;
    using Opener = IRegistry;
    static bool IsValid(NativeHandle h) { return h != nullptr; }
    static void Close(IRegistry& registry, NativeHandle h);
};
using RegistryKey = UniqueHandle<RegistryKeyTraits>;

// A kernel object handle of a thread; neither null nor INVALID_HANDLE_VALUE when valid.
struct ThreadTraits {
    using Handle = NativeHandle;
    using Opener = IThreads;
    static bool IsValid(NativeHandle h) { return h != nullptr && h != reinterpret_cast<NativeHandle>(-1); }
    static void Close(IThreads& threads, NativeHandle h);
};
using Thread = UniqueHandle<ThreadTraits>;

struct EventTraits {
    using Handle = NativeHandle;
    using Opener = IThreads;
    static bool IsValid(NativeHandle h) { return h != nullptr; }
    static void Close(IThreads& threads, NativeHandle h);
};
using Event = UniqueHandle<EventTraits>;

// Freeing a library keeps the thread's last-error value: it is saved before and restored after.
struct LibraryTraits {
    using Handle = NativeHandle;
    using Opener = ILibraries;
    static bool IsValid(NativeHandle h) { return h != nullptr; }
    static void Close(ILibraries& libraries, NativeHandle h);
};
using Library = UniqueHandle<LibraryTraits>;

constexpr std::uint32_t kKeyRead = 0x20019;
// GENERIC_READ: on a registry key it grants what kKeyRead does.
constexpr std::uint32_t kGenericRead = 0x80000000;
constexpr std::uint32_t kRegNone = 0;
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegMultiSz = 7;
constexpr std::uint32_t kRegQword = 11;

// Keys are addressed by their path below HKEY_LOCAL_MACHINE.
class IRegistry {
public:
    virtual ~IRegistry() = default;
    [[nodiscard]] virtual Win32Error OpenKey(const std::wstring& path, std::uint32_t access, RegistryKey& key) = 0;
    // RegQueryValueExW: type and data may be null. With data null, or on ERROR_MORE_DATA, *size
    // receives the size the value needs; data is then untouched.
    [[nodiscard]] virtual Win32Error QueryValue(NativeHandle key, const wchar_t* name, std::uint32_t* type, void* data,
                                                std::uint32_t* size) = 0;
    // Creates the key, and any missing parent, as volatile: it lasts until the registry is unloaded.
    [[nodiscard]] virtual Win32Error CreateVolatileKey(const std::wstring& path) = 0;
    // RegDeleteKeyW: removes a leaf; a key with subkeys is refused with ERROR_ACCESS_DENIED.
    [[nodiscard]] virtual Win32Error DeleteKey(const std::wstring& path) = 0;
    [[nodiscard]] virtual Win32Error DeleteValue(NativeHandle key, const wchar_t* name) = 0;
    virtual void CloseKey(NativeHandle key) = 0;
};

// A service module's exports, and what became of a call into one of them.
using SmInitializeEntry = HRESULT (*)(std::uint32_t* moduleFlags);
using SmShutdownEntry = void (*)();
struct ModuleEntryOutcome {
    HRESULT result = 0; // SmInitialize's
    // A C++ exception of another runtime than the host's left the entry: one of Microsoft's
    // runtime, thrown by a module built with Microsoft's compiler, which g++'s catch cannot catch.
    bool foreignException = false;
    // Its thrown type's decorated name (".?AVruntime_error@std@@"); empty when unknown.
    std::string foreignType;
    // what() when it is a std::exception; empty otherwise.
    std::string foreignWhat;
};

class ILibraries {
public:
    virtual ~ILibraries() = default;
    // SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS), for the whole process: a library
    // named without a path is then looked up in the executable's folder, System32 and the folders
    // added with AddDllDirectory only; never in the current folder, the Windows folder or PATH.
    [[nodiscard]] virtual Win32Error RestrictSearchToSafeFolders() = 0;
    // LoadLibraryW: a name without a path is looked up in the process's search order.
    [[nodiscard]] virtual Win32Error Load(const std::wstring& path, Library& library) = 0;
    // LoadLibraryExW with LOAD_LIBRARY_AS_DATAFILE: resources only, no code runs.
    [[nodiscard]] virtual Win32Error LoadAsDataFile(const std::wstring& path, Library& library) = 0;
    // GetProcAddress; null when the export is missing.
    virtual void* GetProc(NativeHandle library, const char* name) = 0;
    virtual void Free(NativeHandle library) = 0;
    // Call a module's entry. A C++ exception of the host's own runtime passes through; a foreign
    // one is caught here and reported in the outcome.
    virtual ModuleEntryOutcome CallSmInitialize(SmInitializeEntry entry, std::uint32_t* moduleFlags) = 0;
    virtual ModuleEntryOutcome CallSmShutdown(SmShutdownEntry entry) = 0;
};

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

// A version resource read from a module file.
class IVersionBlock {
public:
    virtual ~IVersionBlock() = default;
    // The first entry of "\VarFileInfo\Translation": language in the low word, code page in the high.
    [[nodiscard]] virtual bool Translation(std::uint16_t& language, std::uint16_t& codePage) const = 0;
    // VerQueryValueW of a string: false when the query fails; a null value gives isNull.
    [[nodiscard]] virtual bool QueryString(const std::wstring& subBlock, std::wstring& value, bool& isNull) const = 0;
};

constexpr std::uint32_t kLocaleInvariant = 0x7F;
constexpr std::uint32_t kLocaleSystemDefault = 0x800;
constexpr std::uint32_t kLcmapLowercase = 0x100;
constexpr std::uint32_t kFormatMessageFromHModule = 0x800;
constexpr std::uint32_t kFormatMessageFromSystem = 0x1000;
constexpr std::uint32_t kMuiLanguageId = 0x4;
constexpr std::uint32_t kMuiThreadLanguages = 0x40;
constexpr std::uint32_t kMuiConsoleFilter = 0x100;

class IText {
public:
    virtual ~IText() = default;
    // LCMapStringW. With capacity 0, written receives the size the result needs. An empty source is
    // refused with ERROR_INVALID_PARAMETER. On failure written is untouched, but destination may
    // hold part of the result.
    [[nodiscard]] virtual Win32Error MapString(std::uint32_t locale, std::uint32_t flags, std::wstring_view source,
                                               wchar_t* destination, int capacity, int& written) = 0;
    // One character in upper case as CharUpperW gives it: the same in every language ('i' is 'I'
    // in Turkish too).
    virtual wchar_t CharUpper(wchar_t c) = 0;
    // MultiByteToWideChar from UTF-8 without MB_ERR_INVALID_CHARS, over the whole view, NULs
    // included: an ill-formed sequence becomes U+FFFD instead of failing the call.
    [[nodiscard]] virtual Win32Error Utf8ToWide(std::string_view source, std::wstring& result) = 0;
    // FormatMessageW with the given source flag, FORMAT_MESSAGE_ALLOCATE_BUFFER and
    // FORMAT_MESSAGE_IGNORE_INSERTS; text is the message, inserts unexpanded.
    [[nodiscard]] virtual Win32Error FormatMessage(std::uint32_t sourceFlag, NativeHandle source,
                                                   std::uint32_t messageId, std::uint32_t languageId,
                                                   std::wstring& text) = 0;
    // GetThreadPreferredUILanguages: the double-NUL-terminated list, NULs included.
    [[nodiscard]] virtual Win32Error GetThreadPreferredUILanguages(std::uint32_t flags, std::vector<wchar_t>& list) = 0;
    // SetThreadPreferredUILanguages; list may be null.
    [[nodiscard]] virtual bool SetThreadPreferredUILanguages(std::uint32_t flags, const wchar_t* list) = 0;
    virtual std::uint16_t UserDefaultUILanguage() = 0;
    virtual std::uint16_t SystemDefaultUILanguage() = 0;
    virtual bool HasConsoleWindow() = 0;
    // GetFileAttributesW: whether a file or folder exists at path. Each profile read of a missing
    // file searches its folder again, so a reader of several values asks this first.
    virtual bool FileExists(const std::wstring& path) = 0;
    // GetPrivateProfileStringW into a buffer of capacity characters; values are cut to capacity - 1.
    virtual std::wstring ReadProfileString(const std::wstring& file, const wchar_t* section, const wchar_t* key,
                                           const wchar_t* defaultValue, std::uint32_t capacity) = 0;
    // Reads the version resource of a module file; neutral asks for the language-neutral one.
    [[nodiscard]] virtual HRESULT ReadVersionInfo(const std::wstring& path, bool neutral,
                                                  std::unique_ptr<IVersionBlock>& block) = 0;
};

// A lock of the kind InitializeCriticalSectionEx creates.
class ILock {
public:
    virtual ~ILock() = default;
    virtual void lock() = 0;
    virtual void unlock() = 0;
};

constexpr std::uint32_t kWaitObject0 = 0;
constexpr std::uint32_t kWaitTimeout = 258;
constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;
constexpr std::uint32_t kWaitInfinite = 0xFFFFFFFF;

using ThreadFunction = std::uint32_t (*)(void* argument);

class IThreads {
public:
    virtual ~IThreads() = default;
    // InitializeCriticalSectionEx; lock stays empty on failure.
    [[nodiscard]] virtual Win32Error CreateLock(std::unique_ptr<ILock>& lock) = 0;
    // A thread with default security and stack, running at once; threadId may be null.
    [[nodiscard]] virtual Win32Error CreateThread(ThreadFunction function, void* argument, Thread& thread,
                                                  std::uint32_t* threadId) = 0;
    virtual void SetPriority(NativeHandle thread, int priority) = 0;
    // TerminateThread: the last resort for a thread that does not end.
    virtual void Terminate(NativeHandle thread, std::uint32_t exitCode) = 0;
    // CreateEventW without a name, not signalled.
    [[nodiscard]] virtual Win32Error CreateEvent(bool manualReset, Event& event) = 0;
    virtual void SetEvent(NativeHandle event) = 0;
    virtual void ResetEvent(NativeHandle event) = 0;
    // OpenThread of the calling thread with SYNCHRONIZE access.
    [[nodiscard]] virtual Win32Error OpenCurrentThread(Thread& thread) = 0;
    // WaitForSingleObject: kWaitObject0, kWaitTimeout or kWaitFailed.
    virtual std::uint32_t Wait(NativeHandle handle, std::uint32_t milliseconds) = 0;
    // WaitForMultipleObjects for either of two: kWaitObject0 plus the index, kWaitTimeout or kWaitFailed.
    virtual std::uint32_t WaitAny(NativeHandle first, NativeHandle second, std::uint32_t milliseconds) = 0;
    [[nodiscard]] virtual Win32Error GetExitCode(NativeHandle thread, std::uint32_t& exitCode) = 0;
    virtual void CloseHandle(NativeHandle handle) = 0;
};

// SERVICE_STATUS.
struct ServiceStatus {
    std::uint32_t serviceType = 0;
    std::uint32_t currentState = 0;
    std::uint32_t controlsAccepted = 0;
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
};

constexpr int kThreadPriorityNormal = 0;
constexpr int kThreadPriorityAboveNormal = 1;

// The product's self-defence driver.
class ISelfDefenceDriver {
public:
    virtual ~ISelfDefenceDriver() = default;
    // Opens the driver's device, asks for its mode and closes it again. Native statuses come back
    // as HRESULTs with bit 28 set; a failed control request as HRESULT_FROM_WIN32 of its error.
    [[nodiscard]] virtual HRESULT QueryMode(std::uint32_t& mode) = 0;
};

constexpr std::uint32_t kServiceWin32OwnProcess = 0x10;
constexpr std::uint32_t kServiceStopped = 1;
constexpr std::uint32_t kServiceStartPending = 2;
constexpr std::uint32_t kServiceStopPending = 3;
constexpr std::uint32_t kServiceRunning = 4;
constexpr std::uint32_t kServiceAcceptStop = 0x1;
constexpr std::uint32_t kServiceAcceptShutdown = 0x4;

using ServiceMainFunction = void (*)(std::uint32_t argc, wchar_t** argv);
// HandlerEx: control code, event type, event data, context; returns a Win32 code.
using ServiceHandlerFunction = std::uint32_t (*)(std::uint32_t control, std::uint32_t eventType, void* eventData,
                                                 void* context);

class IServiceControl {
public:
    virtual ~IServiceControl() = default;
    // StartServiceCtrlDispatcherW with one service; blocks until the service has stopped.
    [[nodiscard]] virtual Win32Error StartDispatcher(const wchar_t* serviceName, ServiceMainFunction serviceMain) = 0;
    // RegisterServiceCtrlHandlerExW; the status handle is null on failure.
    [[nodiscard]] virtual Win32Error RegisterHandler(const wchar_t* serviceName, ServiceHandlerFunction handler,
                                                     void* context, NativeHandle& statusHandle) = 0;
    [[nodiscard]] virtual Win32Error SetStatus(NativeHandle statusHandle, const ServiceStatus& status) = 0;
};

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
    // A vectored exception handler, called first; returns its registration, null on failure.
    virtual NativeHandle AddFirstVectoredHandler(ExceptionHandlerFunction handler) = 0;
    virtual void RemoveVectoredHandler(NativeHandle registration) = 0;
};

struct LocalTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Writing dumps of the process.
class IDumps {
public:
    virtual ~IDumps() = default;
    // GetTempPathW: ends in a backslash.
    virtual std::wstring TempPath() = 0;
    virtual LocalTime Now() = 0;
    // Starts application with the command line (handles inherited, no window), waits up to
    // waitMilliseconds, terminates it with 0xFFFFFFFF when it has not ended, and gives its exit
    // code (0 when it cannot be read). Returns the error when it cannot be started. The command
    // line is a writable NUL-terminated buffer, as CreateProcessW wants it; nothing is copied, so
    // a crash handler can call this without allocating.
    [[nodiscard]] virtual Win32Error RunProcess(const wchar_t* application, wchar_t* commandLine,
                                                std::uint32_t waitMilliseconds, std::uint32_t& exitCode) = 0;
    // Creates (truncates) path and writes a minidump of this process into it, with the exception
    // of the given thread when exceptionPointers is not null. fileCreated tells whether the file
    // could be created; the result whether the dump was written.
    virtual bool WriteMiniDump(const wchar_t* path, std::int32_t dumpType, const void* exceptionPointers,
                               std::uint32_t threadId, bool& fileCreated) = 0;
    // Whether path names a file of at least one byte (GetFileAttributesExW), without allocating.
    virtual bool FileHasData(const wchar_t* path) = 0;
};

struct Services {
    IRegistry* registry = nullptr;
    ILibraries* libraries = nullptr;
    IProcess* process = nullptr;
    IText* text = nullptr;
    IThreads* threads = nullptr;
    IServiceControl* serviceControl = nullptr;
    ISelfDefenceDriver* selfDefenceDriver = nullptr;
    ICrashHandling* crashHandling = nullptr;
    IDumps* dumps = nullptr;
};

// The implementation linked into the binary: Win32 in the product, doubles in native tests.
Services DefaultServices();

// The services in use; tests replace them and restore the previous set afterwards.
const Services& Current();
// Replaces the services in use and gives the previous set; refused (nullopt, nothing changed)
// once the set is frozen.
std::optional<Services> Install(const Services& services);
// Makes the services in use final for the rest of the process. The host's entry point freezes
// them before anything else runs, so in the product the set never changes.
void FreezeServices();

inline IRegistry& Registry()
{
    return *Current().registry;
}
inline ILibraries& Libraries()
{
    return *Current().libraries;
}
inline IProcess& Process()
{
    return *Current().process;
}
inline IText& Text()
{
    return *Current().text;
}
inline IThreads& Threads()
{
    return *Current().threads;
}
inline IServiceControl& ServiceControl()
{
    return *Current().serviceControl;
}
inline ISelfDefenceDriver& SelfDefenceDriver()
{
    return *Current().selfDefenceDriver;
}
inline ICrashHandling& CrashHandling()
{
    return *Current().crashHandling;
}
inline IDumps& Dumps()
{
    return *Current().dumps;
}

// The folder of the process executable with its final backslash; empty when it is unknown, so
// that a library meant to sit beside the host is never looked up by its bare name instead.
std::wstring ExecutableFolder();

} // namespace Qx::Platform
