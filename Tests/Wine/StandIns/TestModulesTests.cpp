// The module libraries the end-to-end tests hand to the host (Tests/Wine/TestModules): each copy
// behaves as its registry key says and traces every call, and the incomplete variants lack exactly
// the export they are meant to lack. What the end-to-end tests show by themselves is not repeated
// here: that each copy reads the key named after its own file (module A succeeds where B is told to
// fail), that the Crash values bring the host down with their exception codes and that the Throw
// values throw where they should (CrashTests.cpp, ServiceLifecycleTests.cpp).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "QxServiceModule.h"
#include "StandInTestSupport.h"
#include "TestTrace.h"

namespace {

using namespace Qx::Testing;

constexpr const wchar_t* kBehaviourValues[] = {L"DelayMs", L"Crash", L"Throw", L"Flags", L"Result"};

using WAInitWFunction = int (*)(const wchar_t*);
using WAVoidFunction = int (*)();

template <typename Function>
Function Resolve(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// GetProcAddress finds no export of that name and says so with ERROR_PROC_NOT_FOUND.
::testing::AssertionResult LacksExport(HMODULE module, const char* name)
{
    SetLastError(0);
    if (GetProcAddress(module, name) != nullptr) {
        return ::testing::AssertionFailure() << name << " is exported";
    }
    if (const DWORD error = GetLastError(); error != ERROR_PROC_NOT_FOUND) {
        return ::testing::AssertionFailure() << name << " is missing with error " << error;
    }
    return ::testing::AssertionSuccess();
}

// Every test traces to a file of its own and starts its modules with none of their behaviour values
// set; whatever was in the registry before is put back afterwards. This process names no service, so
// the modules read the key named after its executable (see TestTrace.h).
class TestModulesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string testName = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_traceFile = TempDirectory() + L"QxStandIns-" + std::wstring(testName.begin(), testName.end()) + L".trace";
        DeleteFileW(m_traceFile.c_str());
        m_traceFileValue = std::make_unique<RegistryValueOverride>(Qx::Testing::SettingsKey(), L"TraceFile");
        m_traceFileValue->SetString(m_traceFile);
    }

    void TearDown() override
    {
        while (!m_modules.empty()) {
            EXPECT_TRUE(FreeLibrary(m_modules.back()));
            m_modules.pop_back();
        }
        while (!m_values.empty()) {
            m_values.pop_back();
        }
        m_traceFileValue.reset();
        DeleteFileW(m_traceFile.c_str());
    }

    HMODULE Load(const wchar_t* fileName)
    {
        const HMODULE module = LoadLibraryW(fileName);
        EXPECT_NE(module, nullptr) << "LoadLibraryW failed with " << GetLastError();
        if (module != nullptr) {
            m_modules.push_back(module);
        }
        return module;
    }

    // Loads a module with its behaviour values removed for the test.
    HMODULE LoadModule(const std::wstring& name)
    {
        for (const wchar_t* value : kBehaviourValues) {
            Value(name, value).Remove();
        }
        return Load((name + L".dll").c_str());
    }

    RegistryValueOverride& Value(const std::wstring& module, const wchar_t* name)
    {
        const std::wstring key = Qx::Testing::SettingsKey() + L"\\" + module;
        for (auto& [path, value] : m_values) {
            if (path == key + L"|" + name) {
                return *value;
            }
        }
        m_values.emplace_back(key + L"|" + name, std::make_unique<RegistryValueOverride>(key, name));
        return *m_values.back().second;
    }

    std::vector<TraceLine> ReadTrace() const
    {
        std::vector<TraceLine> lines;
        if (!FileExists(m_traceFile)) {
            return lines;
        }
        for (const std::string& line : SplitCrLfLines(ReadFileBytes(m_traceFile))) {
            lines.push_back(ParseTraceLine(line));
        }
        return lines;
    }

    std::wstring m_traceFile;
    std::unique_ptr<RegistryValueOverride> m_traceFileValue;
    std::vector<std::pair<std::wstring, std::unique_ptr<RegistryValueOverride>>> m_values;
    std::vector<HMODULE> m_modules;
};

