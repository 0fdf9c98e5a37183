// Dumps of the process: the temporary folder, the time, the generator process and minidumps.
#pragma once

#include <cstdint>
#include <string>

#include "Platform/Api/HResult.h"

namespace Qx::Platform {

struct LocalTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Writing dumps of the process.
class IDumps {
public:
    virtual ~IDumps() = default;
    // GetTempPathW: ends in a backslash.
    virtual std::wstring TempPath() = 0;
    virtual LocalTime Now() = 0;
    // Starts application with the command line (handles inherited, no window), waits up to
    // waitMilliseconds, terminates it with 0xFFFFFFFF when it has not ended, and gives its exit
    // code (0 when it cannot be read). Returns the error when it cannot be started. The command
    // line is a writable NUL-terminated buffer, as CreateProcessW wants it; nothing is copied, so
    // a crash handler can call this without allocating.
    [[nodiscard]] virtual Win32Error RunProcess(const wchar_t* application, wchar_t* commandLine,
                                                std::uint32_t waitMilliseconds, std::uint32_t& exitCode) = 0;
    // Creates (truncates) path and writes a minidump of this process into it, with the exception
    // of the given thread when exceptionPointers is not null. fileCreated tells whether the file
    // could be created; the result whether the dump was written.
    virtual bool WriteMiniDump(const wchar_t* path, std::int32_t dumpType, const void* exceptionPointers,
                               std::uint32_t threadId, bool& fileCreated) = 0;
    // Whether path names a file of at least one byte (GetFileAttributesExW), without allocating.
    virtual bool FileHasData(const wchar_t* path) = 0;
};

} // namespace Qx::Platform
