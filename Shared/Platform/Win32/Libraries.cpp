// Win32 only: run-time libraries.
#include "Platform/Win32/WindowsSupport.h"

#include "Platform/Win32/MsvcExceptions.h"

namespace Qx::Platform::Win32 {

namespace {

Win32Error LoadWith(ILibraries& libraries, const std::wstring& path, DWORD flags, Library& library)
{
    HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, flags);
    if (module == nullptr) {
        return LastErrorOr(ERROR_MOD_NOT_FOUND);
    }
    library.reset(module, libraries);
    if ((flags & LOAD_LIBRARY_AS_DATAFILE) == 0) {
        CoverAbortOfLoadedRuntimes();
    }
    return ERROR_SUCCESS;
}

ModuleEntryOutcome ForeignExceptionOutcome(const QxMsvcException& caught)
{
    ModuleEntryOutcome outcome;
    outcome.foreignException = true;
    outcome.foreignType = caught.typeName;
    outcome.foreignWhat = caught.what;
    return outcome;
}

} // namespace

Win32Error Win32Libraries::RestrictSearchToSafeFolders()
{
    if (::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS) == 0) {
        return LastErrorOr(ERROR_INVALID_FUNCTION);
    }
    return ERROR_SUCCESS;
}

Win32Error Win32Libraries::Load(const std::wstring& path, Library& library)
{
    // No search flags: the process's default directories apply, which Wine honours too.
    return LoadWith(*this, path, 0, library);
}

Win32Error Win32Libraries::LoadAsDataFile(const std::wstring& path, Library& library)
{
    return LoadWith(*this, path, LOAD_LIBRARY_AS_DATAFILE, library);
}

void* Win32Libraries::GetProc(NativeHandle library, const char* name)
{
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void Win32Libraries::Free(NativeHandle library)
{
    // Callers report the error of the call that made them unload; FreeLibrary must not change it.
    const DWORD savedError = ::GetLastError();
    ::FreeLibrary(static_cast<HMODULE>(library));
    ::SetLastError(savedError);
}

ModuleEntryOutcome Win32Libraries::CallSmInitialize(SmInitializeEntry entry, std::uint32_t* moduleFlags)
{
    QxMsvcException caught{};
    ModuleEntryOutcome outcome;
    if (QxCallSmInitializeCatchingMsvc(entry, moduleFlags, &outcome.result, &caught) != 0) {
        return ForeignExceptionOutcome(caught);
    }
    return outcome;
}

ModuleEntryOutcome Win32Libraries::CallSmShutdown(SmShutdownEntry entry)
{
    QxMsvcException caught{};
    if (QxCallSmShutdownCatchingMsvc(entry, &caught) != 0) {
        return ForeignExceptionOutcome(caught);
    }
    return {};
}

} // namespace Qx::Platform::Win32
