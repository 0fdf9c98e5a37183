// Win32 only: the self-defence driver's device, reached through the native API.
#include "Platform/Win32/WindowsSupport.h"

#include <winternl.h>

namespace Qx::Platform::Win32 {

namespace {

constexpr wchar_t kDeviceName[] = L"\\Device\\VqSDD_Sys";
constexpr DWORD kQueryModeControlCode = 0x224004;
constexpr ACCESS_MASK kGenericReadWrite = 0x12019F;
constexpr ULONG kFileOpen = 1;
constexpr std::uint32_t kStatusProcedureNotFound = 0xC0000001; // reported as 0xD0000001

using NtCreateFileFunction = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                              PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtCloseFunction = NTSTATUS(NTAPI*)(HANDLE);

struct NativeEntries {
    NtCreateFileFunction createFile = nullptr;
    NtCloseFunction close = nullptr;
};

// Looked up once; ntdll stays loaded for the life of every process.
const NativeEntries& Entries()
{
    static const NativeEntries entries = [] {
        NativeEntries found;
        if (HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll")) {
            found.createFile = reinterpret_cast<NtCreateFileFunction>(
                reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtCreateFile")));
            found.close =
                reinterpret_cast<NtCloseFunction>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtClose")));
        }
        return found;
    }();
    return entries;
}

// A handle from NtCreateFile, closed with NtClose.
struct NtDeviceTraits {
    using Handle = HANDLE;
    static bool IsValid(Handle handle) { return handle != nullptr; }
    static void Close(Handle handle) { Entries().close(handle); }
};
using NtDevice = UniqueHandle<NtDeviceTraits>;

HRESULT OpenDevice(NtDevice& device)
{
    const auto& entries = Entries();
    if (entries.createFile == nullptr || entries.close == nullptr) {
        return HResultFromNtStatus(kStatusProcedureNotFound);
    }
    UNICODE_STRING name{static_cast<USHORT>(sizeof(kDeviceName) - sizeof(wchar_t)),
                        static_cast<USHORT>(sizeof(kDeviceName)), const_cast<PWSTR>(kDeviceName)};
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    IO_STATUS_BLOCK status{};
    HANDLE handle = nullptr;
    const NTSTATUS result =
        entries.createFile(&handle, kGenericReadWrite, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, kFileOpen, 0, nullptr, 0);
    if (result >= 0) {
        device.reset(handle);
    }
    return HResultFromNtStatus(static_cast<std::uint32_t>(result));
}

} // namespace

HRESULT Win32SelfDefenceDriver::QueryMode(std::uint32_t& mode)
{
    NtDevice device;
    const HRESULT opened = OpenDevice(device);
    if (Failed(opened)) {
        return opened;
    }
    DWORD answer = 0;
    DWORD returned = 0;
    if (::DeviceIoControl(device.get(), kQueryModeControlCode, nullptr, 0, &answer, sizeof(answer), &returned,
                          nullptr) == 0) {
        return HResultFromWin32(LastErrorOr(ERROR_GEN_FAILURE));
    }
    mode = answer;
    return kSOk;
}

} // namespace Qx::Platform::Win32
