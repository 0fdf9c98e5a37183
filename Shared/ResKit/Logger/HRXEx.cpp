#include "ResKit/Logger/HRXEx.h"

#include <utility>

HRXEx::HRXEx(HRESULT hr, const ReturnAddresses& returnAddresses, Qx::Platform::ErrorInfo errorInfo)
    : m_hr(hr), m_returnAddresses(returnAddresses), m_errorInfo(std::move(errorInfo))
{
}

namespace Qx {

namespace {

// The innermost frames are the raising helpers themselves; the addresses worth logging are
// those of the code that failed.
constexpr std::uint32_t kSkippedFrames = 4;

enum class ComErrorInfo { Take, Ignore };

[[noreturn]] void Raise(HRESULT hr, ComErrorInfo comErrorInfo)
{
    auto& process = Platform::Process();
    Platform::ErrorInfo errorInfo;
    if (comErrorInfo == ComErrorInfo::Take) {
        errorInfo = process.TakeThreadErrorInfo();
    }
    HRXEx::ReturnAddresses addresses{};
    process.CaptureReturnAddresses(kSkippedFrames, HRXEx::kMaxReturnAddresses, addresses.data());
    throw HRXEx(hr, addresses, std::move(errorInfo));
}

} // namespace

void RaiseIfFailed(HRESULT hr)
{
    if (Failed(hr)) {
        Raise(hr, ComErrorInfo::Take);
    }
}

void RaiseWin32(Win32Error code)
{
    const HRESULT hr = HResultFromWin32(code);
    if (Failed(hr)) {
        Raise(hr, ComErrorInfo::Ignore);
    }
}

void RaiseLastError()
{
    RaiseIfFailed(HResultFromWin32(Platform::Process().LastError()));
}

} // namespace Qx
