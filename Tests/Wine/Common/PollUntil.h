// Waiting in the Wine tests for something another process or thread brings about.
#pragma once

#include <windows.h>

namespace Qx::Testing {

inline constexpr DWORD kPollIntervalMs = 20;

// Asks done until it holds or timeoutMs have passed, sleeping alertably between the asks (so that a
// test's queued APCs run); true when it held. done is asked once more at the deadline.
template <typename Done>
bool PollUntil(Done&& done, ULONGLONG timeoutMs, DWORD intervalMs = kPollIntervalMs)
{
    const ULONGLONG started = GetTickCount64();
    while (!done()) {
        if (GetTickCount64() - started >= timeoutMs) {
            return done();
        }
        SleepEx(intervalMs, TRUE);
    }
    return true;
}

} // namespace Qx::Testing
