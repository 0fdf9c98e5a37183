// Win32Process: identities as the system gives them, return addresses and COM error information.
#include <windows.h>

#include <oleauto.h>

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "Platform/Api/Platform.h"
#include "TestFiles.h"

namespace {

using Qx::Platform::Process;

bool EndsWith(const std::wstring& text, const std::wstring& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

HMODULE ModuleContaining(const void* address)
{
    HMODULE module = nullptr;
    const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    EXPECT_TRUE(GetModuleHandleExW(flags, static_cast<LPCWSTR>(address), &module)) << GetLastError();
    return module;
}

TEST(Win32Process, IdentitiesAndModulePathsAreThoseOfThisProcess)
{
    EXPECT_EQ(GetCurrentProcessId(), Process().CurrentProcessId());
    EXPECT_EQ(GetCurrentThreadId(), Process().CurrentThreadId());

    std::wstring executable;
    ASSERT_EQ(0u, Process().ModuleFileName(nullptr, executable));
    EXPECT_TRUE(EndsWith(executable, L"\\QxPlatformWin32Tests.exe")) << Qx::Testing::ToUtf8(executable);
    EXPECT_EQ(Qx::Testing::ModulePath(nullptr), executable);

    EXPECT_EQ(static_cast<void*>(GetModuleHandleW(nullptr)), Process().HostInstance());
    std::wstring host;
    ASSERT_EQ(0u, Process().ModuleFileName(Process().HostInstance(), host));
    EXPECT_EQ(executable, host);
}

TEST(Win32Process, CapturedReturnAddressesStartInThisExecutable)
{
    std::array<void*, 5> addresses{};
    const std::uint32_t captured = Process().CaptureReturnAddresses(0, 5, addresses.data());
    ASSERT_GT(captured, 0u);
    ASSERT_LE(captured, 5u);
    EXPECT_EQ(GetModuleHandleW(nullptr), ModuleContaining(addresses[0]));
}

// The platform layer neither imports nor loads the COM runtime; it finds the error information once
// a module has brought the runtime in, here through oleaut32 loaded after the process started.
TEST(Win32Process, TakeThreadErrorInfoTakesTheDescriptionOnce)
{
    if (GetModuleHandleW(L"combase.dll") == nullptr) {
        EXPECT_EQ(nullptr, Process().TakeThreadErrorInfo());
        EXPECT_EQ(nullptr, GetModuleHandleW(L"combase.dll")) << "asking loaded the COM runtime";
    }
    const HMODULE oleaut32 = LoadLibraryW(L"oleaut32.dll");
    ASSERT_NE(nullptr, oleaut32);
    const auto createErrorInfo = reinterpret_cast<decltype(&::CreateErrorInfo)>(
        reinterpret_cast<void*>(GetProcAddress(oleaut32, "CreateErrorInfo")));
    const auto setErrorInfo =
        reinterpret_cast<decltype(&::SetErrorInfo)>(reinterpret_cast<void*>(GetProcAddress(oleaut32, "SetErrorInfo")));
    ASSERT_NE(nullptr, createErrorInfo);
    ASSERT_NE(nullptr, setErrorInfo);

    ICreateErrorInfo* create = nullptr;
    ASSERT_EQ(S_OK, createErrorInfo(&create));
    wchar_t description[] = L"Readable\x7Fsuffix";
    ASSERT_EQ(S_OK, create->SetDescription(description));
    IErrorInfo* info = nullptr;
    ASSERT_EQ(S_OK, create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)));
    create->Release();
    ASSERT_EQ(S_OK, setErrorInfo(0, info));
    info->Release();

    const Qx::Platform::ErrorInfo taken = Process().TakeThreadErrorInfo();
    ASSERT_NE(nullptr, taken);
    EXPECT_EQ(L"Readable\x7Fsuffix", taken->Description());
    EXPECT_EQ(nullptr, Process().TakeThreadErrorInfo());
}

} // namespace
