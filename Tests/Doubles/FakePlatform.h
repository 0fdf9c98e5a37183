// Test doubles of every platform interface, and a fixture helper that installs a fresh set.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Api/Platform.h"

namespace Qx::Testing {

// Compares registry paths and names without regard to ASCII case, as the registry does.
struct CaseInsensitiveLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};

struct RegistryValue {
    std::uint32_t type = Platform::kRegNone;
    std::vector<std::uint8_t> data;
};

// Keys by path below HKEY_LOCAL_MACHINE; QueryValue answers like RegQueryValueExW. A value is read
// and deleted only through a key opened with the right to do so.
class FakeRegistry final : public Platform::IRegistry {
public:
    void SetString(const std::wstring& path, const std::wstring& name, const std::wstring& text,
                   std::uint32_t type = Platform::kRegSz);
    void SetDword(const std::wstring& path, const std::wstring& name, std::uint32_t value);
    void SetQword(const std::wstring& path, const std::wstring& name, std::uint64_t value);
    // Setting a value creates its key, and creating a key creates its missing parents.
    void SetRaw(const std::wstring& path, const std::wstring& name, std::uint32_t type, std::vector<std::uint8_t> data);
    void CreateKey(const std::wstring& path);
    [[nodiscard]] bool HasKey(const std::wstring& path) const;
    [[nodiscard]] bool HasValue(const std::wstring& path, const std::wstring& name) const;
    // Makes OpenKey of path fail with error.
    void FailOpen(const std::wstring& path, Win32Error error);
    // Keys open now.
    [[nodiscard]] int OpenKeyCount() const { return m_openKeys; }
    // Successful OpenKey calls so far.
    [[nodiscard]] int OpenCalls() const { return m_openCalls; }

    Win32Error OpenKey(const std::wstring& path, std::uint32_t access, Platform::RegistryKey& key) override;
    Win32Error QueryValue(Platform::NativeHandle key, const wchar_t* name, std::uint32_t* type, void* data,
                          std::uint32_t* size) override;
    Win32Error CreateVolatileKey(const std::wstring& path) override;
    Win32Error DeleteKey(const std::wstring& path) override;
    Win32Error DeleteValue(Platform::NativeHandle key, const wchar_t* name) override;
    void CloseKey(Platform::NativeHandle key) override;

private:
    using Values = std::map<std::wstring, RegistryValue, CaseInsensitiveLess>;
    struct OpenedKey {
        std::wstring path;
        std::uint32_t access; // generic rights mapped to the key's own
    };
    Values* FindKey(const std::wstring& path);
    [[nodiscard]] bool HasSubkeys(const std::wstring& path) const;

    std::map<std::wstring, Values, CaseInsensitiveLess> m_keys;
    std::map<std::wstring, Win32Error, CaseInsensitiveLess> m_openFailures;
    std::set<const OpenedKey*> m_handles;
    int m_openKeys = 0;
    int m_openCalls = 0;
};

// A library with exports; its handle is its own address. Loaded as
// a data file its handle has the low bit set, as on Windows, and offers no exports; FakeText finds
// its messages under either handle.
struct FakeModule {
    std::map<std::string, void*> exports;
    bool dataFileOnly = false;
};

class FakeLibraries final : public Platform::ILibraries {
public:
    // Makes a library loadable under path (compared without regard to case), with no exports.
    FakeModule& Add(const std::wstring& path);
    // Makes Load of path fail with error, whether or not a library was added there.
    void FailLoad(const std::wstring& path, Win32Error error);
    [[nodiscard]] std::vector<std::wstring> LoadedPaths() const { return m_loaded; }
    [[nodiscard]] std::vector<std::wstring> FreedPaths() const { return m_freed; }
    // Paths loaded and not yet freed, each load counted once.
    [[nodiscard]] std::vector<std::wstring> LivePaths() const;
    // Makes RestrictSearchToSafeFolders fail with error.
    void FailSafeSearch(Win32Error error) { m_safeSearchFailure = error; }
    // One entry per RestrictSearchToSafeFolders call: how many libraries had been loaded before it.
    [[nodiscard]] std::vector<std::size_t> SafeSearchCalls() const { return m_safeSearchCalls; }

