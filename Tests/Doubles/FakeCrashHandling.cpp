#include "FakeCrashHandling.h"

namespace Qx::Testing {

using namespace Qx::Platform;

bool FakeCrashHandling::CallPreviousFilter(const ExceptionDescription&, std::int32_t& verdict)
{
    ++previousFilterCalls;
    if (!hasPreviousFilter) {
        return false;
    }
    verdict = previousVerdict;
    return true;
}

NativeHandle FakeCrashHandling::AddFirstVectoredHandler(ExceptionHandlerFunction handler)
{
    auto* registration = reinterpret_cast<NativeHandle>(m_nextRegistration++);
    m_registrations.insert(m_registrations.begin(), {registration, handler});
    vectoredHandlers.insert(vectoredHandlers.begin(), handler);
    return registration;
}

void FakeCrashHandling::RemoveVectoredHandler(NativeHandle registration)
{
    for (auto it = m_registrations.begin(); it != m_registrations.end(); ++it) {
        if (it->first == registration) {
            vectoredHandlers.erase(vectoredHandlers.begin() + (it - m_registrations.begin()));
            m_registrations.erase(it);
            return;
        }
    }
}

} // namespace Qx::Testing
