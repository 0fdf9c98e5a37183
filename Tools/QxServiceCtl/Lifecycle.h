// What start, stop and restart wait for, decided from the service manager's state and the fate of
// the process it names: Wine's service manager keeps a service whose process ended in its last state.
#pragma once

#include <cstdint>

namespace QxServiceCtl {

enum class Goal { Running, Stopped };
enum class Progress { Reached, Waiting, Failed };

// The SERVICE_* state values.
inline constexpr std::uint32_t kStateStopped = 1;
inline constexpr std::uint32_t kStateStartPending = 2;
inline constexpr std::uint32_t kStateStopPending = 3;
inline constexpr std::uint32_t kStateRunning = 4;

// A service is running only while its process lives, and stopped once its process has ended, whatever
// state the service manager still reports. A start fails when the service stops or its process ends.
Progress ProgressTowards(Goal goal, std::uint32_t state, bool processEnded);

// The exit codes of start, stop and restart besides success and failure; 4 as status has it.
inline constexpr int kExitNoSuchService = 4;
inline constexpr int kExitTimedOut = 5;

} // namespace QxServiceCtl
