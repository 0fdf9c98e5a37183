// Win32 only: the current process and thread, return addresses, COM error information.
#include "Platform/Win32/WindowsSupport.h"

#include <vector>

extern "C" IMAGE_DOS_HEADER __ImageBase;

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

// COM error information lives in the COM runtime: while none of its libraries is loaded, no thread
// can have any, and asking must not load them (oleaut32 brings ole32, combase and rpcrt4).
using GetErrorInfoFunction = HRESULT(WINAPI*)(ULONG reserved, IErrorInfo** info);

GetErrorInfoFunction LoadedGetErrorInfo()
{
    for (const wchar_t* library : {L"oleaut32.dll", L"combase.dll", L"ole32.dll"}) {
        if (const HMODULE module = ::GetModuleHandleW(library)) {
            if (const FARPROC function = ::GetProcAddress(module, "GetErrorInfo")) {
                return reinterpret_cast<GetErrorInfoFunction>(reinterpret_cast<void*>(function));
            }
        }
    }
    return nullptr;
}

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
    const auto getErrorInfo = LoadedGetErrorInfo();
    IErrorInfo* info = nullptr;
    if (getErrorInfo == nullptr || getErrorInfo(0, &info) != S_OK || info == nullptr) {
        return nullptr;
    }
    return std::make_shared<ComErrorInfo>(info);
}

} // namespace Qx::Platform::Win32