    Win32Error RestrictSearchToSafeFolders() override;
    Win32Error Load(const std::wstring& path, Platform::Library& library) override;
    Win32Error LoadAsDataFile(const std::wstring& path, Platform::Library& library) override;
    void* GetProc(Platform::NativeHandle library, const char* name) override;
    void Free(Platform::NativeHandle library) override;

private:
    std::map<std::wstring, FakeModule*, CaseInsensitiveLess> m_modules;
    std::map<std::wstring, Win32Error, CaseInsensitiveLess> m_loadFailures;
    std::vector<std::wstring> m_loaded;
    std::vector<std::wstring> m_freed;
    Win32Error m_safeSearchFailure = kErrorSuccess;
    std::vector<std::size_t> m_safeSearchCalls;
};

class FakeErrorInfo final : public Platform::IErrorInfoRef {
public:
    explicit FakeErrorInfo(std::wstring description) : m_description(std::move(description)) {}
    std::wstring Description() const override { return m_description; }

private:
    std::wstring m_description;
};

class FakeProcess final : public Platform::IProcess {
public:
    static constexpr const wchar_t* kExecutablePath = L"C:\\Program Files\\Qx\\QxServiceHost.exe";

    std::uint32_t processId = 4242;
    std::wstring commandLine = L"\"C:\\Program Files\\Qx\\QxServiceHost.exe\"";
    Platform::NativeHandle hostInstance = reinterpret_cast<Platform::NativeHandle>(0x140000000);
    std::map<Platform::NativeHandle, std::wstring> modulePaths{{nullptr, kExecutablePath},
                                                               {hostInstance, kExecutablePath}};
    std::uint64_t tickCount = 1000;
    Win32Error lastError = 0;
    std::vector<void*> returnAddresses;
    Platform::ErrorInfo threadErrorInfo;

    std::uint32_t CurrentProcessId() override { return processId; }
    // A distinct id per thread, as the system gives.
    std::uint32_t CurrentThreadId() override;
    std::wstring CommandLine() override { return commandLine; }
    Platform::NativeHandle HostInstance() override { return hostInstance; }
    Win32Error ModuleFileName(Platform::NativeHandle module, std::wstring& path) override;
    std::uint64_t TickCount64() override { return tickCount; }
    Win32Error LastError() override { return lastError; }
    void SetLastError(Win32Error error) override { lastError = error; }
    std::uint32_t CaptureReturnAddresses(std::uint32_t skip, std::uint32_t count, void** addresses) override;
    Platform::ErrorInfo TakeThreadErrorInfo() override { return std::exchange(threadErrorInfo, nullptr); }
};

class FakeVersionBlock final : public Platform::IVersionBlock {
public:
    std::optional<std::pair<std::uint16_t, std::uint16_t>> translation;
    // Sub-block to value; std::nullopt stands for a query that succeeds with a null value.
    std::map<std::wstring, std::optional<std::wstring>, CaseInsensitiveLess> strings;

    bool Translation(std::uint16_t& language, std::uint16_t& codePage) const override;
    bool QueryString(const std::wstring& subBlock, std::wstring& value, bool& isNull) const override;
};

// Case mapping follows the system's tables and Utf8ToWide hands out UTF-16 units with U+FFFD for
// ill-formed input, as Tests/Contract/TextContract.cpp holds them to.
class FakeText final : public Platform::IText {
public:
    struct MessageKey {
        Platform::NativeHandle source;
        std::uint32_t id;
        std::uint32_t language;
        auto operator<=>(const MessageKey&) const = default;
    };
    struct LanguageCall {
        std::uint32_t flags;
        std::vector<wchar_t> list; // empty for a null list
    };

