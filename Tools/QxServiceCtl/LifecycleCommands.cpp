#include <windows.h>

#include "CodeText.h"
#include "Commands.h"
#include "Console.h"
#include "ServiceControl.h"
#include "ServiceManager.h"

namespace QxServiceCtl {

namespace {

constexpr DWORD kLifecycleAccess = SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG;

std::uint64_t Milliseconds(std::uint32_t seconds)
{
    return std::uint64_t{seconds} * 1000;
}

const wchar_t* GoalWord(Goal goal)
{
    return goal == Goal::Running ? L"running" : L"stopped";
}

// What the change reached, on standard output: the process that runs, or a process that has ended
// while the service manager still reports otherwise.
void SayReached(const std::wstring& service, const StateChange& change, Goal goal)
{
    const ServiceState& state = change.last;
    const std::wstring word = GoalWord(goal);
    std::wstring line = L"service " + service + (change.already ? L" was " + word + L" already" : L" is " + word);
    if (goal == Goal::Running) {
        line += L" (process id " + std::to_wstring(state.status.dwProcessId) + L")";
    } else if (state.fate.ended && state.status.dwCurrentState != SERVICE_STOPPED) {
        line += L": its process has ended, though the service manager still reports it " +
                ServiceStateName(state.status.dwCurrentState);
    }
    Out(line);
}

// The exit code of a state change, with what it did on standard output or why it failed on standard
// error.
int Outcome(const wchar_t* command, const std::wstring& service, const StateChange& change, Goal goal,
            std::uint32_t waitSeconds)
{
    if (change.killedProcess) {
        Out(L"--kill-after: service " + service + L" did not stop in time: ended its process " +
            std::to_wstring(*change.killedProcess));
    }
    if (change.progress == Progress::Failed) {
        return Fail(command, L"service \"" + service + L"\": " + change.reason);
    }
    if (change.progress == Progress::Waiting) {
        Fail(command, L"service \"" + service + L"\" is not " + GoalWord(goal) + L" after " +
                          std::to_wstring(waitSeconds) + L" s: it is " + StateWords(change.last));
        return kExitTimedOut;
    }
    SayReached(service, change, goal);
    return kExitSuccess;
}

int StopAndSay(const wchar_t* command, const std::wstring& service, SC_HANDLE handle, const LifecycleOptions& options)
{
    std::optional<std::uint64_t> killAfter;
    if (options.killAfterSeconds) {
        killAfter = Milliseconds(*options.killAfterSeconds);
    }
    return Outcome(command, service, StopAndWait(handle, Milliseconds(options.waitSeconds), killAfter), Goal::Stopped,
                   options.waitSeconds);
}

int StartAndSay(const wchar_t* command, const std::wstring& service, SC_HANDLE handle, const LifecycleOptions& options)
{
    return Outcome(command, service, StartAndWait(handle, Milliseconds(options.waitSeconds)), Goal::Running,
                   options.waitSeconds);
}

} // namespace

int Lifecycle(const Command& command)
{
    static constexpr const wchar_t* kNames[] = {L"start", L"stop", L"restart"};
    const wchar_t* name = command.kind == CommandKind::Start  ? kNames[0]
                          : command.kind == CommandKind::Stop ? kNames[1]
                                                              : kNames[2];
    const OpenedService opened = OpenNamedService(command.target, kLifecycleAccess);
    if (!opened.handle) {
        Fail(name, opened.reason);
        return opened.missing ? kExitNoSuchService : kExitFailure;
    }
    if (command.kind == CommandKind::Start) {
        return StartAndSay(name, command.target, opened.handle.get(), command.lifecycle);
    }
    const int stopped = StopAndSay(name, command.target, opened.handle.get(), command.lifecycle);
    if (command.kind == CommandKind::Stop || stopped != kExitSuccess) {
        return stopped;
    }
    return StartAndSay(name, command.target, opened.handle.get(), command.lifecycle);
}

} // namespace QxServiceCtl
