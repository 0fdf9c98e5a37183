#include "PeExports.h"

#include <cstring>

#include <gtest/gtest.h>

using namespace QxServiceCtl;

namespace {

// A 64-bit image of one section (file offset 0x200, RVA 0x1000) that exports two names.
class ImageBuilder {
public:
    ImageBuilder() : m_bytes(0x400, '\0')
    {
        Put16(0, 0x5A4D);
        Put32(0x3C, 0x40);
        Put32(0x40, 0x00004550);
        Put16(0x44, 0x8664);
        Put16(0x46, 1);
        Put16(0x54, 0xF0);
        Put16(0x58, 0x20B);
        Put32(0x58 + 112, 0x1000);
        Put32(0x58 + 116, 0x100);
        constexpr std::size_t section = 0x58 + 0xF0;
        Put32(section + 8, 0x200);
        Put32(section + 12, 0x1000);
        Put32(section + 16, 0x200);
        Put32(section + 20, 0x200);
        Put32(0x200 + 24, 2);
        Put32(0x200 + 32, 0x1040);
        Put32(0x240, 0x1080);
        Put32(0x244, 0x1090);
        std::memcpy(&m_bytes[0x280], "SmInitialize", 12);
        std::memcpy(&m_bytes[0x290], "SmShutdown", 10);
    }

    void Put16(std::size_t offset, std::uint16_t value) { std::memcpy(&m_bytes[offset], &value, sizeof(value)); }
    void Put32(std::size_t offset, std::uint32_t value) { std::memcpy(&m_bytes[offset], &value, sizeof(value)); }
    [[nodiscard]] std::string Bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};

} // namespace

TEST(PeExports, ReadsTheNamesOfAnX64Image)
{
    const auto exports = ReadPeExports(ImageBuilder().Bytes());
    ASSERT_TRUE(exports);
    EXPECT_TRUE(exports->loadable);
    EXPECT_EQ((std::vector<std::string>{"SmInitialize", "SmShutdown"}), exports->names);
}

TEST(PeExports, AnImageForAnotherMachineIsNotLoadable)
{
    ImageBuilder image;
    image.Put16(0x44, 0x14C);
    const auto exports = ReadPeExports(image.Bytes());
    ASSERT_TRUE(exports);
    EXPECT_FALSE(exports->loadable);
}

TEST(PeExports, AnImageWithoutExportsHasNoNames)
{
    ImageBuilder image;
    image.Put32(0x58 + 112, 0);
    const auto exports = ReadPeExports(image.Bytes());
    ASSERT_TRUE(exports);
    EXPECT_TRUE(exports->names.empty());
}

TEST(PeExports, RefusesWhatIsNoImageOrReachesPastItsEnd)
{
    EXPECT_FALSE(ReadPeExports("MZ"));
    EXPECT_FALSE(ReadPeExports(std::string(0x400, 'x')));
    EXPECT_FALSE(ReadPeExports(ImageBuilder().Bytes().substr(0, 0x250)));
    ImageBuilder outside;
    outside.Put32(0x240, 0x5000);
    EXPECT_FALSE(ReadPeExports(outside.Bytes()));
    ImageBuilder unterminated;
    unterminated.Put32(0x244, 0x11FC);
    unterminated.Put32(0x3FC, 0x41414141);
    EXPECT_FALSE(ReadPeExports(unterminated.Bytes()));
}