    // Errors the next MapString calls answer, in order, before mapping normally.
    std::vector<Win32Error> mapStringFailures;
    std::vector<std::uint32_t> mapStringLocales;
    // Language 0 picks the text of this language, as if the thread preferred it.
    std::uint32_t threadLanguage = 0x0409;
    std::map<MessageKey, std::wstring> messages;
    std::vector<MessageKey> formatMessageCalls;
    std::vector<wchar_t> threadLanguages{L'0', L'4', L'0', L'9', L'\0', L'\0'};
    bool getLanguagesFails = false;
    bool setLanguagesSucceeds = true;
    std::vector<LanguageCall> setLanguageCalls;
    std::uint16_t userLanguage = 0x0407;
    std::uint16_t systemLanguage = 0x0407;
    bool console = false;
    std::map<std::wstring, std::wstring, CaseInsensitiveLess> profileValues; // "file|section|key"
    std::map<std::wstring, FakeVersionBlock, CaseInsensitiveLess> versionBlocks;
    HRESULT versionFailure = kSOk;
    std::vector<bool> versionNeutralRequests;

    Win32Error MapString(std::uint32_t locale, std::uint32_t flags, std::wstring_view source, wchar_t* destination,
                         int capacity, int& written) override;
    wchar_t CharUpper(wchar_t c) override;
    Win32Error Utf8ToWide(std::string_view source, std::wstring& result) override;
    Win32Error FormatMessage(std::uint32_t sourceFlag, Platform::NativeHandle source, std::uint32_t messageId,
                             std::uint32_t languageId, std::wstring& text) override;
    Win32Error GetThreadPreferredUILanguages(std::uint32_t flags, std::vector<wchar_t>& list) override;
    bool SetThreadPreferredUILanguages(std::uint32_t flags, const wchar_t* list) override;
    std::uint16_t UserDefaultUILanguage() override { return userLanguage; }
    std::uint16_t SystemDefaultUILanguage() override { return systemLanguage; }
    bool HasConsoleWindow() override { return console; }
    std::wstring ReadProfileString(const std::wstring& file, const wchar_t* section, const wchar_t* key,
                                   const wchar_t* defaultValue, std::uint32_t capacity) override;
    HRESULT ReadVersionInfo(const std::wstring& path, bool neutral,
                            std::unique_ptr<Platform::IVersionBlock>& block) override;
};

// Real threads and events behind fake handles, and a quit flag per thread id in place of a
// message queue. Every waitable's state is guarded by one lock.
class FakeThreads final : public Platform::IThreads {
public:
    // The next CreateLock calls answer these errors, in order; 0 lets one succeed.
    std::vector<Win32Error> lockFailures;
    Win32Error createThreadFailure = kErrorSuccess;
    Win32Error createEventFailure = kErrorSuccess;
    Win32Error openThreadFailure = kErrorSuccess;
    // Real time per waited millisecond: below 1, timed waits run faster than they say.
    double timeScale = 1.0;
    std::vector<std::uint32_t> waits;
    std::vector<int> priorities;
    int terminations = 0;
    int messageQueueChecks = 0;
    // Threads still running their function, terminated ones included: a terminated fake thread
    // cannot be killed and runs on until its function returns.
    std::atomic<int> runningThreads{0};

    ~FakeThreads() override;

    // Thread and event handles not yet closed.
    [[nodiscard]] std::size_t OpenHandleCount();

    Win32Error CreateLock(std::unique_ptr<Platform::ILock>& lock) override;
    Win32Error CreateThread(Platform::ThreadFunction function, void* argument, Platform::Thread& thread,
                            std::uint32_t* threadId) override;
    void SetPriority(Platform::NativeHandle thread, int priority) override;
    void Terminate(Platform::NativeHandle thread, std::uint32_t exitCode) override;
    Win32Error CreateEvent(bool manualReset, Platform::Event& event) override;
    void SetEvent(Platform::NativeHandle event) override;
    void ResetEvent(Platform::NativeHandle event) override;
    Win32Error OpenCurrentThread(Platform::Thread& thread) override;
    std::uint32_t Wait(Platform::NativeHandle handle, std::uint32_t milliseconds) override;
    std::uint32_t WaitAny(Platform::NativeHandle first, Platform::NativeHandle second,
                          std::uint32_t milliseconds) override;
    Win32Error GetExitCode(Platform::NativeHandle thread, std::uint32_t& exitCode) override;
    void CloseHandle(Platform::NativeHandle handle) override;
    void RunMessageLoop() override;
    void EnsureMessageQueue() override;
    void PostQuit(std::uint32_t threadId) override;

