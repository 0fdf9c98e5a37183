// Crash dumps of the host process, written into the temporary directory by the product's
// external dump generator ("UserDump" below the product registry root) or, failing that, in
// process.
//
// Threads: any thread may call CreateDump; dumps are written one after another under the
// instance's lock, each into a file of its own.
//
// Memory: a dump is often written because the heap is broken. Everything the way to the dump
// needs (the temporary folder, the checked generator template, the generator path) is prepared
// when the settings are created, and the dump path and the command line are built in fixed
// buffers of the instance, so the host's own code allocates nothing on that way but its log
// records, which are built only when their level is enabled.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Api/Platform.h"
#include "ResKit/Logger/ExceptionHandlers.h"

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

class DumpGenImpl {
public:
    static constexpr std::size_t kBufferCharacters = 260;
    static constexpr std::uint32_t kGeneratorWaitMilliseconds = 600000;

    // Reads the settings: the executable's base name, the temporary folder, "UserDump" and the
    // dump type after "/m ".
    DumpGenImpl();

    // The process-wide instance, created during start-up.
    static DumpGenImpl& Instance();

    // Writes a dump, with the exception's data when one is given. True when a dump was written.
    bool CreateDump(const Qx::Platform::ExceptionDescription* exception);

    // Names later dump files after the service. Characters a file name cannot hold become "_",
    // and the name is cut where the dump path would not fit its buffer.
    void SetDumpBaseName(std::wstring_view name);

    [[nodiscard]] std::int32_t DumpType() const { return m_dumpType; }
    // The "UserDump" value as read, also when it was refused.
    [[nodiscard]] const std::wstring& UserDump() const { return m_userDump; }
    // For the tests: whether "UserDump" named a usable generator, which otherwise shows only when a
    // crash runs it.
    [[nodiscard]] bool GeneratorConfigured() const { return m_generator.has_value(); }
    [[nodiscard]] const wchar_t* GeneratorPath() const { return m_generatorPath; }
    [[nodiscard]] std::wstring BaseName();
    // The path of the last dump asked for; empty before the first.
    [[nodiscard]] const wchar_t* DumpPath() const { return m_dumpPath; }
    // Why the last CreateDump wrote no dump, in words; null after one that wrote it.
    [[nodiscard]] const wchar_t* LastFailure() const { return m_lastFailure; }

private:
    void ReadGeneratorSettings(std::wstring_view executableFolder);
    void BuildNextDumpPath(std::uint32_t exceptionCode);
    bool CreateDumpInt(const Qx::Platform::ExceptionDescription* exception);
    bool RunGenerator(const Qx::Platform::ExceptionDescription* exception);
    bool WriteInProcess(const Qx::Platform::ExceptionDescription* exception);

    std::int32_t m_dumpType = 0;
    std::mutex m_lock;
    std::wstring m_userDump;
    std::optional<GeneratorTemplate> m_generator;
    wchar_t m_generatorPath[kBufferCharacters] = {};
    wchar_t m_tempPath[kBufferCharacters] = {};
    // The buffers below are guarded by m_lock.
    wchar_t m_baseName[kBufferCharacters] = {};
    wchar_t m_dumpPath[kBufferCharacters] = {};
    wchar_t m_lastDumpPath[kBufferCharacters] = {};
    wchar_t m_commandLine[kBufferCharacters] = {};
    unsigned m_samePathCount = 0;
    const wchar_t* m_lastFailure = nullptr;
};

// Writes "<base>_<code %08X>_<yyyy>_<mm>_<dd>__<hh>_<mm>_<ss>.dmp" with its NUL into buffer, with
// "_<sequence>" before ".dmp" when sequence is not 0, cutting the base name so that the whole fits.
// False when not even one character of the base name fits.
bool FormatDumpFileName(std::wstring_view baseName, std::uint32_t exceptionCode, const Qx::Platform::LocalTime& time,
                        unsigned sequence, std::span<wchar_t> buffer);

// The crash handlers' dump writer: a dump through the process-wide instance, and its path or why
// none was written.
LogUtils::CrashDumpResult WriteCrashDump(const Qx::Platform::ExceptionDescription* exception);
