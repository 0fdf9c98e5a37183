// Win32Registry against the real registry, in a volatile key of this test run.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "Platform/Api/Platform.h"

namespace {

using Qx::Platform::Registry;
using Qx::Platform::RegistryKey;

constexpr DWORD kErrorChildMustBeVolatile = 1021;
constexpr BYTE kSentinel = 0xCC;

class Win32RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                                 KEY_ALL_ACCESS, nullptr, &key, nullptr));
        m_key = key;
    }

    void TearDown() override
    {
        RegCloseKey(m_key);
        // With a subkey name, RegDeleteTreeW removes that key itself too.
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_path.c_str()));
        HKEY gone = nullptr;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, KEY_READ, &gone));
    }

    void SetString(const wchar_t* name, const std::wstring& value)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
    }

    void SetQword(const wchar_t* name, ULONGLONG value)
    {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(m_key, name, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)));
    }

    // Directly below SOFTWARE, which exists: a volatile key creates its missing parents volatile too,
    // and a volatile SOFTWARE\Qx left behind would refuse the lasting keys other tests create there.
    const std::wstring m_path = L"SOFTWARE\\QxPlatformTests_" + std::to_wstring(GetCurrentProcessId());
    HKEY m_key = nullptr;
};

TEST_F(Win32RegistryTest, OpenKeyOfAMissingKeyFailsAndLeavesTheKeyEmpty)
{
    RegistryKey key;
    EXPECT_EQ(2u, Registry().OpenKey(m_path + L"\\Missing", Qx::Platform::kKeyRead, key));
    EXPECT_EQ(nullptr, key.get());

    EXPECT_EQ(0u, Registry().OpenKey(m_path, Qx::Platform::kKeyRead, key));
    EXPECT_NE(nullptr, key.get());
}

TEST_F(Win32RegistryTest, QueryValueReportsSizesAndLeavesAShortBufferUntouched)
{
    SetString(L"Text", L"abcdef");
    SetQword(L"Wide", 0x1122334455667788ULL);

    std::uint32_t type = 0;
    std::uint32_t size = 0;
    EXPECT_EQ(0u, Registry().QueryValue(m_key, L"Text", &type, nullptr, &size));
    EXPECT_EQ(Qx::Platform::kRegSz, type);
    EXPECT_EQ(14u, size);

    std::array<BYTE, 8> shortBuffer{};
    shortBuffer.fill(kSentinel);
    size = 4;
    EXPECT_EQ(234u, Registry().QueryValue(m_key, L"Text", &type, shortBuffer.data(), &size));
    EXPECT_EQ(14u, size);
    for (const BYTE b : shortBuffer) {
        EXPECT_EQ(kSentinel, b);
    }

    std::array<wchar_t, 16> text{};
    size = sizeof(text);
    EXPECT_EQ(0u, Registry().QueryValue(m_key, L"Text", &type, text.data(), &size));
    EXPECT_EQ(14u, size);
    EXPECT_EQ(std::wstring(L"abcdef"), std::wstring(text.data()));

    std::uint32_t narrow = 0xCCCCCCCC;
    size = sizeof(narrow);
    EXPECT_EQ(234u, Registry().QueryValue(m_key, L"Wide", &type, &narrow, &size));
    EXPECT_EQ(Qx::Platform::kRegQword, type);
    EXPECT_EQ(8u, size);
    EXPECT_EQ(0xCCCCCCCCu, narrow);

    std::uint64_t wide = 0;
    size = sizeof(wide);
    EXPECT_EQ(0u, Registry().QueryValue(m_key, L"Wide", nullptr, &wide, &size));
    EXPECT_EQ(0x1122334455667788ULL, wide);

    size = 0;
    EXPECT_EQ(2u, Registry().QueryValue(m_key, L"Missing", &type, nullptr, &size));
}

TEST_F(Win32RegistryTest, CreateVolatileKeyCreatesMissingParentsThatTakeOnlyVolatileChildren)
{
    const std::wstring nested = m_path + L"\\Parent\\Child";
    EXPECT_EQ(0u, Registry().CreateVolatileKey(nested));
    EXPECT_EQ(0u, Registry().CreateVolatileKey(nested));

    RegistryKey key;
    ASSERT_EQ(0u, Registry().OpenKey(nested, Qx::Platform::kKeyRead, key));

    HKEY lasting = nullptr;
    EXPECT_EQ(kErrorChildMustBeVolatile,
              static_cast<DWORD>(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (nested + L"\\Lasting").c_str(), 0, nullptr,
                                                 REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &lasting, nullptr)));
    EXPECT_EQ(nullptr, lasting);
}

TEST_F(Win32RegistryTest, DeleteKeyRemovesOnlyLeavesAndDeleteValueOnlyPresentValues)
{
    const std::wstring parent = m_path + L"\\Tree";
    const std::wstring leaf = parent + L"\\Leaf";
    ASSERT_EQ(0u, Registry().CreateVolatileKey(leaf));

    EXPECT_EQ(5u, Registry().DeleteKey(parent));
    EXPECT_EQ(0u, Registry().DeleteKey(leaf));
    EXPECT_EQ(2u, Registry().DeleteKey(leaf));
    EXPECT_EQ(0u, Registry().DeleteKey(parent));

    SetString(L"Gone", L"soon");
    EXPECT_EQ(0u, Registry().DeleteValue(m_key, L"Gone"));
    EXPECT_EQ(2u, Registry().DeleteValue(m_key, L"Gone"));
}

} // namespace
