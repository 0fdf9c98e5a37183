#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Platform/Api/Platform.h"

namespace Qx::Testing {

// Records the dumps and generator runs it is asked for.
class FakeDumps final : public Platform::IDumps {
public:
    struct GeneratorRun {
        std::wstring application;
        std::wstring commandLine;
    };
    struct MiniDump {
        std::wstring path;
        std::int32_t dumpType;
        const void* exceptionPointers;
        std::uint32_t threadId;
    };

    std::wstring tempPath = L"C:\\Temp\\";
    Platform::LocalTime now{2026, 12, 7, 9, 5, 3};
    Win32Error launchError = kErrorSuccess;
    std::uint32_t generatorExitCode = 0;
    bool fileCanBeCreated = true;
    bool miniDumpSucceeds = true;
    // Whether a generator run that exits with 0 leaves a dump at the path it was given.
    bool generatorWritesDump = true;
    std::vector<GeneratorRun> generatorRuns;
    std::vector<MiniDump> miniDumps;

    std::wstring TempPath() override { return tempPath; }
    Platform::LocalTime Now() override { return now; }
    Win32Error RunProcess(const wchar_t* application, wchar_t* commandLine, std::uint32_t waitMilliseconds,
                          std::uint32_t& exitCode) override;
    bool WriteMiniDump(const wchar_t* path, std::int32_t dumpType, const void* exceptionPointers,
                       std::uint32_t threadId, bool& fileCreated) override;
    // True for a path a successful WriteMiniDump wrote, and for any path after a generator run that
    // wrote its dump.
    bool FileHasData(const wchar_t* path) override;
};

} // namespace Qx::Testing
