#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CaseInsensitiveLess.h"
#include "Platform/Api/Platform.h"

namespace Qx::Testing {

// A library with exports; its handle is its own address. Loaded as
// a data file its handle has the low bit set, as on Windows, and offers no exports; FakeText finds
// its messages under either handle.
struct FakeModule {
    std::map<std::string, void*> exports;
    bool dataFileOnly = false;
};

// The module a handle stands for, whichever way the library was loaded.
Platform::NativeHandle ModuleOfHandle(Platform::NativeHandle handle);

// What a fake module throws to play a C++ exception of another runtime, which the host's catch
// would not catch: the doubles' module calls catch it and report it as Windows' do.
struct ForeignRuntimeException {
    std::string decoratedType;
};

class FakeLibraries final : public Platform::ILibraries {
public:
    // Makes a library loadable under path (compared without regard to case), with no exports. Adding
    // a path again empties its library in place: handles given out before stay valid.
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
    Platform::ModuleEntryOutcome CallSmInitialize(Platform::SmInitializeEntry entry,
                                                  std::uint32_t* moduleFlags) override;
    Platform::ModuleEntryOutcome CallSmShutdown(Platform::SmShutdownEntry entry) override;

private:
    std::map<std::wstring, std::unique_ptr<FakeModule>, CaseInsensitiveLess> m_modules;
    std::map<std::wstring, Win32Error, CaseInsensitiveLess> m_loadFailures;
    std::vector<std::wstring> m_loaded;
    std::vector<std::wstring> m_freed;
    Win32Error m_safeSearchFailure = kErrorSuccess;
    std::vector<std::size_t> m_safeSearchCalls;
};

} // namespace Qx::Testing
