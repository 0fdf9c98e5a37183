// Win32 only: the current process and thread, return addresses, COM error information.
#include "Platform/Win32/WindowsSupport.h"

#include <winternl.h>

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

// The linker's name for the base of this image.
extern "C" IMAGE_DOS_HEADER __ImageBase; // NOLINT(bugprone-reserved-identifier)

namespace Qx::Platform::Win32 {

namespace {

using CaptureStackBackTraceFunction = USHORT(WINAPI*)(ULONG framesToSkip, ULONG framesToCapture, PVOID* backTrace,
                                                      PULONG backTraceHash);

// Looked up by name once; a system without it gives exceptions no return addresses.
CaptureStackBackTraceFunction StackCapture()
{
    static const auto function = reinterpret_cast<CaptureStackBackTraceFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlCaptureStackBackTrace")));
    return function;
}

using GetErrorInfoFunction = HRESULT(WINAPI*)(ULONG reserved, IErrorInfo** info);

// LdrRegisterDllNotification, which the SDK headers leave out.
struct DllNotificationData {
    ULONG flags;
    const UNICODE_STRING* fullDllName;
    const UNICODE_STRING* baseDllName;
    void* dllBase;
    ULONG sizeOfImage;
};
using DllNotificationFunction = void(CALLBACK*)(ULONG reason, const DllNotificationData* data, void* context);
using RegisterDllNotificationFunction = LONG(NTAPI*)(ULONG flags, DllNotificationFunction notification, void* context,
                                                     void** cookie);
constexpr ULONG kDllLoaded = 1;
constexpr ULONG kDllUnloaded = 2;

bool IsCombase(const UNICODE_STRING& name)
{
    constexpr std::wstring_view kCombase = L"combase.dll";
    if (name.Length != kCombase.size() * sizeof(wchar_t)) {
        return false;
    }
    for (std::size_t i = 0; i < kCombase.size(); ++i) {
        const wchar_t c = name.Buffer[i];
        if ((c >= L'A' && c <= L'Z' ? c + (L'a' - L'A') : c) != kCombase[i]) {
            return false;
        }
    }
    return true;
}

// COM error information is kept by combase (ole32 and oleaut32 hand the calls on to it). While
// combase is not loaded no thread can have any, and asking must neither load it (it brings rpcrt4
// and more) nor look it up by name, which makes the loader search the disk on every call. A loader
// notification records where it arrives instead; the first use pins it, so that the function found
// in it stays valid for the life of the process.
class ComRuntime {
public:
    static ComRuntime& Instance()
    {
        static ComRuntime runtime;
        return runtime;
    }

    GetErrorInfoFunction GetErrorInfo()
    {
        if (const auto function = m_getErrorInfo.load(std::memory_order_acquire)) {
            return function;
        }
        void* const combase = m_combase.load(std::memory_order_acquire);
        HMODULE pinned = nullptr;
        if (combase == nullptr ||
            (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                                  static_cast<LPCWSTR>(combase), &pinned) == 0)) {
            return nullptr;
        }
        const auto function =
            reinterpret_cast<GetErrorInfoFunction>(reinterpret_cast<void*>(::GetProcAddress(pinned, "GetErrorInfo")));
        m_getErrorInfo.store(function, std::memory_order_release);
        return function;
    }

private:
    ComRuntime()
    {
        // Registered before the first look, so that no arrival falls between the two.
        const auto registerNotification = reinterpret_cast<RegisterDllNotificationFunction>(
            reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "LdrRegisterDllNotification")));
        void* cookie = nullptr;
        if (registerNotification != nullptr) {
            (void)registerNotification(0, &OnLoaderEvent, this, &cookie);
        }
        // By its full path: a bare name would send the loader searching the disk while it is absent.
        std::wstring path(MAX_PATH, L'\0');
        const UINT folder = ::GetSystemDirectoryW(path.data(), MAX_PATH);
        if (folder == 0 || folder >= MAX_PATH) {
            return;
        }
        path.resize(folder);
        path += L"\\combase.dll";
        if (const HMODULE combase = ::GetModuleHandleW(path.c_str())) {
            m_combase.store(combase, std::memory_order_release);
        }
    }

    // Runs under the loader lock: it only records.
    static void CALLBACK OnLoaderEvent(ULONG reason, const DllNotificationData* data, void* context)
    {
        if (data == nullptr || data->baseDllName == nullptr || !IsCombase(*data->baseDllName)) {
            return;
        }
        auto* runtime = static_cast<ComRuntime*>(context);
        if (reason == kDllLoaded) {
            runtime->m_combase.store(data->dllBase, std::memory_order_release);
        } else if (reason == kDllUnloaded) {
            runtime->m_combase.store(nullptr, std::memory_order_release);
        }
    }

    std::atomic<void*> m_combase{nullptr};
    std::atomic<GetErrorInfoFunction> m_getErrorInfo{nullptr};
};

class ComErrorInfo final : public IErrorInfoRef {
public:
    explicit ComErrorInfo(IErrorInfo* info) : m_info(info) {}
    ComErrorInfo(const ComErrorInfo&) = delete;
    ComErrorInfo& operator=(const ComErrorInfo&) = delete;
    ~ComErrorInfo() override { m_info->Release(); }

    std::wstring Description() const override
    {
        static const auto stringLength =
            SystemLibraryFunction<decltype(&::SysStringLen)>(L"oleaut32.dll", "SysStringLen");
        static const auto freeString =
            SystemLibraryFunction<decltype(&::SysFreeString)>(L"oleaut32.dll", "SysFreeString");
        BSTR description = nullptr;
        if (stringLength == nullptr || freeString == nullptr || FAILED(m_info->GetDescription(&description)) ||
            description == nullptr) {
            return {};
        }
        std::wstring text(description, stringLength(description));
        freeString(description);
        return text;
    }

private:
    IErrorInfo* m_info;
};

} // namespace

std::uint32_t Win32Process::CurrentProcessId()
{
    return ::GetCurrentProcessId();
}

std::uint32_t Win32Process::CurrentThreadId()
{
    return ::GetCurrentThreadId();
}

std::wstring Win32Process::CommandLine()
{
    return ::GetCommandLineW();
}

NativeHandle Win32Process::HostInstance()
{
    return &__ImageBase;
}

Win32Error Win32Process::ModuleFileName(NativeHandle module, std::wstring& path)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(static_cast<HMODULE>(module), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return LastErrorOr(ERROR_INVALID_HANDLE);
        }
        if (length < buffer.size()) {
            path.assign(buffer.data(), length);
            return ERROR_SUCCESS;
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::uint64_t Win32Process::TickCount64()
{
    return ::GetTickCount64();
}

Win32Error Win32Process::LastError()
{
    return ::GetLastError();
}

void Win32Process::SetLastError(Win32Error error)
{
    ::SetLastError(error);
}

std::uint32_t Win32Process::CaptureReturnAddresses(std::uint32_t skip, std::uint32_t count, void** addresses)
{
    const auto capture = StackCapture();
    return capture != nullptr ? capture(skip, count, addresses, nullptr) : 0;
}

ErrorInfo Win32Process::TakeThreadErrorInfo()
{
    const auto getErrorInfo = ComRuntime::Instance().GetErrorInfo();
    IErrorInfo* info = nullptr;
    if (getErrorInfo == nullptr || getErrorInfo(0, &info) != S_OK || info == nullptr) {
        return nullptr;
    }
    return std::make_shared<ComErrorInfo>(info);
}

} // namespace Qx::Platform::Win32
