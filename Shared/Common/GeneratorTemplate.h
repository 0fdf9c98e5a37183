// The dump generator's command-line template ("UserDump"): checked once when the settings are read,
// then filled without allocating when a dump is written.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// MINIDUMP_TYPE bits from MiniDumpWithDataSegs (0x1) up to MiniDumpFilterTriage (0x100000), the
// ones the dump generator knows too; a number with any other bit set is not taken as a dump type.
inline constexpr std::int32_t kKnownDumpTypeBits = 0x001FFFFF;

// The dump type after "/m " in a generator template: the number after the next space, leading
// blanks allowed; 0 when the template has no "/m ". Empty when the number is missing, holds
// anything but ASCII digits, does not end at a blank or the end, or sets an unknown bit.
std::optional<std::int32_t> ParseDumpType(std::wstring_view userDump);

// What fills a generator template's conversions, in this order.
struct GeneratorArguments {
    std::uint32_t processId = 0;
    const wchar_t* dumpPath = L"";
    const void* exceptionPointers = nullptr;
    std::uint32_t threadId = 0;
};

// A "UserDump" value checked once and then filled without allocating. The value comes from the
// registry, so it is accepted only when its conversions are the four argument kinds in order
// (or fewer), with flags but no width or precision, its dump type is known, and it fits the
// 260-character command line.
class GeneratorTemplate {
public:
    static constexpr std::size_t kMaxCharacters = 259;

    static std::optional<GeneratorTemplate> Check(std::wstring_view userDump);

    // Fills buffer with the command line and its NUL. A dump path outside double quotes of the
    // template is put in quotes, so a path with spaces stays one argument. False when the result
    // does not fit; the buffer then holds no usable command line.
    bool Format(const GeneratorArguments& arguments, std::span<wchar_t> buffer) const;

    [[nodiscard]] std::int32_t DumpType() const { return m_dumpType; }
    // The template's first word: the generator's file name.
    [[nodiscard]] std::wstring_view Program() const;

    // A run of the template's own text, or one conversion.
    struct Piece {
        enum class Kind : std::uint8_t { Literal, ProcessId, DumpPath, ExceptionPointers, ThreadId };
        Kind kind = Kind::Literal;
        // The literal's place in the template text.
        std::size_t start = 0;
        std::size_t length = 0;
        // The conversion character and its flags.
        wchar_t type = 0;
        bool alternate = false;
        bool plusSign = false;
        bool spaceSign = false;
        // A dump path that is not inside quotes of the template.
        bool quoted = false;
    };

private:
    GeneratorTemplate() = default;
    // Adds the template character at position to the text that is copied as it is.
    void AddLiteral(std::size_t position);

    std::wstring m_text;
    std::vector<Piece> m_pieces;
    std::int32_t m_dumpType = 0;
};
