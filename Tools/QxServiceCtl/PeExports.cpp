#include "PeExports.h"

#include <algorithm>
#include <cstring>

namespace QxServiceCtl {

namespace {

constexpr std::size_t kNewHeaderOffset = 0x3C;
constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;
// Offset of the data directories in the optional header.
constexpr std::size_t kDirectoriesPe32 = 96;
constexpr std::size_t kDirectoriesPe32Plus = 112;
constexpr std::size_t kLongestName = 4096;

class ImageReader {
public:
    explicit ImageReader(std::string_view image) : m_image(image) {}

    template <typename T>
    std::optional<T> Read(std::size_t offset) const
    {
        if (offset > m_image.size() || m_image.size() - offset < sizeof(T)) {
            return std::nullopt;
        }
        T value{};
        std::memcpy(&value, m_image.data() + offset, sizeof(T));
        return value;
    }

    std::optional<std::string> ReadName(std::size_t offset) const
    {
        if (offset >= m_image.size()) {
            return std::nullopt;
        }
        const std::string_view rest = m_image.substr(offset, kLongestName);
        const std::size_t end = rest.find('\0');
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        return std::string(rest.substr(0, end));
    }

private:
    std::string_view m_image;
};

struct Section {
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawOffset = 0;
    std::uint32_t rawSize = 0;
};

struct Layout {
    std::vector<Section> sections;

    // The file offset of a relative virtual address, when a section holds it in the file.
    [[nodiscard]] std::optional<std::size_t> FileOffset(std::uint32_t rva) const
    {
        for (const auto& section : sections) {
            const std::uint32_t extent = std::max(section.virtualSize, section.rawSize);
            if (rva >= section.virtualAddress && rva - section.virtualAddress < extent &&
                rva - section.virtualAddress < section.rawSize) {
                return std::size_t{section.rawOffset} + (rva - section.virtualAddress);
            }
        }
        return std::nullopt;
    }
};

std::optional<std::vector<std::string>> ReadExportNames(const ImageReader& reader, const Layout& layout,
                                                        std::uint32_t directoryRva)
{
    std::vector<std::string> names;
    if (directoryRva == 0) {
        return names;
    }
    const auto directory = layout.FileOffset(directoryRva);
    if (!directory) {
        return std::nullopt;
    }
    const auto count = reader.Read<std::uint32_t>(*directory + 24);
    const auto namesRva = reader.Read<std::uint32_t>(*directory + 32);
    if (!count || !namesRva) {
        return std::nullopt;
    }
    const auto table = *count == 0 ? std::optional<std::size_t>(0) : layout.FileOffset(*namesRva);
    if (!table) {
        return std::nullopt;
    }
    for (std::uint32_t i = 0; i < *count; ++i) {
        const auto nameRva = reader.Read<std::uint32_t>(*table + std::size_t{i} * 4);
        const auto nameOffset = nameRva ? layout.FileOffset(*nameRva) : std::nullopt;
        const auto name = nameOffset ? reader.ReadName(*nameOffset) : std::nullopt;
        if (!name) {
            return std::nullopt;
        }
        names.push_back(*name);
    }
    return names;
}

} // namespace

std::optional<PeExports> ReadPeExports(std::string_view image)
{
    const ImageReader reader(image);
    if (reader.Read<std::uint16_t>(0) != std::uint16_t{0x5A4D}) {
        return std::nullopt;
    }
    const auto peOffset = reader.Read<std::uint32_t>(kNewHeaderOffset);
    if (!peOffset || reader.Read<std::uint32_t>(*peOffset) != std::uint32_t{0x00004550}) {
        return std::nullopt;
    }
    const std::size_t fileHeader = std::size_t{*peOffset} + 4;
    const auto machine = reader.Read<std::uint16_t>(fileHeader);
    const auto sectionCount = reader.Read<std::uint16_t>(fileHeader + 2);
    const auto optionalSize = reader.Read<std::uint16_t>(fileHeader + 16);
    const std::size_t optionalHeader = fileHeader + kFileHeaderSize;
    const auto magic = reader.Read<std::uint16_t>(optionalHeader);
    if (!machine || !sectionCount || !optionalSize || (magic != kMagicPe32 && magic != kMagicPe32Plus)) {
        return std::nullopt;
    }
    const std::size_t directories =
        optionalHeader + (magic == kMagicPe32Plus ? kDirectoriesPe32Plus : kDirectoriesPe32);
    const auto exportRva = reader.Read<std::uint32_t>(directories);
    if (!exportRva || directories + 8 > optionalHeader + *optionalSize) {
        return std::nullopt;
    }
    Layout layout;
    const std::size_t sectionTable = optionalHeader + *optionalSize;
    for (std::size_t i = 0; i < *sectionCount; ++i) {
        const std::size_t header = sectionTable + i * kSectionHeaderSize;
        const auto virtualSize = reader.Read<std::uint32_t>(header + 8);
        const auto virtualAddress = reader.Read<std::uint32_t>(header + 12);
        const auto rawSize = reader.Read<std::uint32_t>(header + 16);
        const auto rawOffset = reader.Read<std::uint32_t>(header + 20);
        if (!virtualSize || !virtualAddress || !rawSize || !rawOffset) {
            return std::nullopt;
        }
        layout.sections.push_back({*virtualAddress, *virtualSize, *rawOffset, *rawSize});
    }
    auto names = ReadExportNames(reader, layout, *exportRva);
    if (!names) {
        return std::nullopt;
    }
    return PeExports{*machine == kMachineAmd64 && magic == kMagicPe32Plus, std::move(*names)};
}

} // namespace QxServiceCtl
