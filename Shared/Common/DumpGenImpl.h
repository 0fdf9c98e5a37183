// Crash dumps of the host process, written into the temporary directory by the product's
// external dump generator ("UserDump" below the product registry root) or, failing that, in
// process.
//
// Threads: any thread may call CreateDump; dumps are written one after another under the
// instance's lock, each into a file of its own.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "Platform/Api/Platform.h"

class DumpGenImpl {
public:
    static constexpr std::size_t kBufferCharacters = 260;
    static constexpr std::uint32_t kGeneratorWaitMilliseconds = 600000;

    // Reads the settings: the executable's base name, "UserDump", the dump type after "/m ".
    DumpGenImpl();

    // The process-wide instance, created during start-up.
    static DumpGenImpl& Instance();

    // Writes a dump, with the exception's data when one is given. True when a dump was written.
    bool CreateDump(const Qx::Platform::ExceptionDescription* exception);

    // Names later dump files after the service (at most 259 characters are kept).
    void SetDumpBaseName(const std::wstring& name);

    [[nodiscard]] std::int32_t DumpType() const { return m_dumpType; }
    [[nodiscard]] const std::wstring& UserDump() const { return m_userDump; }
    [[nodiscard]] const std::wstring& GeneratorPath() const { return m_generatorPath; }
    [[nodiscard]] std::wstring BaseName();

private:
    std::wstring NextDumpPath(std::uint32_t exceptionCode);
    bool CreateDumpInt(const std::wstring& path, const Qx::Platform::ExceptionDescription* exception);
    bool RunGenerator(const std::wstring& path, const Qx::Platform::ExceptionDescription* exception);

    std::int32_t m_dumpType = 0;
    std::mutex m_lock;
    std::wstring m_userDump;
    std::wstring m_generatorPath;
    std::wstring m_baseName;      // guarded by m_lock
    std::wstring m_lastDumpPath;  // guarded by m_lock
    unsigned m_samePathCount = 0; // guarded by m_lock
};

// The dump type after "/m " in a generator template: the number after the next space, leading
// blanks allowed; 0 when there is none.
std::int32_t ParseDumpType(const std::wstring& userDump);

// Fills the generator template with the process id, the dump path, the exception pointers'
// address and the thread id, in this order. The template comes from the registry, so it is
// used only when its conversions are those four kinds in this order, or fewer, and the result
// fits the 260-character command line; otherwise false.
bool FormatGeneratorCommandLine(const std::wstring& userDump, std::uint32_t processId, const std::wstring& dumpPath,
                                const void* exceptionPointers, std::uint32_t threadId, std::wstring& commandLine);

// "<base>_<code %08X>_<yyyy>_<mm>_<dd>__<hh>_<mm>_<ss>.dmp".
std::wstring DumpFileName(const std::wstring& baseName, std::uint32_t exceptionCode,
                          const Qx::Platform::LocalTime& time);
