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
#include <span>
#include <string>
#include <string_view>

#include "Common/GeneratorTemplate.h"
#include "Platform/Api/Platform.h"
#include "ResKit/Logger/ExceptionHandlers.h"

class DumpGenImpl {
public:
    static constexpr std::size_t kBufferCharacters = 260;
    static constexpr std::uint32_t kGeneratorWaitMilliseconds = 600000;

    // Reads the settings: the executable's base name, the temporary folder, "UserDump" and the
    // dump type after "/m ".
    DumpGenImpl();

    // The process-wide instance, created during start-up.
    static DumpGenImpl& Instance();

    // Writes a dump, with the exception's data when one is given. True when a dump was written. The
    // dump's path goes into writtenPath, or why none was written into failure, before another
    // thread's dump can take the instance's buffers.
    bool CreateDump(const Qx::Platform::ExceptionDescription* exception, std::span<wchar_t> writtenPath = {},
                    const wchar_t** failure = nullptr);

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
