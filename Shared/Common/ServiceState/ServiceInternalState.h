// Stop acceptance under self-defence, and the WatchDogGuard key.
//
// While the self-defence driver reports an active mode, the service offers SERVICE_ACCEPT_STOP
// only when the StopAccept value of its Parameters key allows it. The decision is taken on a
// worker every 5000 ms and at each interrogate.
//
// Threads: UpdateInternalState runs on the worker and on the control handler's thread, possibly
// at once; m_lock serialises the whole decision including the callback. Lock order: m_lock is
// taken before the service's statusLock (the callback takes it), never the other way round.
// Initialize and Shutdown run on the service thread and do not take m_lock.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "Common/DeferredAction.h"
#include "Common/ServiceTypes.h"

class InternalState {
public:
    static constexpr std::uint32_t kUpdatePeriodMilliseconds = 5000;

    using Worker = CDeferredAction<WPSkipFirstWait<WPSleep>, -1>;

    InternalState();

    static InternalState& Instance();

    // Keeps the callback and the service name, takes stop as withheld and starts the worker,
    // whose first decision follows at once. A worker that cannot start has logged why; nothing is raised for it.
    void Initialize(ControlsCallback callback, const std::wstring& serviceName);

    // Asks the driver and, when it is active, StopAccept; applies a changed decision through the
    // callback. A callback that declines leaves the decision to the next update. Before
    // Initialize there is no callback, and nothing is decided.
    void UpdateInternalState();

    // Stops the worker. Never raises.
    void Shutdown() noexcept;

    // True while SERVICE_ACCEPT_STOP is withheld, as last applied. For the tests, which see the
    // service manager only through the controls a status report accepts.
    [[nodiscard]] bool StopBlocked();

private:
    bool DecideBlocked() const;

    ControlsCallback m_callback;
    Worker m_worker;
    std::wstring m_serviceName;
    std::mutex m_lock;
    bool m_stopBlocked = true; // guarded by m_lock
};

// The volatile key "SYSTEM\CurrentControlSet\services\<service>\WatchDogGuard" that exists while
// the service's process runs.
class WatchDogGuard {
public:
    // Takes a copy of at most 255 characters of the service name.
    static void SetServiceName(const wchar_t* serviceName);
    // Creates (true) or deletes (false) the key; results are ignored.
    static void Set(bool present);
    [[nodiscard]] static bool Exists();
    // Removes the key at process exit unless KeepAtExit is called later. Registered once.
    static void RemoveAtExit();
    [[nodiscard]] static bool RemovedAtExit();
    // A failed start whose module asked for it leaves the key behind the process.
    static void KeepAtExit();
};
