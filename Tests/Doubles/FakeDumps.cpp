#include "FakeDumps.h"

#include <algorithm>

#include "AllocationCount.h"

namespace Qx::Testing {

using namespace Qx::Platform;

Win32Error FakeDumps::RunProcess(const wchar_t* application, wchar_t* commandLine, std::uint32_t,
                                 std::uint32_t& exitCode)
{
    const UncountedAllocations bookkeeping;
    generatorRuns.push_back({application, commandLine});
    if (launchError != kErrorSuccess) {
        return launchError;
    }
    exitCode = generatorExitCode;
    return kErrorSuccess;
}

bool FakeDumps::WriteMiniDump(const wchar_t* path, std::int32_t dumpType, const void* exceptionPointers,
                              std::uint32_t threadId, bool& fileCreated)
{
    fileCreated = fileCanBeCreated;
    if (!fileCreated) {
        return false;
    }
    const UncountedAllocations bookkeeping;
    miniDumps.push_back({path, dumpType, exceptionPointers, threadId});
    return miniDumpSucceeds;
}

bool FakeDumps::FileHasData(const wchar_t* path)
{
    if (!generatorRuns.empty() && launchError == kErrorSuccess && generatorWritesDump) {
        return true;
    }
    const std::wstring_view wanted(path);
    return miniDumpSucceeds &&
           std::ranges::any_of(miniDumps, [&](const MiniDump& dump) { return dump.path == wanted; });
}

} // namespace Qx::Testing
