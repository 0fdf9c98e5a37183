// What one event report costs through the full chain: the filter of disabled events, the event log
// and agent sinks (libraries of this process that do nothing) and the raw dump into the module log
// with level 1 disabled, so the dump formats its texts and writes nothing. The product's events are
// rare; the numbers are for reading, and no run is judged by them.
//
// Each benchmark's setup first checks the property that keeps a report cheap: a kept chain reads
// the registry for nothing but the refresh of the disabled list, once per 31 seconds. A broken
// setup makes the run exit with 1.
//
//     cmake --build build/native -j2 --target QxEventReportBenchmark
//     build/native/Tests/Benchmarks/QxEventReportBenchmark
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "Common/audit/EventReporters.h"
#include "Common/audit/EventSinks.h"
#include "EventSamples.h"
#include "FakePlatform.h"
#include "RecordingLogger.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Testing;

namespace {

constexpr const wchar_t* kRoot = L"SOFTWARE\\Velquor\\Product";
constexpr const wchar_t* kInstallPath = L"C:\\Velquor\\";
constexpr std::uint64_t kReportsWithoutRefresh = 100;

bool g_setupFailed = false;

HRESULT ErInitialize(const wchar_t*, const wchar_t*)
{
    return kSOk;
}

HRESULT ErReportEvent3(std::uint16_t, std::uint16_t, std::uint32_t, void*, std::uint16_t, const wchar_t**,
                       std::uint32_t, std::uint32_t)
{
    return kSOk;
}

HRESULT EcRegisterEventSource(const wchar_t*, void** handle)
{
    static int source;
    *handle = &source;
    return kSOk;
}

HRESULT EcWriteEvent(void*, std::uint16_t, std::uint16_t, std::uint32_t, void*, std::uint16_t, std::uint32_t,
                     const wchar_t**, void*, std::uint64_t)
{
    return kSOk;
}

// An installed product on the doubles, with the registry and disabled-event state of its root.
struct Product {
    Product()
    {
        platform.registry.SetString(kRoot, L"ProductInstallPath", kInstallPath);
        platform.registry.SetString(kRoot, L"EventSource", L"Velquor Audit");
        platform.registry.SetString(kRoot, L"DisabledEvents", L"x:1073807618");
        auto& reporter = platform.libraries.Add(std::wstring(kInstallPath) + CEventLogReporter::kLibraryName);
        reporter.exports["ErInitialize"] = reinterpret_cast<void*>(&ErInitialize);
        reporter.exports["ErReportEvent3"] = reinterpret_cast<void*>(&ErReportEvent3);
        auto& agent = platform.libraries.Add(std::wstring(kInstallPath) + CEventAgentReporter::kLibraryName);
        agent.exports["EcRegisterEventSource"] = reinterpret_cast<void*>(&EcRegisterEventSource);
        agent.exports["EcWriteEvent"] = reinterpret_cast<void*>(&EcWriteEvent);
    }

    FakePlatform platform;
    ScopedLogger scopedLogger{LogUtils::DevNullLogger()};
    DisabledEventState disabledEvents{kRoot};
    EventReporterRegistry registry{kRoot, disabledEvents};
};

// Empty when a kept chain opens the registry only for the refresh, else what it did instead. The
// fake clock moves on with every report, up to the last millisecond before the refresh is due.
std::string CheckRegistryAccess(Product& product)
{
    auto& tickCount = product.platform.process.tickCount;
    const auto chain = product.registry.GetDefaultReporter();
    const EventRecord event = StartFailedEvent();
    chain->Report(event, false);
    const std::uint64_t firstRead = tickCount;
    const int afterFirstReport = product.platform.registry.OpenCalls();
    for (std::uint64_t i = 1; i <= kReportsWithoutRefresh; ++i) {
        tickCount = firstRead + (DisabledEventState::kRefreshIntervalMs - 1) * i / kReportsWithoutRefresh;
        if (product.registry.GetDefaultReporter() != chain) {
            return "the default chain was not kept";
        }
        chain->Report(event, false);
    }
    if (const int opens = product.platform.registry.OpenCalls() - afterFirstReport; opens != 0) {
        return "a kept chain opened the registry " + std::to_string(opens) + " times within 31 seconds";
    }
    tickCount = firstRead + DisabledEventState::kRefreshIntervalMs;
    chain->Report(event, false);
    if (const int opens = product.platform.registry.OpenCalls() - afterFirstReport; opens != 1) {
        return "the refresh after 31 seconds opened the registry " + std::to_string(opens) + " times, not once";
    }
    return {};
}

bool SetUp(benchmark::State& state, Product& product)
{
    const std::string problem = CheckRegistryAccess(product);
    if (problem.empty()) {
        return true;
    }
    g_setupFailed = true;
    state.SkipWithError(problem.c_str());
    return false;
}

// A chain held by the caller.
void ReportThroughKeptChain(benchmark::State& state)
{
    Product product;
    if (!SetUp(state, product)) {
        return;
    }
    const auto chain = product.registry.GetDefaultReporter();
    const EventRecord event = StartFailedEvent();
    for (auto _ : state) {
        chain->Report(event, false);
    }
}
BENCHMARK(ReportThroughKeptChain);

// What ReportProductEvent does: the registry's lookup of the default chain, then the report.
void ReportThroughRegistry(benchmark::State& state)
{
    Product product;
    if (!SetUp(state, product)) {
        return;
    }
    const EventRecord event = StartFailedEvent();
    for (auto _ : state) {
        product.registry.GetDefaultReporter()->Report(event, false);
    }
}
BENCHMARK(ReportThroughRegistry);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_setupFailed) {
        std::fprintf(stderr, "a benchmark's setup failed\n");
        return 1;
    }
    return 0;
}
