#include "Common/RegistryValues.h"

#include <gtest/gtest.h>

#include <vector>

#include "FakePlatform.h"

using namespace Qx;
using namespace Qx::Platform;
using namespace Qx::Testing;

namespace {

constexpr const wchar_t* kKeyPath = L"SOFTWARE\\Qx";

class RegistryValuesTest : public ::testing::Test {
protected:
    RegistryValuesTest() { platform.registry.CreateKey(kKeyPath); }

    static Win32Error Read(std::size_t capacity, std::wstring& value)
    {
        RegistryKey key;
        EXPECT_EQ(Registry().OpenKey(kKeyPath, kKeyRead, key), kErrorSuccess);
        return ReadTerminatedString(key.get(), L"Value", capacity, value);
    }

    FakePlatform platform;
};

TEST_F(RegistryValuesTest, ReadsATerminatedStringThatFits)
{
    platform.registry.SetString(kKeyPath, L"Value", L"abc");
    std::wstring value;
    EXPECT_EQ(Read(4, value), kErrorSuccess);
    EXPECT_EQ(value, L"abc");
    EXPECT_EQ(Read(3, value), kErrorMoreData) << "the NUL needs a unit of its own";
}

TEST_F(RegistryValuesTest, NoCapacityRefusesAnyDataWithoutReadingIt)
{
    platform.registry.SetRaw(kKeyPath, L"Value", kRegSz, {'G', '\n'});
    std::wstring value = L"untouched";
    EXPECT_EQ(Read(0, value), kErrorMoreData);
    EXPECT_EQ(value, L"untouched");

    platform.registry.SetString(kKeyPath, L"Value", L"");
    EXPECT_EQ(Read(0, value), kErrorMoreData) << "the NUL alone does not fit";

    platform.registry.SetRaw(kKeyPath, L"Value", kRegSz, {});
    EXPECT_EQ(Read(0, value), kErrorSuccess) << "zero bytes fit any buffer";
    EXPECT_EQ(value, L"");
}

TEST_F(RegistryValuesTest, RefusesUnterminatedOddAndForeignData)
{
    std::wstring value = L"untouched";
    platform.registry.SetRaw(kKeyPath, L"Value", kRegSz, {'a', 0, 'b', 0});
    EXPECT_EQ(Read(8, value), kErrorInvalidData);
    platform.registry.SetRaw(kKeyPath, L"Value", kRegSz, {'a', 0, 0, 0, 0});
    EXPECT_EQ(Read(8, value), kErrorInvalidData);
    platform.registry.SetRaw(kKeyPath, L"Value", kRegBinary, {'a', 0, 0, 0});
    EXPECT_EQ(Read(8, value), kErrorInvalidData);
    EXPECT_EQ(value, L"untouched");
}

} // namespace

// Only four bytes of REG_DWORD count: the system hands a shorter value over as it is stored, and a
// flag of 01 00 00 must not read as on.
TEST_F(RegistryValuesTest, ReadsADwordOfExactlyFourBytes)
{
    const struct {
        std::uint32_t type;
        std::vector<std::uint8_t> data;
        Win32Error error;
    } cases[] = {
        {kRegDword, {1, 0, 0, 0}, kErrorSuccess},     {kRegDword, {}, kErrorInvalidData},
        {kRegDword, {1}, kErrorInvalidData},          {kRegDword, {1, 0, 0}, kErrorInvalidData},
        {kRegDword, {1, 0, 0, 0, 0}, kErrorMoreData}, {kRegBinary, {1, 0, 0, 0}, kErrorInvalidData},
    };
    for (const auto& entry : cases) {
        platform.registry.SetRaw(kKeyPath, L"Value", entry.type, entry.data);
        RegistryKey key;
        ASSERT_EQ(Registry().OpenKey(kKeyPath, kKeyRead, key), kErrorSuccess);
        std::uint32_t value = 7;
        EXPECT_EQ(ReadDwordValue(key.get(), L"Value", value), entry.error) << entry.data.size() << " bytes";
        EXPECT_EQ(value, entry.error == kErrorSuccess ? 1u : 7u) << entry.data.size() << " bytes";
    }
}
