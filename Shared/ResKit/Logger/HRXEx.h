// HRXEx: the host's one exception type.
//
// It carries a failing HRESULT, up to five return addresses of the place where it was raised,
// and the COM error information of the failing call. It is thrown by value only through the
// Raise functions below, and only for a negative HRESULT; fixed boundaries catch it by reference
// and turn it back into an HRESULT.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "Platform/Api/Platform.h"

class HRXEx {
public:
    static constexpr std::size_t kMaxReturnAddresses = 5;
    using ReturnAddresses = std::array<void*, kMaxReturnAddresses>;

    HRXEx(HRESULT hr, const ReturnAddresses& returnAddresses, Qx::Platform::ErrorInfo errorInfo);

    [[nodiscard]] HRESULT Result() const { return m_hr; }
    // Filled from the first entry on; a null entry ends the list.
    [[nodiscard]] const ReturnAddresses& Addresses() const { return m_returnAddresses; }
    // Null when the failing call left no COM error information.
    [[nodiscard]] const Qx::Platform::ErrorInfo& ErrorInfo() const { return m_errorInfo; }

    // Its log text once built, else null. One exception is often logged several times on its way
    // (where it is raised, where it is caught, when it is raised again), and building the text
    // looks its message up each time. An exception object is used on one thread at a time.
    [[nodiscard]] const std::wstring* KeptText() const { return m_text.get(); }
    void KeepText(std::wstring text) const { m_text = std::make_shared<const std::wstring>(std::move(text)); }

private:
    HRESULT m_hr;
    ReturnAddresses m_returnAddresses;
    Qx::Platform::ErrorInfo m_errorInfo;
    mutable std::shared_ptr<const std::wstring> m_text;
};

namespace Qx {

// Raises HRXEx for a negative hr, with the thread's COM error information; does nothing otherwise.
void RaiseIfFailed(HRESULT hr);

// Raises HRXEx for a negative hr with error information taken earlier; does nothing otherwise.
void RaiseWithErrorInfo(HRESULT hr, Platform::ErrorInfo errorInfo);

// Error information of the host's own, for a failure whose cause no call described: its description
// is text.
Platform::ErrorInfo HostErrorInfo(std::wstring text);

// Raises HRXEx for a Win32 error code converted with HResultFromWin32, without COM error
// information. Code 0 raises nothing.
void RaiseWin32(Win32Error code);

// Raises HRXEx for the thread's last error, converted, with the thread's COM error information.
// This is the failure path of the string and text support (UTF-8 conversion, dump paths).
void RaiseLastError();

} // namespace Qx
