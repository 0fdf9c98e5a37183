#include <windows.h>

#include <string>
#include <vector>

#include "CodeText.h"
#include "Commands.h"
#include "Console.h"
#include "HostFiles.h"
#include "InstallRules.h"
#include "ServiceControl.h"
#include "ServiceManager.h"
#include "Win32Support/WideText.h"

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

// The names of the services of this host that run now; nullopt, with the reason, when the services
// cannot be listed.
std::optional<std::vector<std::wstring>> RunningHostServices(std::wstring& reason)
{
    const auto services = HostServices(reason);
    if (!services) {
        return std::nullopt;
    }
    std::vector<std::wstring> running;
    for (const HostService& service : *services) {
        const ServiceState& state = service.state;
        if (service.owner == HostOwner::ThisHost &&
            ProgressTowards(Goal::Stopped, state.status.dwCurrentState, state.fate.ended) != Progress::Reached) {
            running.push_back(service.name);
        }
    }
    return running;
}

// One name a line, UTF-8.
bool WriteRecord(HANDLE file, const std::vector<std::wstring>& names)
{
    std::wstring text;
    for (const std::wstring& name : names) {
        text += name + L"\r\n";
    }
    const std::string utf8 = Qx::Win32Support::ToUtf8(text);
    DWORD written = 0;
    return WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) != 0 &&
           written == utf8.size();
}

int RecordFailure(const std::wstring& path, DWORD error)
{
    return Fail(L"stop", L"the record " + path + L" cannot be written" + Win32Reason(error));
}

// stop --all: each service of this host that runs, one after another; a failure does not keep the
// others running. The services stopped go to the record, for start --recorded, which is created
// before anything is stopped: a record that cannot be written stops nothing.
int StopAll(const LifecycleOptions& options)
{
    std::wstring reason;
    const auto running = RunningHostServices(reason);
    if (!running) {
        return Fail(L"stop", reason);
    }
    UniqueKernelHandle record;
    if (options.record) {
        record.reset(CreateFileW(options.record->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!record) {
            return RecordFailure(*options.record, GetLastError());
        }
    }
    std::vector<std::wstring> stopped;
    int exitCode = kExitSuccess;
    for (const std::wstring& name : *running) {
        const OpenedService opened = OpenNamedService(name, kLifecycleAccess);
        const int result =
            opened.handle ? StopAndSay(L"stop", name, opened.handle.get(), options) : Fail(L"stop", opened.reason);
        if (result == kExitSuccess) {
            stopped.push_back(name);
        } else {
            exitCode = result;
        }
    }
    if (stopped.empty() && exitCode == kExitSuccess) {
        Out(L"no service of " + ToolFolder() + kHostFileName + L" runs");
    }
    if (record && !WriteRecord(record.get(), stopped)) {
        return RecordFailure(*options.record, GetLastError());
    }
    return exitCode;
}

// start --recorded: the services a stop --all wrote down; the record goes once each of them runs. No
// record, no service to start: nothing ran when it was made, or nothing made one. A record that is
// there but cannot be read fails: the services it names would stay stopped.
int StartRecorded(const LifecycleOptions& options)
{
    const std::wstring& path = *options.record;
    std::uint32_t error = 0;
    const auto names = ReadLines(path, error);
    if (!names && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
        Out(L"no record at " + path + L": no service to start");
        return kExitSuccess;
    }
    if (!names) {
        return Fail(L"start", L"the record " + path + L" cannot be read" + Win32Reason(error));
    }
    int exitCode = kExitSuccess;
    for (const std::wstring& name : *names) {
        if (name.empty()) {
            continue;
        }
        const OpenedService opened = OpenNamedService(name, kLifecycleAccess);
        const int result =
            opened.handle ? StartAndSay(L"start", name, opened.handle.get(), options) : Fail(L"start", opened.reason);
        exitCode = result == kExitSuccess ? exitCode : result;
    }
    if (exitCode == kExitSuccess) {
        DeleteFileW(path.c_str());
    }
    return exitCode;
}

int Lifecycle(const Command& command)
{
    const LifecycleOptions& options = command.Get<LifecycleOptions>();
    if (options.allRunning) {
        return StopAll(options);
    }
    if (command.kind == CommandKind::Start && options.record) {
        return StartRecorded(options);
    }
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
        return StartAndSay(name, command.target, opened.handle.get(), options);
    }
    const int stopped = StopAndSay(name, command.target, opened.handle.get(), options);
    if (command.kind == CommandKind::Stop || stopped != kExitSuccess) {
        return stopped;
    }
    return StartAndSay(name, command.target, opened.handle.get(), options);
}

} // namespace

const CommandEntry kStartCommand{
    CommandKind::Start,
    {L"QxServiceCtl start <service> [--wait SECONDS]",
     L"    Starts the service and waits (30 s unless given) until it runs; a start that fails is named."},
    &Lifecycle};

const CommandEntry kStopCommand{
    CommandKind::Stop,
    {L"QxServiceCtl stop <service> [--wait SECONDS] [--kill-after SECONDS]",
     L"    Asks the service to stop and waits until it has stopped or its process has ended. With",
     L"    --kill-after, the operator's choice, its process is ended after that long, and this is said;",
     L"    the wait then defaults to 30 s beyond it.",
     L"QxServiceCtl stop --all [--record FILE] [--wait SECONDS] [--kill-after SECONDS]",
     L"QxServiceCtl start --recorded FILE [--wait SECONDS]",
     L"    Every running service of this host stopped one after another, their names written to FILE;",
     L"    then those services started again, and FILE removed once all run: the product's package",
     L"    does this around an upgrade of the host's files."},
    &Lifecycle};

const CommandEntry kRestartCommand{
    CommandKind::Restart,
    {L"QxServiceCtl restart <service> [--wait SECONDS] [--kill-after SECONDS]",
     L"    stop, then start, each waiting as they do.",
     L"    start, stop and restart exit 0 once the state is reached, 1 on a failure, 4 when there is no",
     L"    such service, 5 when the wait ran out."},
    &Lifecycle};

} // namespace QxServiceCtl
