// The owners of the Win32 handles that code opens directly, rather than through the platform
// interfaces: kernel objects, service handles, find handles and registry keys. Header only, so that
// the Win32 layer, the control tool, the stand-ins and the tests own their handles alike.
#pragma once

#include <windows.h>

#include "Platform/Api/UniqueHandle.h"

namespace Qx::Platform {

// The traits of a handle that CloseFunction closes.
template <typename H, auto CloseFunction, InvalidValue invalidValue = InvalidValue::IsAHandle>
struct ClosedBy {
    using Handle = H;
    static bool IsValid(Handle handle) { return IsHandle<invalidValue>(handle); }
    static void Close(Handle handle) { CloseFunction(handle); }
};

// Files, events, mutexes, processes and threads.
using UniqueKernelHandle = UniqueHandle<ClosedBy<HANDLE, ::CloseHandle, InvalidValue::IsNone>>;
using UniqueServiceHandle = UniqueHandle<ClosedBy<SC_HANDLE, ::CloseServiceHandle>>;
using UniqueFindHandle = UniqueHandle<ClosedBy<HANDLE, ::FindClose, InvalidValue::IsNone>>;
using UniqueRegKey = UniqueHandle<ClosedBy<HKEY, ::RegCloseKey>>;

} // namespace Qx::Platform
