#include "Common/WatchdogAgent.h"

using namespace Qx;
using namespace Qx::Platform;

namespace {

template <class Function>
bool Resolve(NativeHandle library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(Libraries().GetProc(library, name));
    return function != nullptr;
}

// The agent beside the host executable; empty when the executable's folder is unknown, so that
// the agent is never looked up by its bare name.
std::wstring AgentPath()
{
    std::wstring executable;
    if (Process().ModuleFileName(nullptr, executable) != kErrorSuccess) {
        return {};
    }
    const std::size_t backslash = executable.rfind(L'\\');
    if (backslash == std::wstring::npos) {
        return {};
    }
    return executable.substr(0, backslash + 1) + WatchdogAgent::kLibraryName;
}

} // namespace

WatchdogAgent::WatchdogAgent()
{
    const std::wstring path = AgentPath();
    Library library;
    if (path.empty() || Libraries().Load(path, library) != kErrorSuccess) {
        return;
    }
    const NativeHandle handle = library.get();
    if (Resolve(handle, "WAInitW", m_init) && Resolve(handle, "WADeinit", m_deinit) &&
        Resolve(handle, "WAOnEnter", m_onEnter) && Resolve(handle, "WAOnExit", m_onExit)) {
        m_library = std::move(library);
    }
}

WatchdogAgent& WatchdogAgent::Instance()
{
    static WatchdogAgent agent;
    return agent;
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
