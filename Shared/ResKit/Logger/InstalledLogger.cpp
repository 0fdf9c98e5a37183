#include "ResKit/Logger/InstalledLogger.h"

#include <memory>
#include <mutex>

#include "Platform/Api/Platform.h"
#include "Platform/Api/ProcessWide.h"

using namespace Qx;
using namespace Qx::Platform;

namespace LogUtils {

namespace {

std::atomic<IFileLoggerItf*> g_installedLogger{nullptr};
// The mask words of a logger that enables nothing and of one that publishes no word of its own.
constinit LoggerLevelMask g_noLevels{0};
constinit LoggerLevelMask g_askForEveryLevel{0xFFFFFFFFu};
// Serialises the changes of the installed logger with its mask word; readers take neither lock.
std::mutex g_loggerChangeLock;
std::atomic<int> g_attributeCounter{0};

struct LoggerLibraryExports {
    LoggerLibGetLoggerFunction getLogger = nullptr;
    LoggerLibGetLevelMaskFunction getLevelMask = nullptr; // optional
};

// The exports of QxLogger.dll beside the executable; none without the library. The library stays
// loaded for the life of the process: the logger's code lives in it.
LoggerLibraryExports FindLoggerLibraryExports()
{
    const std::wstring folder = ExecutableFolder();
    Library library;
    if (folder.empty() || Libraries().Load(folder + kLoggerLibraryFileName, library) != kErrorSuccess) {
        return {};
    }
    LoggerLibraryExports exports;
    exports.getLogger =
        reinterpret_cast<LoggerLibGetLoggerFunction>(Libraries().GetProc(library.get(), kLoggerLibGetLoggerExport));
    if (exports.getLogger == nullptr) {
        return {};
    }
    exports.getLevelMask = reinterpret_cast<LoggerLibGetLevelMaskFunction>(
        Libraries().GetProc(library.get(), kLoggerLibGetLevelMaskExport));
    (void)library.release();
    return exports;
}

const LoggerLibraryExports& LoggerLibrary()
{
    static ProcessWide<const LoggerLibraryExports> exports(
        [] { return std::make_unique<const LoggerLibraryExports>(FindLoggerLibraryExports()); });
    return exports.Get();
}

const LoggerLevelMask* MaskWordOf(const IFileLoggerItf* logger, const LoggerLevelMask* published)
{
    if (logger == nullptr || logger == &DevNullLogger()) {
        return &g_noLevels;
    }
    return published != nullptr ? published : &g_askForEveryLevel;
}

} // namespace

namespace Detail {
constinit std::atomic<const LoggerLevelMask*> g_levelMask{&g_noLevels};
} // namespace Detail

const wchar_t* SeverityName(int severity)
{
    static constexpr const wchar_t* kNames[] = {L"DBG", L"INFO", L"WARN", L"ERROR", L"FATAL"};
    return severity >= 0 && severity < 5 ? kNames[severity] : kNames[kSeverityDbg];
}

IFileLoggerItf& GetLogger()
{
    IFileLoggerItf* logger = g_installedLogger.load(std::memory_order_acquire);
    return logger != nullptr ? *logger : DevNullLogger();
}

// The mask word follows the logger: a reader that sees the new word finds the new logger too.
bool InstallLogger(IFileLoggerItf* logger, const LoggerLevelMask* levelMask)
{
    const std::lock_guard lock(g_loggerChangeLock);
    IFileLoggerItf* expected = nullptr;
    if (!g_installedLogger.compare_exchange_strong(expected, logger, std::memory_order_acq_rel)) {
        return false;
    }
    Detail::g_levelMask.store(MaskWordOf(logger, levelMask), std::memory_order_release);
    return true;
}

IFileLoggerItf* ExchangeLogger(IFileLoggerItf* logger, const LoggerLevelMask* levelMask)
{
    const std::lock_guard lock(g_loggerChangeLock);
    IFileLoggerItf* previous = g_installedLogger.exchange(logger, std::memory_order_acq_rel);
    Detail::g_levelMask.store(MaskWordOf(logger, levelMask), std::memory_order_release);
    return previous;
}

void AcquireLogger()
{
    const LoggerLibraryExports& library = LoggerLibrary();
    if (library.getLogger == nullptr) {
        return;
    }
    IFileLoggerItf* logger = library.getLogger(Process().HostInstance());
    if (logger == nullptr) {
        return;
    }
    const LoggerLevelMask* levelMask = library.getLevelMask != nullptr ? library.getLevelMask(logger) : nullptr;
    if (!InstallLogger(logger, levelMask)) {
        DestroyInterfaceObject(logger);
    }
}

int AllocRecordAttribute()
{
    const int index = g_attributeCounter.fetch_add(1);
    if (index >= kSpareAttributeIndex) {
        g_attributeCounter.fetch_sub(1);
        return kSpareAttributeIndex;
    }
    return index;
}

const RecordAttributeIndices& AttributeIndices()
{
    static const RecordAttributeIndices indices{AllocRecordAttribute(), AllocRecordAttribute()};
    return indices;
}

ILogSettings& CDevNullLogger::GetSettings()
{
    static EmptyLogSettings settings;
    return settings;
}

CDevNullLogger& DevNullLogger()
{
    static CDevNullLogger logger;
    return logger;
}

} // namespace LogUtils
