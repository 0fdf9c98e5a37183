#include "FakeCrashHandling.h"

#include <algorithm>
#include <utility>

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

bool FakeCrashHandling::ReassertUnhandledExceptionFilter(const void*& owner)
{
    if (unhandledFilter == nullptr || replacingFilter == nullptr) {
        return false;
    }
    owner = replacingFilterImage;
    chainedFilter = owner != nullptr ? replacingFilter : nullptr;
    replacingFilter = nullptr;
    return true;
}

bool FakeCrashHandling::CallChainedFilter(const ExceptionDescription& exception, std::int32_t& verdict)
{
    if (chainedFilter == nullptr) {
        return false;
    }
    verdict = chainedFilter(exception);
    return true;
}

std::size_t FakeCrashHandling::ModuleFileName(const void* module, std::span<wchar_t> buffer)
{
    const auto found = moduleFiles.find(module);
    if (found == moduleFiles.end() || found->second.size() >= buffer.size()) {
        return 0;
    }
    std::copy(found->second.c_str(), found->second.c_str() + found->second.size() + 1, buffer.begin());
    return found->second.size();
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
