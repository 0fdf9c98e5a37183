// Win32Registry against the real registry, in a volatile key of this test run: what only the raw
// registry API can show. What IRegistry answers is held to its contract in
// Tests/Contract/RegistryContract.cpp.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "Platform/Api/Platform.h"
#include "Platform/Win32/UniqueWin32Handles.h"

namespace {

using Qx::Platform::Registry;
using Qx::Platform::UniqueRegKey;

constexpr DWORD kErrorChildMustBeVolatile = 1021;

class Win32RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UniqueRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                                 KEY_ALL_ACCESS, nullptr, key.out(), nullptr));
    }

    void TearDown() override
    {
        // With a subkey name, RegDeleteTreeW removes that key itself too.
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_path.c_str()));
        UniqueRegKey gone;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, KEY_READ, gone.out()));
    }

    // Directly below SOFTWARE, which exists: a volatile key creates its missing parents volatile too,
    // and a volatile SOFTWARE\Qx left behind would refuse the lasting keys other tests create there.
    const std::wstring m_path = L"SOFTWARE\\QxPlatformTests_" + std::to_wstring(GetCurrentProcessId());
};

DWORD CreateLastingKey(const std::wstring& path)
{
    UniqueRegKey lasting;
    return static_cast<DWORD>(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                              KEY_SET_VALUE, nullptr, lasting.out(), nullptr));
}

TEST_F(Win32RegistryTest, ParentsCreatedForAVolatileKeyTakeOnlyVolatileChildren)
{
    const std::wstring parent = m_path + L"\\Parent";
    ASSERT_EQ(0u, Registry().CreateVolatileKey(parent + L"\\Child"));

    EXPECT_EQ(kErrorChildMustBeVolatile, CreateLastingKey(parent + L"\\Lasting"));
    EXPECT_EQ(kErrorChildMustBeVolatile, CreateLastingKey(parent + L"\\Child\\Lasting"));
}

} // namespace
