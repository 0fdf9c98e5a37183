// The logger the process logs to, the question whether it takes a level, and the null logger that
// stands in while none is installed.
//
// Threads: any thread may log. The installed logger pointer changes only atomically; the logger
// itself accepts concurrent calls.
#pragma once

#include <atomic>
#include <cstdint>

#include "Platform/Api/HResult.h"
#include "ResKit/Logger/LoggerItf.h"

namespace LogUtils {

constexpr int kSeverityDbg = 0;
constexpr int kSeverityInfo = 1;
constexpr int kSeverityWarn = 2;
constexpr int kSeverityError = 3;
constexpr int kSeverityFatal = 4;
// Keeps the severity a record takes from its level: INFO at level 1, DBG at any other.
constexpr int kLevelSeverity = -1;
// Function traces and the indentation of every scope.
constexpr int kTraceLevel = 2;

const wchar_t* SeverityName(int severity);

// The installed logger, or the process-wide CDevNullLogger while none is installed.
IFileLoggerItf& GetLogger();

namespace Detail {
// The mask word of the installed logger: a word of no levels while none (or the CDevNullLogger) is
// installed, the logger's published word, or a word of every level for a logger that publishes
// none. It changes together with the installed logger.
extern std::atomic<const LoggerLevelMask*> g_levelMask;
} // namespace Detail

// False only when the installed logger surely does not enable level: its mask bit is clear. Levels
// outside 0 to 31 have no bit and may always be enabled.
inline bool LevelMayBeEnabled(int level) noexcept
{
    const auto bit = static_cast<unsigned>(level);
    if (bit >= 32u) {
        return true;
    }
    const std::uint32_t mask = Detail::g_levelMask.load(std::memory_order_acquire)->load(std::memory_order_relaxed);
    return ((mask >> bit) & 1u) != 0;
}

// The question every step of a statement asks: the mask first, and only when its bit is set the
// installed logger.
inline bool IsLevelEnabled(int level)
{
    return LevelMayBeEnabled(level) && GetLogger().IsEnabled(level);
}

// Installs logger unless one is installed already; returns false then, and the caller keeps
// ownership of logger. levelMask is the word the logger's library publishes for it, which must live
// as long as the logger; without one, the logger is asked about every level.
bool InstallLogger(IFileLoggerItf* logger, const LoggerLevelMask* levelMask = nullptr);

// Puts logger in place of the installed one, whatever that is, and returns the previous one. A null
// logger or the CDevNullLogger enables no level, whatever levelMask says.
IFileLoggerItf* ExchangeLogger(IFileLoggerItf* logger, const LoggerLevelMask* levelMask = nullptr);

// Asks the logger library for a logger and installs it; a surplus object is destroyed. Runs at
// start-up and again for every module log.
void AcquireLogger();

inline constexpr int kSpareAttributeIndex = 2;

// Hands out record attribute indices: 0, 1, then always the shared spare slot kSpareAttributeIndex.
int AllocRecordAttribute();

struct RecordAttributeIndices {
    int severity;
    int second; // never set by the host; timed trace scopes take their severity from it
};
// Allocated once, severity first, during start-up.
const RecordAttributeIndices& AttributeIndices();

// Process-wide objects: slot 0 leaves them alone.
class CDevNullLogger final : public IFileLoggerItf {
public:
    void* DeletingDestructor(unsigned int) noexcept override { return this; }
    HRESULT Init(const wchar_t*, const wchar_t*, bool, SModuleLogInit*) override { return Qx::kSOk; }
    void Reserved() override {}
    HRESULT Write(const wchar_t*, int, const wchar_t*, int, const wchar_t*) override { return Qx::kSOk; }
    void ChangeIndent(int) override {}
    bool IsEnabled(int) override { return false; }
    ILogSettings& GetSettings() override;
};

class EmptyLogSettings final : public ILogSettings {
public:
    void* DeletingDestructor(unsigned int) noexcept override { return this; }
    const wchar_t* Value1() const override { return L""; }
    const wchar_t* Value2() const override { return L""; }
    int Number1() const override { return 0; }
    int Number2() const override { return 0; }
};

CDevNullLogger& DevNullLogger();

} // namespace LogUtils
