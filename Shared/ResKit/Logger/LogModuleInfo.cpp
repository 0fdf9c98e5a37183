#include "ResKit/Logger/LogModuleInfo.h"

#include <cstdio>
#include <memory>

#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Platform;

namespace LogUtils {

namespace {

constexpr int kModuleInfoLevel = 3;

// The records carry fixed line numbers, so the block reads the same whatever this file becomes.
constexpr int kLineFrame = 27;
constexpr int kLineModuleName = 32;
constexpr int kLineModuleVersion = 37;
constexpr int kLineProcess = 42;
constexpr int kLineFrameEnd = 44;

template <class... Parts>
void WriteInfo(int line, const Parts&... parts)
{
    WriteRecordAt(kModuleInfoLevel, kSeverityDbg, QX_SOURCE_FILE, line, parts...);
}

void WriteVersion(const std::wstring& modulePath, VersionReader readVersion)
{
    // Reading a version resource loads the version library; a record nobody keeps is not worth it.
    if (!IsLevelEnabled(kModuleInfoLevel)) {
        return;
    }
    std::unique_ptr<IVersionBlock> block;
    if (Failed(readVersion(modulePath, block))) {
        return;
    }
    wchar_t translation[16] = L"040904B0";
    std::uint16_t language = 0;
    std::uint16_t codePage = 0;
    if (block->Translation(language, codePage)) {
        std::swprintf(translation, std::size(translation), L"%04x%04x", static_cast<unsigned>(language),
                      static_cast<unsigned>(codePage));
    }
    const std::wstring subBlock = std::wstring(L"\\StringFileInfo\\") + translation + L"\\FileVersion";
    std::wstring version;
    bool isNull = false;
    if (!block->QueryString(subBlock, version, isNull)) {
        WriteInfo(kLineModuleVersion, L"** Module version:");
    } else if (isNull) {
        WriteInfo(kLineModuleVersion, L"** Module version:", static_cast<const wchar_t*>(nullptr));
    } else {
        WriteInfo(kLineModuleVersion, L"** Module version:", version);
    }
}

} // namespace

void LogModuleInfo(VersionReader readVersion)
{
    auto& process = Process();
    WriteInfo(kLineFrame, L"*");
    std::wstring modulePath;
    const bool haveModulePath = process.ModuleFileName(process.HostInstance(), modulePath) == kErrorSuccess;
    if (haveModulePath) {
        WriteInfo(kLineModuleName, L"** Module name:", modulePath);
        WriteVersion(modulePath, readVersion);
    }
    std::wstring processPath;
    if (process.ModuleFileName(nullptr, processPath) == kErrorSuccess) {
        WriteInfo(kLineProcess, L"** Process:", processPath);
    }
    WriteInfo(kLineFrameEnd, L"*");
}

} // namespace LogUtils
