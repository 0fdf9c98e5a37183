// The owners of the Win32 handles that code opens directly, rather than through the platform
// interfaces: kernel objects, service handles, find handles and registry keys. Header only, so that
// the Win32 layer, the control tool, the stand-ins and the tests own their handles alike.
#pragma once

#include <windows.h>

#include "Platform/Api/UniqueHandle.h"

namespace Qx::Platform {

// Files, events, mutexes, processes and threads: CreateFileW answers INVALID_HANDLE_VALUE, the
// others null; neither is a handle.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static bool IsValid(Handle handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { ::CloseHandle(handle); }
};

struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static bool IsValid(Handle handle) { return handle != nullptr; }
    static void Close(Handle handle) { ::CloseServiceHandle(handle); }
};

struct FindHandleTraits {
    using Handle = HANDLE;
    static bool IsValid(Handle handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { ::FindClose(handle); }
};

struct RegKeyTraits {
    using Handle = HKEY;
    static bool IsValid(Handle handle) { return handle != nullptr; }
    static void Close(Handle handle) { ::RegCloseKey(handle); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueServiceHandle = UniqueHandle<ServiceHandleTraits>;
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;
using UniqueRegKey = UniqueHandle<RegKeyTraits>;

} // namespace Qx::Platform