    struct Waitable;
    // Marks a waitable signalled and wakes its waiters.
    void Signal(Waitable& waitable, std::uint32_t exitCode);

private:
    std::uint32_t WaitFor(const std::vector<Platform::NativeHandle>& handles, std::uint32_t milliseconds);
    Platform::NativeHandle Register(std::shared_ptr<Waitable> waitable);

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::set<std::uint32_t> m_quitPosted;
    std::map<Platform::NativeHandle, std::shared_ptr<Waitable>> m_handles;
};

// Answers the mode it is given, or a failure as if the device were missing.
class FakeSelfDefenceDriver final : public Platform::ISelfDefenceDriver {
public:
    static constexpr HRESULT kDeviceMissing = static_cast<HRESULT>(0xD0000034u);

    std::atomic<HRESULT> result{kDeviceMissing};
    std::atomic<std::uint32_t> mode{0};
    std::atomic<int> queries{0};

    HRESULT QueryMode(std::uint32_t& answer) override;
};

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

    void SendRuntimeErrorsToStandardError() override { ++stderrRequests; }
    void SetTerminateAndAbortHandler(void (*handler)()) override { terminateAndAbort = handler; }
    void SetInvalidParameterHandler() override { ++invalidParameterInstalls; }
    void SetUnhandledExceptionFilter(Platform::ExceptionHandlerFunction filter) override { unhandledFilter = filter; }
    bool CallPreviousFilter(const Platform::ExceptionDescription& exception, std::int32_t& verdict) override;
    void RestorePreviousFilter() override { previousRestored = true; }
    Platform::NativeHandle AddFirstVectoredHandler(Platform::ExceptionHandlerFunction handler) override;
    void RemoveVectoredHandler(Platform::NativeHandle registration) override;
    // Runs the vectored handlers as the system does at first chance.
    void RaiseFirstChance(const Platform::ExceptionDescription& exception);

private:
    std::vector<std::pair<Platform::NativeHandle, Platform::ExceptionHandlerFunction>> m_registrations;
    std::uintptr_t m_nextRegistration = 1;
};

// Records the dumps and generator runs it is asked for.
class FakeDumps final : public Platform::IDumps {
public:
    struct GeneratorRun {
        std::wstring application;
        std::wstring commandLine;
    };
    struct MiniDump {
        std::wstring path;
        std::int32_t dumpType;
        const void* exceptionPointers;
        std::uint32_t threadId;
    };

    std::wstring tempPath = L"C:\\Temp\\";
    Platform::LocalTime now{2026, 12, 7, 9, 5, 3};
    Win32Error launchError = kErrorSuccess;
    std::uint32_t generatorExitCode = 0;
    bool fileCanBeCreated = true;
    bool miniDumpSucceeds = true;
    std::vector<GeneratorRun> generatorRuns;
    std::vector<MiniDump> miniDumps;

    std::wstring TempPath() override { return tempPath; }
    Platform::LocalTime Now() override { return now; }
    Win32Error RunProcess(const wchar_t* application, wchar_t* commandLine, std::uint32_t waitMilliseconds,
                          std::uint32_t& exitCode) override;
    bool WriteMiniDump(const wchar_t* path, std::int32_t dumpType, const void* exceptionPointers,
                       std::uint32_t threadId, bool& fileCreated) override;
};

// A dispatcher that runs ServiceMain on a thread of its own and returns once the service has
// reported SERVICE_STOPPED, as the system's does.
class FakeServiceControl final : public Platform::IServiceControl {
public:
    Win32Error dispatcherResult = kErrorFailedServiceControllerConnect;
    Win32Error registerResult = kErrorSuccess;
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

// A fresh set of doubles, installed for the lifetime of the object.
class FakePlatform {
public:
    FakePlatform();
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;
    ~FakePlatform();

    FakeRegistry registry;
    FakeLibraries libraries;
    FakeProcess process;
    FakeText text;
    FakeThreads threads;
    FakeServiceControl serviceControl;
    FakeSelfDefenceDriver selfDefenceDriver;
    FakeCrashHandling crashHandling;
    FakeDumps dumps;

private:
    Platform::Services m_previous;
};

} // namespace Qx::Testing