TEST_F(TestModulesTest, ModuleAnswersFromItsRegistryKeyAndTracesEveryCall)
{
    const HMODULE module = LoadModule(L"QxTestModuleA");
    ASSERT_NE(module, nullptr);
    const auto initialize = Resolve<QxSmInitializeFn>(module, "SmInitialize");
    const auto shutdown = Resolve<QxSmShutdownFn>(module, "SmShutdown");
    ASSERT_TRUE(initialize != nullptr && shutdown != nullptr);
    Value(L"QxTestModuleA", L"Result").SetDword(0x80004005);
    Value(L"QxTestModuleA", L"Flags").SetDword(1);

    const long long qpcBefore = QpcNow();
    std::uint32_t flags = 0;
    EXPECT_EQ(initialize(&flags), static_cast<HRESULT>(0x80004005));
    EXPECT_EQ(flags, 1u);
    shutdown();
    EXPECT_EQ(initialize(nullptr), static_cast<HRESULT>(0x80004005)) << "no flags to write through";
    const long long qpcAfter = QpcNow();

    const std::vector<TraceLine> lines = ReadTrace();
    ASSERT_EQ(lines.size(), 3u);
    const char* const events[] = {"SmInitialize flags=non-null", "SmShutdown", "SmInitialize flags=null"};
    long long previous = qpcBefore;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].module, "QxTestModuleA");
        EXPECT_EQ(lines[i].event, events[i]);
        EXPECT_EQ(lines[i].processId, GetCurrentProcessId());
        EXPECT_EQ(lines[i].threadId, GetCurrentThreadId());
        EXPECT_LE(previous, lines[i].qpc) << "line " << i;
        previous = lines[i].qpc;
    }
    EXPECT_LE(previous, qpcAfter);

    // Without Flags the flags stay as they were; without Result the start succeeds; a positive
    // result is passed on as it is.
    Value(L"QxTestModuleA", L"Flags").Remove();
    Value(L"QxTestModuleA", L"Result").Remove();
    flags = 0x55;
    EXPECT_EQ(initialize(&flags), S_OK);
    EXPECT_EQ(flags, 0x55u);
    Value(L"QxTestModuleA", L"Result").SetDword(1);
    EXPECT_EQ(initialize(&flags), S_FALSE);

    // The delay comes after the trace line, which therefore tells when the call began.
    Value(L"QxTestModuleA", L"Result").Remove();
    Value(L"QxTestModuleA", L"DelayMs").SetDword(300);
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    const long long delayStart = QpcNow();
    EXPECT_EQ(initialize(&flags), S_OK);
    const long long delayEnd = QpcNow();
    EXPECT_GE((delayEnd - delayStart) * 1000 / frequency.QuadPart, 300);
    const std::vector<TraceLine> delayed = ReadTrace();
    ASSERT_EQ(delayed.size(), 6u);
    EXPECT_GE(delayed.back().qpc, delayStart);
    EXPECT_LE((delayed.back().qpc - delayStart) * 1000 / frequency.QuadPart, 100);
}

// The planted module's first code is its DllMain, so its load line shows whether a copy ran at all.
TEST_F(TestModulesTest, PlantedModuleTracesItsLoading)
{
    const HMODULE module = LoadModule(L"QxTestPlantedModule");
    ASSERT_NE(module, nullptr);

    const std::vector<TraceLine> lines = ReadTrace();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].module, "QxTestPlantedModule");
    EXPECT_EQ(lines[0].event, "loaded from " + Qx::Testing::ToUtf8(Qx::Testing::ModulePath(module)));
    EXPECT_EQ(lines[0].processId, GetCurrentProcessId());
    EXPECT_EQ(lines[0].threadId, GetCurrentThreadId());
}

