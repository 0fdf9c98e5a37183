// What most unit tests start from: the platform doubles with a recording logger in place, and the
// helpers that catch what the host raises and wait for what its threads do.
#pragma once

#include <chrono>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "RecordingLogger.h"
#include "ResKit/Logger/HRXEx.h"

namespace Qx::Testing {

class LoggedPlatformTest : public ::testing::Test {
protected:
    FakePlatform platform;
    RecordingLogger logger;
    ScopedLogger scopedLogger{logger};
};

// The HRXEx action raises, or none.
template <class Action>
std::optional<HRXEx> CaughtBy(Action action)
{
    try {
        action();
    } catch (const HRXEx& error) {
        return error;
    }
    return std::nullopt;
}

// The HRESULT action raises, or S_OK when it raises nothing.
template <class Action>
HRESULT RaisedBy(Action action)
{
    const auto error = CaughtBy(action);
    return error ? error->Result() : kSOk;
}

// Polls condition until it holds; false when it still does not after ten seconds.
template <class Condition>
bool Eventually(Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace Qx::Testing
