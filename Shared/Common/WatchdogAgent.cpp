#include "Common/WatchdogAgent.h"
#include "Platform/Api/ProcessWide.h"

using namespace Qx;
using namespace Qx::Platform;

namespace {

template <class Function>
bool Resolve(NativeHandle library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(Libraries().GetProc(library, name));
    return function != nullptr;
}

} // namespace

WatchdogAgent::WatchdogAgent()
{
    const std::wstring folder = ExecutableFolder();
    Library library;
    if (folder.empty() || Libraries().Load(folder + kLibraryName, library) != kErrorSuccess) {
        return;
    }
    const NativeHandle handle = library.get();
    // The host never calls WAOnEnter and WAOnExit, but an agent without them is no agent.
    NotifyFunction onEnter = nullptr;
    NotifyFunction onExit = nullptr;
    if (Resolve(handle, "WAInitW", m_init) && Resolve(handle, "WADeinit", m_deinit) &&
        Resolve(handle, "WAOnEnter", onEnter) && Resolve(handle, "WAOnExit", onExit)) {
        m_library = std::move(library);
    }
}

WatchdogAgent& WatchdogAgent::Instance()
{
    static ProcessWide<WatchdogAgent> agent([] { return std::unique_ptr<WatchdogAgent>(new WatchdogAgent()); });
    return agent.Get();
}

void WatchdogAgent::Init(const wchar_t* serviceName) const
{
    if (IsLoaded()) {
        (void)m_init(serviceName);
    }
}

void WatchdogAgent::Deinit() const
{
    if (IsLoaded()) {
        (void)m_deinit();
    }
}
