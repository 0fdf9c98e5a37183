// The service modules: libraries named in ServiceModules that do the service's work.
//
// Threads: Load and InitModules run on the initialisation thread while the service thread
// waits for it; ShutdownModules and AnyModuleKeepsGuard run on the service thread. The
// operations never overlap, so the manager has no lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Api/Platform.h"

class ServiceModuleManager {
public:
    using SmInitializeFunction = Qx::Platform::SmInitializeEntry;
    using SmShutdownFunction = Qx::Platform::SmShutdownEntry;

    // Bit 0 of the flags a module sets: keep the WatchDogGuard key after a failed start.
    static constexpr std::uint32_t kKeepsWatchDogGuard = 0x1;

    // One loaded library. Releasing it frees the library without calling SmShutdown.
    struct ServiceModule {
        Qx::Platform::Library module;
        std::wstring name;
        SmInitializeFunction smInitialize = nullptr;
        SmShutdownFunction smShutdown = nullptr;
        std::uint32_t moduleFlags = 0;
        bool initialized = false;
    };

    static ServiceModuleManager& Instance();

    // Cuts the list at ";" and ",", loads every named library and resolves its two exports.
    // All or nothing: on the first failure the libraries loaded so far are freed again, the
    // current list stays, and HRXEx is raised with HRESULT_FROM_WIN32 of the error. A library
    // without SmInitialize or SmShutdown is refused with ERROR_PROC_NOT_FOUND.
    void Load(const std::wstring& moduleList);

    // Initialises the modules in list order. When one fails, those before it are shut down,
    // last first, and HRXEx is raised with its HRESULT; when one throws, they are shut down the
    // same way and its exception goes on. An exception of another C++ runtime (a module built by
    // Microsoft's compiler) cannot go on: ForeignModuleException takes its place.
    void InitModules();

    // Shuts the initialised modules down, last first. Never raises: an exception that leaves a
    // module's SmShutdown, of whichever runtime, ends the process through std::terminate.
    void ShutdownModules() noexcept;

    [[nodiscard]] bool AnyModuleKeepsGuard() const;

    // For the initialisation thread that ended without returning (a module called ExitThread, or
    // the thread's stack overflowed): names at level 1 the module whose SmInitialize was running on
    // it, shuts down the modules started before that one, last first, and returns what happened,
    // for the error the start fails with.
    std::wstring AbandonInitialization(std::uint32_t threadExitCode);

    // For the tests: the modules in load order, with their flags, which the log shows only as text.
    [[nodiscard]] const std::vector<std::shared_ptr<ServiceModule>>& Modules() const { return m_modules; }

private:
    HRESULT CallSmInitialize(ServiceModule& record, std::uint64_t startedAt);
    void UndoStartAfterException(const ServiceModule& record, std::uint64_t startedAt,
                                 const std::string& type) noexcept;

    std::vector<std::shared_ptr<ServiceModule>> m_modules;
    // The module whose SmInitialize runs on the initialisation thread, and since when: read by the
    // service thread only once that thread has ended.
    std::shared_ptr<const ServiceModule> m_initializing;
    std::uint64_t m_initializingSince = 0;
};

// Raised in place of an exception that a module built by another compiler threw out of
// SmInitialize, which the host cannot rethrow.
struct ForeignModuleException {
    std::string thrownType; // the decorated name, as that compiler's runtime records it
};

// The type of the exception being handled, as its runtime names it ("St13runtime_error"); empty
// where the runtime cannot tell.
std::string CurrentExceptionType();

// The names in a module list, in order: cut at ";" and ",", empty pieces dropped, nothing trimmed.
std::vector<std::wstring> SplitModuleList(const std::wstring& moduleList);
