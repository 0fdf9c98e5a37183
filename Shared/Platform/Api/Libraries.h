// Libraries: loading, exports, and calls into a service module's entries.
#pragma once

#include <cstdint>
#include <string>

#include "Platform/Api/HResult.h"
#include "Platform/Api/UniqueHandle.h"

namespace Qx::Platform {

class ILibraries;

// Freeing a library keeps the thread's last-error value: it is saved before and restored after.
void CloseThrough(ILibraries& libraries, NativeHandle library);
using Library = UniqueHandle<OpenedThrough<ILibraries>>;

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

} // namespace Qx::Platform
