// Win32SelfDefenceDriver without the driver: the native open status comes back as an HRESULT.
#include <windows.h>

#include <gtest/gtest.h>

#include "Platform/Api/Platform.h"
#include "Platform/Win32/UniqueWin32Handles.h"

namespace {

// The end-to-end tests install the stand-in driver while they hold this mutex; holding it here
// makes sure the device is absent.
constexpr const wchar_t* kDeviceLockName = L"Global\\QxE2E_VqSDD_Sys";
constexpr DWORD kDeviceLockTimeoutMs = 120000;
// STATUS_OBJECT_NAME_NOT_FOUND with the customer bit.
constexpr HRESULT kDeviceMissing = Qx::MakeHResult(0xD0000034u);

TEST(Win32SelfDefenceDriver, QueryModeWithoutTheDriverGivesObjectNameNotFound)
{
    const Qx::Platform::UniqueKernelHandle mutex(CreateMutexW(nullptr, FALSE, kDeviceLockName));
    ASSERT_NE(nullptr, mutex.get()) << GetLastError();
    const DWORD waited = WaitForSingleObject(mutex.get(), kDeviceLockTimeoutMs);
    ASSERT_TRUE(waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) << waited;

    std::uint32_t mode = 0xABCD;
    EXPECT_EQ(kDeviceMissing, Qx::Platform::SelfDefenceDriver().QueryMode(mode));
    EXPECT_EQ(0xABCDu, mode);

    ReleaseMutex(mutex.get());
}

} // namespace
