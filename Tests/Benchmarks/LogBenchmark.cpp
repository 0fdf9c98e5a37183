// What the host's log statements and trace scopes cost when their level is off and when it is on,
// into a logger that discards every record, and what cutting a list of 100 module names costs. The
// numbers are for reading (scripts/bench.sh prints them beside their goals); no run is judged by them.
// The logger publishes its level mask as QxLogger.dll does; the cases ending in AskingTheLogger
// install it without the mask, as a logger library without LoggerLibAPI_GetLevelMask would be.
//
//     cmake --build build/native -j2 --target QxLogBenchmark
//     build/native/Tests/Benchmarks/QxLogBenchmark
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "Common/ServiceHost/ServiceModuleManager.h"
#include "RecordingLogger.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Testing;

namespace {

// Enables the levels 1 to maxLevel and drops what it is given, as a logger whose file is gone would.
class DiscardingLogger final : public IFileLoggerItf {
public:
    explicit DiscardingLogger(int maxLevel) : m_maxLevel(maxLevel)
    {
        std::uint32_t mask = 0;
        for (int level = 1; level <= maxLevel && level < 32; ++level) {
            mask |= 1u << static_cast<unsigned>(level);
        }
        m_levelMask.store(mask);
    }

    void* DeletingDestructor(unsigned int flags) noexcept override { return DeletingDestructorOf(this, flags); }
    HRESULT Init(const wchar_t* /*logName*/, const wchar_t* /*title*/, bool /*flag*/,
                 LogUtils::SModuleLogInit* /*settings*/) override
    {
        return kSOk;
    }
    void Reserved() override {}
    HRESULT Write(const wchar_t* sourceFile, int /*line*/, const wchar_t* text, int /*level*/,
                  const wchar_t* severity) override
    {
        benchmark::DoNotOptimize(sourceFile);
        benchmark::DoNotOptimize(text);
        benchmark::DoNotOptimize(severity);
        return kSOk;
    }
    void ChangeIndent(int delta) override { benchmark::DoNotOptimize(delta); }
    bool IsEnabled(int level) override { return level >= 1 && level <= m_maxLevel; }
    ILogSettings& GetSettings() override { return m_settings; }

    [[nodiscard]] const LoggerLevelMask* LevelMask() const { return &m_levelMask; }

private:
    int m_maxLevel;
    LoggerLevelMask m_levelMask{0};
    LogUtils::EmptyLogSettings m_settings;
};

// Level 3 is the logger's default; trace scopes write at level 2.
constexpr int kRecordLevel = 3;
constexpr int kAllOff = 0;
constexpr std::size_t kListedModules = 100;

enum class Mask { Published, AskTheLogger };

void LogStatement(benchmark::State& state, int maxLevel, Mask mask)
{
    DiscardingLogger logger(maxLevel);
    const ScopedLogger scopedLogger(logger, mask == Mask::Published ? logger.LevelMask() : nullptr);
    int value = 0;
    for (auto _ : state) {
        QX_LOG(kRecordLevel, "Loading module:", value);
        benchmark::DoNotOptimize(++value);
    }
}

[[gnu::noinline]] void TracedFunction(int& calls)
{
    QX_FUNCTION_TRACE(L"Benchmarks::TracedFunction");
    benchmark::DoNotOptimize(++calls);
}

void TraceScope(benchmark::State& state, int maxLevel, Mask mask)
{
    DiscardingLogger logger(maxLevel);
    const ScopedLogger scopedLogger(logger, mask == Mask::Published ? logger.LevelMask() : nullptr);
    int calls = 0;
    for (auto _ : state) {
        TracedFunction(calls);
    }
}

// The list of a service hosting 100 modules, named as module files usually are.
void SplitModuleList100(benchmark::State& state)
{
    std::wstring list;
    for (std::size_t i = 0; i < kListedModules; ++i) {
        list += (i == 0 ? L"" : L";") + std::wstring(L"QxProductModule") + std::to_wstring(i) + L".dll";
    }
    for (auto _ : state) {
        const std::vector<std::wstring> names = SplitModuleList(list);
        benchmark::DoNotOptimize(names.data());
    }
}
BENCHMARK(SplitModuleList100);

// Statements and scopes with their level off and on, into a logger that publishes its mask as
// QxLogger.dll does and into one that must be asked, under the names scripts/bench.sh reads. A
// record with narrow text and an int is built and handed to the logger, which drops it.
const bool g_registered = [] {
    benchmark::RegisterBenchmark("DisabledLogStatement", LogStatement, kAllOff, Mask::Published);
    benchmark::RegisterBenchmark("DisabledLogStatementAskingTheLogger", LogStatement, kAllOff, Mask::AskTheLogger);
    benchmark::RegisterBenchmark("EnabledNarrowRecord", LogStatement, kRecordLevel, Mask::Published);
    benchmark::RegisterBenchmark("EnabledNarrowRecordAskingTheLogger", LogStatement, kRecordLevel, Mask::AskTheLogger);
    benchmark::RegisterBenchmark("DisabledTraceScope", TraceScope, kAllOff, Mask::Published);
    benchmark::RegisterBenchmark("DisabledTraceScopeAskingTheLogger", TraceScope, kAllOff, Mask::AskTheLogger);
    benchmark::RegisterBenchmark("EnabledTraceScope", TraceScope, kRecordLevel, Mask::Published);
    return true;
}();

} // namespace

BENCHMARK_MAIN();
