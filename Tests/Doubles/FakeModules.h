// Fake service modules, watchdog agent and log compressor: libraries whose exports are plain
// functions of this process, recording every call with the calling thread.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "RecordedCalls.h"

namespace Qx::Testing {

struct ExportCall {
    std::string name; // e.g. "A.SmInitialize", "WAInitW", "Compressor.Shutdown"
    std::uint32_t threadId;
    std::wstring argument; // WAInitW's service name
};

// What the fake libraries do and what they were asked.
struct FakeExports : RecordedCalls<ExportCall> {
    static constexpr std::size_t kModules = 3;

    std::array<HRESULT, kModules> results{};
    std::array<std::uint32_t, kModules> flags{};
    // Runs inside SmInitialize of module i before it returns, e.g. to block or to poke the host.
    std::array<std::function<void()>, kModules> during;
    // Runs inside SmShutdown of module i.
    std::array<std::function<void()>, kModules> duringShutdown;
    HRESULT compressorResult = kSOk;

    void Reset();
    void Record(std::string name, std::wstring argument = {});
};

FakeExports& Exports();

// Adds module "A", "B" or "C" (index 0..2) under path with SmInitialize and SmShutdown; either
// can be left out.
FakeModule& AddFakeServiceModule(FakeLibraries& libraries, const std::wstring& path, std::size_t index,
                                 bool withInitialize = true, bool withShutdown = true);
// Adds QxWatchdogAgent.dll beside the fake host executable with its four exports, or without WAOnExit.
FakeModule& AddFakeWatchdogAgent(FakeLibraries& libraries, bool withOnExit = true);
// Adds a log compressor with Initialize and, optionally, Shutdown.
FakeModule& AddFakeLogCompressor(FakeLibraries& libraries, const std::wstring& path, bool withShutdown = true);

} // namespace Qx::Testing
