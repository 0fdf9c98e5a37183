// The contract of IRegistry: what RegQueryValueExW, RegCreateKeyExW and RegDeleteKeyW answer below
// HKEY_LOCAL_MACHINE, held against the Win32 layer and the doubles alike.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "ContractPlatform.h"
#include "Platform/Api/Platform.h"

namespace {

using namespace Qx::Testing;
using namespace Qx::Platform;

constexpr std::uint32_t kKeyWrite = 0x20006;
constexpr std::uint8_t kSentinel = 0xCC;

class RegistryContract : public ContractTest {
protected:
    // The open key, or an empty one after a failed expectation.
    static RegistryKey Open(const std::wstring& path, std::uint32_t access = kKeyRead)
    {
        RegistryKey key;
        EXPECT_EQ(0u, Registry().OpenKey(path, access, key));
        return key;
    }

    const std::wstring scratch = platform.CreateScratchKey();
};

TEST_F(RegistryContract, OpenKeyOfAMissingKeyFailsAndLeavesTheKeyEmpty)
{
    RegistryKey key;
    EXPECT_EQ(2u, Registry().OpenKey(scratch + L"\\Missing", kKeyRead, key));
    EXPECT_EQ(nullptr, key.get());

    EXPECT_EQ(0u, Registry().OpenKey(scratch, kKeyRead, key));
    EXPECT_NE(nullptr, key.get());
}

TEST_F(RegistryContract, KeyAndValueNamesIgnoreCase)
{
    ASSERT_EQ(0u, Registry().CreateVolatileKey(scratch + L"\\Mixed"));
    platform.SetString(scratch + L"\\Mixed", L"Value", L"x");

    RegistryKey key = Open(scratch + L"\\MIXED");
    ASSERT_NE(nullptr, key.get());
    std::uint32_t size = 0;
    EXPECT_EQ(0u, Registry().QueryValue(key.get(), L"vALUE", nullptr, nullptr, &size));
    EXPECT_EQ(2 * sizeof(wchar_t), size);
}

TEST_F(RegistryContract, QueryValueReportsSizesAndLeavesAShortBufferUntouched)
{
    platform.SetString(scratch, L"Text", L"abcdef");
    platform.SetQword(scratch, L"Wide", 0x1122334455667788ULL);
    RegistryKey key = Open(scratch);
    ASSERT_NE(nullptr, key.get());
    // String data is counted in the caller's wide characters, with the terminating NUL.
    const std::uint32_t textSize = 7 * sizeof(wchar_t);

    std::uint32_t type = 0;
    std::uint32_t size = 0;
    EXPECT_EQ(0u, Registry().QueryValue(key.get(), L"Text", &type, nullptr, &size));
    EXPECT_EQ(Qx::Platform::kRegSz, type);
    EXPECT_EQ(textSize, size);

    std::array<std::uint8_t, 8> shortBuffer{};
    shortBuffer.fill(kSentinel);
    size = 4;
    EXPECT_EQ(234u, Registry().QueryValue(key.get(), L"Text", &type, shortBuffer.data(), &size));
    EXPECT_EQ(textSize, size);
    for (const std::uint8_t b : shortBuffer) {
        EXPECT_EQ(kSentinel, b);
    }

    std::array<wchar_t, 16> text{};
    size = sizeof(text);
    EXPECT_EQ(0u, Registry().QueryValue(key.get(), L"Text", &type, text.data(), &size));
    EXPECT_EQ(textSize, size);
    EXPECT_EQ(std::wstring(L"abcdef"), std::wstring(text.data()));

    std::uint32_t narrow = 0xCCCCCCCC;
    size = sizeof(narrow);
    EXPECT_EQ(234u, Registry().QueryValue(key.get(), L"Wide", &type, &narrow, &size));
    EXPECT_EQ(Qx::Platform::kRegQword, type);
    EXPECT_EQ(8u, size);
    EXPECT_EQ(0xCCCCCCCCu, narrow);

    std::uint64_t wide = 0;
    size = sizeof(wide);
    EXPECT_EQ(0u, Registry().QueryValue(key.get(), L"Wide", nullptr, &wide, &size));
    EXPECT_EQ(0x1122334455667788ULL, wide);

    size = 0;
    EXPECT_EQ(2u, Registry().QueryValue(key.get(), L"Missing", &type, nullptr, &size));
}

TEST_F(RegistryContract, QueryValueWithoutASizeOnlyTellsWhetherTheValueExists)
{
    platform.SetQword(scratch, L"Wide", 1);
    RegistryKey key = Open(scratch);
    ASSERT_NE(nullptr, key.get());

    std::uint32_t type = 0;
    EXPECT_EQ(0u, Registry().QueryValue(key.get(), L"Wide", &type, nullptr, nullptr));
    EXPECT_EQ(Qx::Platform::kRegQword, type);
    EXPECT_EQ(2u, Registry().QueryValue(key.get(), L"Missing", &type, nullptr, nullptr));

    std::uint64_t data = 0;
    EXPECT_EQ(87u, Registry().QueryValue(key.get(), L"Wide", &type, &data, nullptr));
    EXPECT_EQ(0u, data);
}

TEST_F(RegistryContract, CreateVolatileKeyCreatesMissingParentsAndDeleteKeyRemovesLeavesOnly)
{
    const std::wstring parent = scratch + L"\\Tree";
    const std::wstring leaf = parent + L"\\Leaf";
    EXPECT_EQ(0u, Registry().CreateVolatileKey(leaf));
    ASSERT_EQ(0u, Registry().CreateVolatileKey(leaf)) << "an existing key is no failure";
    EXPECT_NE(nullptr, Open(parent).get());

    EXPECT_EQ(5u, Registry().DeleteKey(parent));
    EXPECT_NE(nullptr, Open(leaf).get());
    EXPECT_EQ(0u, Registry().DeleteKey(leaf));
    EXPECT_EQ(2u, Registry().DeleteKey(leaf));
    EXPECT_EQ(0u, Registry().DeleteKey(parent));
    EXPECT_EQ(2u, Registry().DeleteKey(parent));
}

TEST_F(RegistryContract, DeleteValueRemovesOnlyPresentValues)
{
    platform.SetString(scratch, L"Gone", L"soon");
    RegistryKey key = Open(scratch, kKeyWrite);
    ASSERT_NE(nullptr, key.get());

    EXPECT_EQ(0u, Registry().DeleteValue(key.get(), L"Gone"));
    EXPECT_EQ(2u, Registry().DeleteValue(key.get(), L"Gone"));
}

TEST_F(RegistryContract, ValuesAreReadAndDeletedOnlyThroughKeysOpenedForIt)
{
    platform.SetQword(scratch, L"Wide", 1);
    std::uint64_t data = 0;
    std::uint32_t size = sizeof(data);

    RegistryKey writable = Open(scratch, kKeyWrite);
    ASSERT_NE(nullptr, writable.get());
    EXPECT_EQ(5u, Registry().QueryValue(writable.get(), L"Wide", nullptr, &data, &size));
    EXPECT_EQ(0u, data);

    // GENERIC_READ grants what KEY_READ does.
    RegistryKey readable = Open(scratch, kGenericRead);
    ASSERT_NE(nullptr, readable.get());
    EXPECT_EQ(5u, Registry().DeleteValue(readable.get(), L"Wide"));
    EXPECT_EQ(0u, Registry().QueryValue(readable.get(), L"Wide", nullptr, &data, &size));
    EXPECT_EQ(1u, data);
}

} // namespace
