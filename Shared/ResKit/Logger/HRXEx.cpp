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

[[noreturn]] void Raise(HRESULT hr, Platform::ErrorInfo errorInfo)
{
    HRXEx::ReturnAddresses addresses{};
    Platform::Process().CaptureReturnAddresses(kSkippedFrames, HRXEx::kMaxReturnAddresses, addresses.data());
    throw HRXEx(hr, addresses, std::move(errorInfo));
}

class TextErrorInfo final : public Platform::IErrorInfoRef {
public:
    explicit TextErrorInfo(std::wstring text) : m_text(std::move(text)) {}
    std::wstring Description() const override { return m_text; }

private:
    std::wstring m_text;
};

} // namespace

Platform::ErrorInfo HostErrorInfo(std::wstring text)
{
    return std::make_shared<const TextErrorInfo>(std::move(text));
}

void RaiseIfFailed(HRESULT hr)
{
    if (Failed(hr)) {
        Raise(hr, Platform::Process().TakeThreadErrorInfo());
    }
}

void RaiseWithErrorInfo(HRESULT hr, Platform::ErrorInfo errorInfo)
{
    if (Failed(hr)) {
        Raise(hr, std::move(errorInfo));
    }
}

void RaiseWin32(Win32Error code)
{
    const HRESULT hr = HResultFromWin32(code);
    if (Failed(hr)) {
        Raise(hr, nullptr);
    }
}

void RaiseLastError()
{
    RaiseIfFailed(HResultFromWin32(Platform::Process().LastError()));
}

} // namespace Qx
