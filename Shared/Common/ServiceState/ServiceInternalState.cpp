#include "Common/ServiceState/ServiceInternalState.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "Common/ConfigurationNames.h"
#include "Common/RegistryValues.h"
#include "Common/ServiceHost/ServiceConfiguration.h"
#include "Platform/Api/ProcessWide.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Platform;

namespace {

constexpr HRESULT kEUnexpected = MakeHResult(0x8000FFFFu);

// The driver's mode: 0 inactive, 1 and 2 active; any other answer is an error.
HRESULT QueryDriverActive(bool& active)
{
    std::uint32_t mode = 0;
    const HRESULT hr = SelfDefenceDriver().QueryMode(mode);
    if (Failed(hr)) {
        return hr;
    }
    if (mode > 2) {
        return kEUnexpected;
    }
    active = mode != 0;
    return kSOk;
}

// With the driver active, only a REG_DWORD StopAccept other than 0 lets the service stop.
bool StopAcceptForbids(const std::wstring& serviceName)
{
    RegistryKey key;
    if (Registry().OpenKey(ParametersKeyPath(serviceName), kKeyRead, key) != kErrorSuccess) {
        return true;
    }
    std::uint32_t value = 0;
    if (ReadDwordValue(key.get(), ConfigurationNames::kStopAccept, value) != kErrorSuccess) {
        return true;
    }
    QX_LOG(3, "StopAccept", " registry flag value = ", value);
    return value == 0;
}

ServiceNameBuffer g_guardServiceName{};
std::atomic<bool> g_deleteGuardAtExit{true};

} // namespace

InternalState::InternalState() = default;

InternalState& InternalState::Instance()
{
    static Qx::Platform::ProcessWide<InternalState> state(
        [] { return std::unique_ptr<InternalState>(new InternalState()); });
    return state.Get();
}

void InternalState::Initialize(ControlsCallback callback, const std::wstring& serviceName)
{
    QX_TIMED_TRACE(3, L"InternalState::Initialize");
    {
        // Every start begins with stop withheld, as the module reports it under self-defence, and
        // not with what an earlier start in this process last decided.
        // The name first: the worker and the control handler read it once the callback is set.
        std::lock_guard lock(m_lock);
        m_serviceName = serviceName;
        m_callback = std::move(callback);
        m_stopBlocked = true;
    }
    m_worker.Policy().period = kUpdatePeriodMilliseconds;
    (void)m_worker.Start([this] { UpdateInternalState(); });
}

bool InternalState::DecideBlocked() const
{
    bool active = false;
    if (Failed(QueryDriverActive(active)) || !active) {
        return false;
    }
    return StopAcceptForbids(m_serviceName);
}

void InternalState::UpdateInternalState()
{
    QX_TIMED_TRACE(5, L"InternalState::UpdateInternalState");
    std::lock_guard lock(m_lock);
    if (!m_callback) {
        return;
    }
    const bool blocked = DecideBlocked();
    if (blocked == m_stopBlocked) {
        return;
    }
    if (m_callback(kServiceAcceptStop, !blocked)) {
        QX_LOG(1, "SERVICE_ACCEPT_STOP changed to: ", blocked ? "0" : "1");
        m_stopBlocked = blocked;
    }
}

void InternalState::Shutdown() noexcept
{
    try {
        QX_TIMED_TRACE(3, L"InternalState::Shutdown");
        m_worker.Stop();
        m_worker.ClearAction();
    } catch (const HRXEx& error) {
        LogUtils::WithoutRaising([&] { QX_LOG_ERROR("InternalState::Shutdown failed: ", error); });
    }
}

bool InternalState::StopBlocked()
{
    std::lock_guard lock(m_lock);
    return m_stopBlocked;
}

void WatchDogGuard::SetServiceName(const wchar_t* serviceName)
{
    CopyServiceName(serviceName, g_guardServiceName);
}

namespace {

std::wstring GuardPath()
{
    return std::wstring(L"SYSTEM\\CurrentControlSet\\services\\") + g_guardServiceName.data() + L"\\" +
           ConfigurationNames::kWatchDogGuard;
}

} // namespace

bool WatchDogGuard::Exists()
{
    RegistryKey key;
    return Registry().OpenKey(GuardPath(), kKeyRead, key) == kErrorSuccess;
}

void WatchDogGuard::Set(bool present)
{
    const std::wstring path = GuardPath();
    if (present) {
        (void)Registry().CreateVolatileKey(path);
    } else {
        (void)Registry().DeleteKey(path);
    }
}

bool WatchDogGuard::RemovedAtExit()
{
    return g_deleteGuardAtExit;
}

void WatchDogGuard::RemoveAtExit()
{
    g_deleteGuardAtExit = true;
    static const bool registered = [] {
        return std::atexit([] {
                   if (g_deleteGuardAtExit) {
                       Set(false);
                   }
               }) == 0;
    }();
    (void)registered;
}

void WatchDogGuard::KeepAtExit()
{
    g_deleteGuardAtExit = false;
}
