// Files and registry values for the tests of the watchdog agent, the log compressor and the module
// libraries: everything lives beside this executable (the host's folder) or under HKEY_LOCAL_MACHINE
// and is put back as it was.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "RegistryValueOverride.h"
#include "TestFiles.h"
#include "TextLines.h"

namespace Qx::Testing {

inline std::wstring TempDirectory()
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(static_cast<DWORD>(std::size(path)), path);
    return std::wstring(path, length);
}

inline long long QpcNow()
{
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

// Runs work on threadCount threads at once, each given its number, and gives each thread's count
// of failed calls.
inline std::vector<int> FailuresOnThreads(int threadCount, const std::function<int(int thread)>& work)
{
    std::vector<int> failures(threadCount, 0);
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(threadCount));
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] { failures[t] = work(t); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return failures;
}

} // namespace Qx::Testing
