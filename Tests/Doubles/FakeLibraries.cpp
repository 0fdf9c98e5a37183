#include "FakeLibraries.h"

#include <algorithm>
#include <cstdint>

namespace Qx::Testing {

using namespace Qx::Platform;

namespace {

// Windows marks the handle of a library mapped as a data file by its low bit; the doubles do the
// same to a module's address.
NativeHandle DataFileHandle(FakeModule* module)
{
    return reinterpret_cast<NativeHandle>(reinterpret_cast<std::uintptr_t>(module) | 1);
}

bool IsDataFileHandle(NativeHandle handle)
{
    return (reinterpret_cast<std::uintptr_t>(handle) & 1) != 0;
}

ModuleEntryOutcome ForeignOutcome(const ForeignRuntimeException& caught)
{
    ModuleEntryOutcome outcome;
    outcome.foreignException = true;
    outcome.foreignType = caught.decoratedType;
    return outcome;
}

} // namespace

NativeHandle ModuleOfHandle(NativeHandle handle)
{
    return reinterpret_cast<NativeHandle>(reinterpret_cast<std::uintptr_t>(handle) & ~std::uintptr_t{1});
}

FakeModule& FakeLibraries::Add(const std::wstring& path)
{
    auto& module = m_modules[path];
    if (module) {
        *module = FakeModule{};
    } else {
        module = std::make_unique<FakeModule>();
    }
    return *module;
}

std::vector<std::wstring> FakeLibraries::LivePaths() const
{
    std::vector<std::wstring> live = m_loaded;
    for (const auto& freed : m_freed) {
        const auto found = std::find(live.begin(), live.end(), freed);
        if (found != live.end()) {
            live.erase(found);
        }
    }
    return live;
}

void FakeLibraries::FailLoad(const std::wstring& path, Win32Error error)
{
    m_loadFailures[path] = error;
}

Win32Error FakeLibraries::RestrictSearchToSafeFolders()
{
    m_safeSearchCalls.push_back(m_loaded.size());
    return m_safeSearchFailure;
}

Win32Error FakeLibraries::Load(const std::wstring& path, Library& library)
{
    if (const auto failure = m_loadFailures.find(path); failure != m_loadFailures.end()) {
        return failure->second;
    }
    const auto module = m_modules.find(path);
    if (module == m_modules.end() || module->second->dataFileOnly) {
        return kErrorModNotFound;
    }
    m_loaded.push_back(path);
    library.reset(module->second.get(), *this);
    return kErrorSuccess;
}

Win32Error FakeLibraries::LoadAsDataFile(const std::wstring& path, Library& library)
{
    const auto module = m_modules.find(path);
    if (module == m_modules.end()) {
        return kErrorFileNotFound;
    }
    m_loaded.push_back(path);
    library.reset(DataFileHandle(module->second.get()), *this);
    return kErrorSuccess;
}

void* FakeLibraries::GetProc(NativeHandle library, const char* name)
{
    // A library mapped as a data file was never prepared to run: it has no code to find.
    if (IsDataFileHandle(library)) {
        return nullptr;
    }
    auto* module = static_cast<FakeModule*>(library);
    const auto found = module->exports.find(name);
    return found != module->exports.end() ? found->second : nullptr;
}

void FakeLibraries::Free(NativeHandle library)
{
    for (const auto& [path, module] : m_modules) {
        if (module.get() == ModuleOfHandle(library)) {
            m_freed.push_back(path);
            return;
        }
    }
}

ModuleEntryOutcome FakeLibraries::CallSmInitialize(SmInitializeEntry entry, std::uint32_t* moduleFlags)
{
    try {
        ModuleEntryOutcome outcome;
        outcome.result = entry(moduleFlags);
        return outcome;
    } catch (const ForeignRuntimeException& caught) {
        return ForeignOutcome(caught);
    }
}

ModuleEntryOutcome FakeLibraries::CallSmShutdown(SmShutdownEntry entry)
{
    try {
        entry();
        return {};
    } catch (const ForeignRuntimeException& caught) {
        return ForeignOutcome(caught);
    }
}

} // namespace Qx::Testing
