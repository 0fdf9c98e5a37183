// The options of start, stop and restart on the command line.
#include "CommandOptions.h"

namespace QxServiceCtl {

namespace {

// From the first option on. A kill needs time to be noticed, so --kill-after alone waits that long
// and the usual wait beyond it.
ParsedArguments ParseWaits(const std::vector<std::wstring>& arguments, std::size_t first, Command command)
{
    LifecycleOptions& options = std::get<LifecycleOptions>(command.options);
    OptionReader reader(arguments, first);
    std::optional<std::uint32_t> wait;
    std::wstring error;
    while (!reader.Done() && error.empty()) {
        const std::wstring& option = reader.Next();
        if (option == L"--wait") {
            wait = ParseSeconds(reader, L"--wait", error);
        } else if (option == L"--kill-after" && command.kind != CommandKind::Start) {
            options.killAfterSeconds = ParseSeconds(reader, L"--kill-after", error);
        } else if (option == L"--record" && options.allRunning) {
            options.record = ParseText(reader, L"--record", L"a file", error);
        } else {
            return Refuse(arguments[0] + L": unknown option " + Quoted(option));
        }
    }
    if (!error.empty()) {
        return Refuse(arguments[0] + L": " + error);
    }
    const std::optional<std::uint32_t> killAfter = options.killAfterSeconds;
    if (wait && killAfter && *killAfter >= *wait) {
        return Refuse(arguments[0] + L": --kill-after must be shorter than --wait, which counts from the stop request");
    }
    options.waitSeconds = wait.value_or(killAfter.value_or(0) + kDefaultWaitSeconds);
    return {std::move(command), {}};
}

// stop --all [--record FILE] and start --recorded FILE: the services of this host at once, for an
// upgrade of the host's files.
std::optional<ParsedArguments> ParseAllServices(const std::vector<std::wstring>& arguments, Command command)
{
    LifecycleOptions& options = std::get<LifecycleOptions>(command.options);
    if (command.kind == CommandKind::Stop && arguments[1] == L"--all") {
        options.allRunning = true;
        return ParseWaits(arguments, 2, std::move(command));
    }
    if (command.kind != CommandKind::Start || arguments[1] != L"--recorded") {
        return std::nullopt;
    }
    if (arguments.size() < 3) {
        return Refuse(L"start: --recorded needs the file a stop --all --record wrote");
    }
    options.record = arguments[2];
    return ParseWaits(arguments, 3, std::move(command));
}

} // namespace

ParsedArguments ParseLifecycle(const std::vector<std::wstring>& arguments, std::size_t first, Command command)
{
    command.options.emplace<LifecycleOptions>();
    if (arguments.size() > first) {
        if (auto all = ParseAllServices(arguments, command)) {
            return std::move(*all);
        }
    }
    if (auto refusal = TakeTarget(arguments, L"<service>", command)) {
        return std::move(*refusal);
    }
    return ParseWaits(arguments, first + 1, std::move(command));
}

} // namespace QxServiceCtl
