// Telling Wine from Windows in the Wine tests. Where Wine is known to answer differently, a test
// states what Windows does as a condition and checks it with ExpectWindowsBehaviour, as Wine's own
// tests mark theirs todo_wine: on Wine the condition must still fail, so a Wine that has caught up
// fails the test and the difference gets retired instead of lingering. The strict check of what Wine
// does now stays beside it, guarded by RunningOnWine.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <iostream>
#include <string_view>

#include "CheckSite.h"

namespace Qx::Testing {

inline bool RunningOnWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// On Windows an ordinary expectation of windowsBehaviour. On Wine, where difference describes what
// Wine does instead, windowsBehaviour is expected to fail: that is printed, and its success is a test
// failure. Failures are reported at the caller's line.
inline void ExpectWindowsBehaviour(const ::testing::AssertionResult& windowsBehaviour, std::string_view difference,
                                   CheckSite where = CheckSite::Here())
{
    if (!RunningOnWine()) {
        if (!windowsBehaviour) {
            ADD_FAILURE_AT(where.file, where.line)
                << "Windows behaviour not seen (Wine: " << difference << "): " << windowsBehaviour.message();
        }
        return;
    }
    if (windowsBehaviour) {
        ADD_FAILURE_AT(where.file, where.line) << "Wine now behaves like Windows: " << difference;
        return;
    }
    std::cout << "[   WINE   ] " << difference << "\n";
}

inline void ExpectWindowsBehaviour(bool windowsBehaviour, std::string_view difference,
                                   CheckSite where = CheckSite::Here())
{
    ExpectWindowsBehaviour(::testing::AssertionResult(windowsBehaviour), difference, where);
}

// Only an explanation, for a difference that no condition in the test can show: why a test does
// something else on one of the two systems. Nothing is checked; a Wine that changes goes unnoticed
// here, so prefer ExpectWindowsBehaviour wherever the Windows behaviour can be observed.
inline void ExplainWineDifference(std::string_view difference)
{
    std::cout << "[   WINE   ] " << difference << "\n";
}

// Launches a process through create, a CreateProcessW call, and once more when it failed with
// ERROR_INTERNAL_ERROR: Wine did so a few times while many test processes ran at once, and made no
// process then; its service manager, which launches a service's process the same way, then fails
// StartServiceW with that error. The repeat is said; any other failure stays one.
template <class Create>
bool LaunchedDespiteWineInternalError(Create create)
{
    if (create()) {
        return true;
    }
    if (GetLastError() != ERROR_INTERNAL_ERROR) {
        return false;
    }
    std::cout << "[   WINE   ] the launch failed with ERROR_INTERNAL_ERROR; launching again\n";
    return create();
}

inline bool ServiceStartedDespiteWineInternalError(SC_HANDLE service)
{
    return LaunchedDespiteWineInternalError([service] { return StartServiceW(service, 0, nullptr) != 0; });
}

} // namespace Qx::Testing
