// The binding to the product's watchdog agent, QxWatchdogAgent.dll.
//
// Bound once during start-up: the library is loaded by its full path from the host
// executable's folder, never by its bare name, so that no copy elsewhere can stand in for it. All
// four exports must resolve, otherwise the agent is absent and every call is skipped, silently.
// The host calls only WAInitW and WADeinit, one at a time on the service thread.
#pragma once

#include "Platform/Api/Platform.h"

class WatchdogAgent {
public:
    using InitFunction = int (*)(const wchar_t* serviceName);
    using NotifyFunction = int (*)();

    static constexpr const wchar_t* kLibraryName = L"QxWatchdogAgent.dll";

    WatchdogAgent();

    static WatchdogAgent& Instance();

    [[nodiscard]] bool IsLoaded() const { return static_cast<bool>(m_library); }
    // Both skip the call when the agent is absent; the agent's answers are not examined.
    void Init(const wchar_t* serviceName) const;
    void Deinit() const;

private:
    Qx::Platform::Library m_library;
    InitFunction m_init = nullptr;
    NotifyFunction m_deinit = nullptr;
};
