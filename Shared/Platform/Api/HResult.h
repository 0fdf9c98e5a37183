// Result codes shared by the portable logic and the platform layer.
//
// Portable headers never include <windows.h>; they see HRESULT and the few codes the host
// names through this header. The values are the Windows ones, so a code logged or returned
// on Linux reads the same as on Windows.
#pragma once

#include <cstdint>

#ifdef _WIN32
using HRESULT = long; // the same type <windows.h> declares, so both may be seen together
#else
using HRESULT = std::int32_t;
#endif

namespace Qx {

using Win32Error = std::uint32_t;

constexpr HRESULT MakeHResult(std::uint32_t bits)
{
    return static_cast<HRESULT>(static_cast<std::int32_t>(bits));
}

constexpr HRESULT kSOk = 0;
constexpr HRESULT kSFalse = 1;
constexpr HRESULT kEFail = MakeHResult(0x80004005u);
constexpr HRESULT kEAbort = MakeHResult(0x80004004u);
constexpr HRESULT kEInvalidArg = MakeHResult(0x80070057u);
constexpr HRESULT kEOutOfMemory = MakeHResult(0x8007000Eu);
constexpr HRESULT kEFileNotFound = MakeHResult(0x80070002u);

constexpr Win32Error kErrorSuccess = 0;
constexpr Win32Error kErrorFileNotFound = 2;
constexpr Win32Error kErrorPathNotFound = 3;
constexpr Win32Error kErrorAccessDenied = 5;
constexpr Win32Error kErrorInvalidParameter = 87;
constexpr Win32Error kErrorInsufficientBuffer = 122;
constexpr Win32Error kErrorModNotFound = 126;
constexpr Win32Error kErrorProcNotFound = 127;
constexpr Win32Error kErrorBadExeFormat = 193;
constexpr Win32Error kErrorMoreData = 234;
constexpr Win32Error kErrorFailedServiceControllerConnect = 1063;

constexpr bool Failed(HRESULT hr)
{
    return hr < 0;
}

// Codes of 0 and below are taken unchanged; others keep their low 16 bits in FACILITY_WIN32.
constexpr HRESULT HResultFromWin32(Win32Error code)
{
    if (static_cast<std::int32_t>(code) <= 0) {
        return static_cast<HRESULT>(static_cast<std::int32_t>(code));
    }
    return MakeHResult((code & 0xFFFFu) | 0x80070000u);
}

// A native status becomes an HRESULT by setting the customer bit.
constexpr HRESULT HResultFromNtStatus(std::uint32_t status)
{
    return MakeHResult(status | 0x10000000u);
}

} // namespace Qx
