// What the fuzz targets share: the input read as choices and UTF-16 text, the registry values
// built from it, and the check that stops a run when a property does not hold.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Platform/Api/Platform.h"

namespace Qx::Testing {

// Ends the run as a crash, so that libFuzzer keeps the input that broke the property.
inline void Check(bool holds, const char* property)
{
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", property);
        std::abort();
    }
}

// Consumes the input from the front. Text comes from little-endian byte pairs, one UTF-16 unit
// each, so that NULs, control characters and lone surrogates all occur.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    // The next byte; 0 once the input is used up.
    std::uint8_t TakeByte() { return m_used < m_size ? m_data[m_used++] : 0; }

    // An integer from the next bytes, least significant first; missing bytes count as 0.
    template <typename Integer>
    Integer TakeInteger()
    {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < sizeof(Integer); ++i) {
            value |= static_cast<std::uint64_t>(TakeByte()) << (8 * i);
        }
        return static_cast<Integer>(value);
    }

    // The rest of the input as text; an odd last byte is dropped.
    std::wstring TakeText()
    {
        std::wstring text;
        for (; m_used + 1 < m_size; m_used += 2) {
            text.push_back(static_cast<wchar_t>(m_data[m_used] | (m_data[m_used + 1] << 8)));
        }
        m_used = m_size;
        return text;
    }

    // The rest of the input as raw bytes.
    std::vector<std::uint8_t> TakeBytes()
    {
        std::vector<std::uint8_t> bytes(m_data + m_used, m_data + m_size);
        m_used = m_size;
        return bytes;
    }

    // A registry value type, string types more often than the others.
    std::uint32_t TakeRegistryType()
    {
        static constexpr std::array<std::uint32_t, 8> kTypes = {
            Platform::kRegSz,     Platform::kRegSz,    Platform::kRegExpandSz, Platform::kRegMultiSz,
            Platform::kRegBinary, Platform::kRegDword, Platform::kRegQword,    Platform::kRegNone};
        return kTypes[TakeByte() % kTypes.size()];
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_used = 0;
};

// The UTF-16 units of raw string data up to its first NUL, as a reader of the value sees them.
inline std::wstring UnitsUpToNul(const std::vector<std::uint8_t>& bytes)
{
    std::wstring text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto unit = static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit == L'\0') {
            break;
        }
        text.push_back(unit);
    }
    return text;
}

} // namespace Qx::Testing
