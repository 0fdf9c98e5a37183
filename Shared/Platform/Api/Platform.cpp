#include "Platform/Api/Platform.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "Platform/Api/ProcessWide.h"

namespace Qx::Platform {

namespace {

Services& Slot()
{
    static Services services = DefaultServices();
    return services;
}

std::atomic<bool> g_frozen{false};

} // namespace

// The process-wide objects in the order they were built. Building one may build others, so the
// lock is recursive. The list is built before the first holder and so outlives them all.
class ProcessWideObjects {
public:
    static ProcessWideObjects& Instance()
    {
        static ProcessWideObjects objects;
        return objects;
    }

    void Build(ProcessWideObject& object)
    {
        std::lock_guard guard(m_lock);
        if (!object.IsBuilt()) {
            object.Build();
            m_built.push_back(&object);
        }
    }

    void DestroyAll()
    {
        std::lock_guard guard(m_lock);
        while (!m_built.empty()) {
            ProcessWideObject* last = m_built.back();
            m_built.pop_back();
            last->Destroy();
        }
    }

private:
    ProcessWideObjects() = default;

    std::recursive_mutex m_lock;
    std::vector<ProcessWideObject*> m_built;
};

ProcessWideObject::ProcessWideObject()
{
    (void)ProcessWideObjects::Instance();
}

void ProcessWideObject::BuildOnce()
{
    ProcessWideObjects::Instance().Build(*this);
}

void DestroyProcessWideObjects()
{
    ProcessWideObjects::Instance().DestroyAll();
}

const Services& Current()
{
    return Slot();
}

std::optional<Services> Install(const Services& services)
{
    if (g_frozen.load()) {
        return std::nullopt;
    }
    // The objects built on the services being replaced hold their handles.
    DestroyProcessWideObjects();
    Services previous = Slot();
    Slot() = services;
    return previous;
}

void FreezeServices()
{
    g_frozen.store(true);
}

void CloseThrough(IRegistry& registry, NativeHandle key)
{
    registry.CloseKey(key);
}

void CloseThrough(IThreads& threads, NativeHandle handle)
{
    threads.CloseHandle(handle);
}

void CloseThrough(ILibraries& libraries, NativeHandle library)
{
    libraries.Free(library);
}

std::wstring ExecutableFolder()
{
    std::wstring path;
    if (Process().ModuleFileName(nullptr, path) != kErrorSuccess) {
        return {};
    }
    const std::size_t backslash = path.rfind(L'\\');
    return backslash == std::wstring::npos ? std::wstring() : path.substr(0, backslash + 1);
}

} // namespace Qx::Platform