// Lines of different threads and modules must never mix or get lost. Under Wine, appends through
// FILE_APPEND_DATA handles alone are not atomic (unlike Windows): without the modules' trace mutex this
// test loses a line in most runs.
TEST_F(TestModulesTest, ConcurrentCallsTraceWholeLinesInCallOrder)
{
    std::vector<std::pair<QxSmInitializeFn, QxSmShutdownFn>> modules;
    for (const wchar_t* name : {L"QxTestModuleA", L"QxTestModuleB", L"QxTestModuleC"}) {
        const HMODULE module = LoadModule(name);
        ASSERT_NE(module, nullptr);
        modules.emplace_back(Resolve<QxSmInitializeFn>(module, "SmInitialize"),
                             Resolve<QxSmShutdownFn>(module, "SmShutdown"));
    }
    constexpr int kThreads = 4;
    constexpr int kRounds = 20;
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&modules] {
            for (int round = 0; round < kRounds; ++round) {
                for (const auto& [initialize, shutdown] : modules) {
                    std::uint32_t flags = 0;
                    initialize(&flags);
                    shutdown();
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    const std::vector<TraceLine> lines = ReadTrace();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kRounds * 3 * 2));
    std::map<DWORD, long long> lastQpcPerThread;
    std::map<std::pair<std::string, std::string>, int> counts;
    for (const TraceLine& line : lines) {
        EXPECT_EQ(line.processId, GetCurrentProcessId());
        EXPECT_TRUE(line.event == "SmInitialize flags=non-null" || line.event == "SmShutdown") << line.event;
        ++counts[{line.module, line.event}];
        long long& last = lastQpcPerThread[line.threadId];
        EXPECT_LE(last, line.qpc) << "lines of one thread out of order";
        last = line.qpc;
    }
    EXPECT_EQ(lastQpcPerThread.size(), static_cast<std::size_t>(kThreads));
    for (const char* module : {"QxTestModuleA", "QxTestModuleB", "QxTestModuleC"}) {
        EXPECT_EQ((counts[{module, "SmInitialize flags=non-null"}]), kThreads * kRounds) << module;
        EXPECT_EQ((counts[{module, "SmShutdown"}]), kThreads * kRounds) << module;
    }
    EXPECT_EQ(counts.size(), 6u);
}

TEST_F(TestModulesTest, IncompleteLibrariesLackExactlyOneExport)
{
    const HMODULE noShutdown = LoadModule(L"QxTestModuleNoShutdown");
    ASSERT_NE(noShutdown, nullptr);
    EXPECT_TRUE(LacksExport(noShutdown, "SmShutdown"));
    const auto initialize = Resolve<QxSmInitializeFn>(noShutdown, "SmInitialize");
    ASSERT_NE(initialize, nullptr);
    std::uint32_t flags = 0;
    EXPECT_EQ(initialize(&flags), S_OK);

    const HMODULE noInitialize = LoadModule(L"QxTestModuleNoInitialize");
    ASSERT_NE(noInitialize, nullptr);
    EXPECT_TRUE(LacksExport(noInitialize, "SmInitialize"));
    const auto shutdown = Resolve<QxSmShutdownFn>(noInitialize, "SmShutdown");
    ASSERT_NE(shutdown, nullptr);
    shutdown();

    const HMODULE watchdog = Load(L"QxTestWatchdogNoOnExit.dll");
    ASSERT_NE(watchdog, nullptr);
    EXPECT_TRUE(LacksExport(watchdog, "WAOnExit"));
    const auto init = Resolve<WAInitWFunction>(watchdog, "WAInitW");
    const auto deinit = Resolve<WAVoidFunction>(watchdog, "WADeinit");
    const auto onEnter = Resolve<WAVoidFunction>(watchdog, "WAOnEnter");
    ASSERT_TRUE(init != nullptr && deinit != nullptr && onEnter != nullptr);
    EXPECT_EQ(init(L"StandIns-Service"), 0);
    EXPECT_EQ(deinit(), 0);
    EXPECT_EQ(onEnter(), 0);

    const std::vector<TraceLine> lines = ReadTrace();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].module, "QxTestModuleNoShutdown");
    EXPECT_EQ(lines[0].event, "SmInitialize flags=non-null");
    EXPECT_EQ(lines[1].module, "QxTestModuleNoInitialize");
    EXPECT_EQ(lines[1].event, "SmShutdown");
    EXPECT_EQ(lines[2].module, "QxTestWatchdogNoOnExit");
    EXPECT_EQ(lines[2].event, "WAInitW StandIns-Service");
    EXPECT_EQ(lines[3].module, "QxTestWatchdogNoOnExit");
    EXPECT_EQ(lines[3].event, "WADeinit");
}

} // namespace
