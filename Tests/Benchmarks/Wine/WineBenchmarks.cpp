// What the host costs under Wine, side by side with the least a service can do. Prints numbers and
// ratios; nothing here passes or fails by time.
//
//     QxWineBenchmarks.exe [--rounds=<n>] [--idle-seconds=<s>]
//
// The runs happen in the folder Benchmarks\ below the executable's, which receives the host, its
// logger and message library, the yardsticks and one copy of the trivial module per name. Every
// service is installed under a name holding this process's id and deleted at the end.
//
// - Start and stop, with 1, 20 and 100 trivial modules: StartServiceW to SERVICE_RUNNING and the
//   stop control to SERVICE_STOPPED, the state polled every millisecond, and the stop control to the
//   end of the process, waited for on a thread; also the time until StartServiceW returns, once the
//   service's dispatcher has connected.
//   The host runs beside the minimal service without modules, beside the minimal service that
//   loads the same modules (the loader's own cost) and beside the same loading them on a thread of
//   their own as the host does, in rounds of A B C D, A B C D, ...; for 100 modules the host also
//   runs at log level 0. At RUNNING the resident memory (working set) and the
//   handle count of the service process are taken too.
// - Idle CPU: the host and the minimal service, each with one module, both running for the idle
//   time; the CPU time each process used meanwhile.
// - Crash to dump: the host whose test module faults in SmInitialize against the bare program that
//   writes its own dump, from the fault (the counter value each writes just before it) to the end of
//   the process. Both write the dump from the faulting process, so the dump is whole once that
//   process has ended; the run checks that the dump then exists and is not empty.
//
// The host's log level is 3 unless said otherwise; the crash runs leave nothing behind.
//
// The summary lines "GOAL|<measure>|<measured>|<goal>" are for scripts/bench.sh.
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Platform/Win32/UniqueWin32Handles.h"
#include "ProcessHandles.h"
#include "TestFiles.h"

using Qx::Platform::UniqueFindHandle;
using Qx::Platform::UniqueKernelHandle;
using Qx::Platform::UniqueServiceHandle;
using namespace Qx::Testing;

namespace {

constexpr DWORD kDisplayNameMessage = 3;
constexpr double kTimeoutMs = 60000;
constexpr const wchar_t* kServicesKey = L"SYSTEM\\CurrentControlSet\\Services\\";
constexpr const wchar_t* kLoggerServicesKey = L"SOFTWARE\\Qx\\QxLogger\\Services\\";
constexpr const wchar_t* kCrashModule = L"QxTestModuleA";
constexpr std::size_t kModuleCounts[] = {1, 20, 100};
constexpr std::size_t kMostModules = 100;
constexpr double kBytesPerMegabyte = 1024.0 * 1024.0;

struct Options {
    unsigned rounds = 15;
    unsigned idleSeconds = 60;
};

std::optional<unsigned> NumberAfter(std::wstring_view argument, std::wstring_view prefix)
{
    if (argument.substr(0, prefix.size()) != prefix || argument.size() == prefix.size()) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const wchar_t digit : argument.substr(prefix.size())) {
        if (digit < L'0' || digit > L'9' || value > 1000000) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(digit - L'0');
    }
    return value;
}

std::optional<Options> ParseOptions(int argc, wchar_t** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        if (const auto rounds = NumberAfter(argv[i], L"--rounds="); rounds && *rounds > 0) {
            options.rounds = *rounds;
        } else if (const auto seconds = NumberAfter(argv[i], L"--idle-seconds=")) {
            options.idleSeconds = *seconds;
        } else {
            return std::nullopt;
        }
    }
    return options;
}

double CounterFrequency()
{
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart);
}

long long Counter()
{
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

double MillisecondsBetween(long long from, long long to)
{
    static const double frequency = CounterFrequency();
    return static_cast<double>(to - from) * 1000.0 / frequency;
}

double MillisecondsSince(long long from)
{
    return MillisecondsBetween(from, Counter());
}

// Module names short enough for 100 of them to fit the host's list of at most 259 characters: one
// character each first, then two. The loader appends ".dll" to a name without an extension.
std::vector<std::wstring> ModuleNames()
{
    const std::wstring_view singles = L"0123456789abcdefghijklmnopqrstuvwxyz_#@$!";
    const std::wstring_view alphabet = L"0123456789abcdefghijklmnopqrstuvwxyz";
    std::vector<std::wstring> names;
    for (const wchar_t single : singles) {
        names.emplace_back(1, single);
    }
    for (const wchar_t first : alphabet) {
        for (const wchar_t second : alphabet) {
            if (names.size() == kMostModules) {
                return names;
            }
            names.push_back({first, second});
        }
    }
    return names;
}

std::wstring ModuleList(const std::vector<std::wstring>& names, std::size_t count)
{
    std::wstring list;
    for (std::size_t i = 0; i < count; ++i) {
        list += (i == 0 ? L"" : L";") + names[i];
    }
    return list;
}

bool SetString(const std::wstring& key, const wchar_t* name, DWORD type, std::wstring_view value)
{
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, type, value.data(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool SetDword(const std::wstring& key, const wchar_t* name, DWORD value)
{
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_DWORD, &value, sizeof(value)) == ERROR_SUCCESS;
}

bool Copy(const std::wstring& from, const std::wstring& to)
{
    if (CopyFileW(from.c_str(), to.c_str(), FALSE) != 0) {
        return true;
    }
    std::fprintf(stderr, "cannot copy %s to %s: %lu\n", ToUtf8(from).c_str(), ToUtf8(to).c_str(), GetLastError());
    return false;
}

void DeleteFiles(const std::wstring& folder, const wchar_t* pattern)
{
    WIN32_FIND_DATAW found{};
    const UniqueFindHandle search(FindFirstFileW((folder + pattern).c_str(), &found));
    if (!search) {
        return;
    }
    do {
        DeleteFileW((folder + found.cFileName).c_str());
    } while (FindNextFileW(search.get(), &found) != 0);
}

// The size of the first file matching pattern in folder; nullopt when there is none.
std::optional<ULONGLONG> FirstFileSize(const std::wstring& folder, const wchar_t* pattern)
{
    WIN32_FIND_DATAW found{};
    if (!UniqueFindHandle(FindFirstFileW((folder + pattern).c_str(), &found))) {
        return std::nullopt;
    }
    return (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32u) | found.nFileSizeLow;
}

double Median(std::vector<double> values)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double Minimum(const std::vector<double>& values)
{
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

// One start and stop of a service.
struct Sample {
    double connectedMs = 0; // StartServiceW returned: the service's dispatcher has connected
    double startMs = 0;
    double stoppedMs = 0;
    double exitMs = 0;
    double residentMb = 0;
    double handles = 0;
};

// What a service process used of the CPU so far, in milliseconds. Wine answers zero times to
// GetProcessTimes for any process but the caller, so under Wine the times come from the Unix
// process's /proc/<pid>/stat, found by the service name on its command line.
std::optional<double> CpuFromProc(const std::wstring& service)
{
    constexpr double kMillisecondsPerTick = 10; // USER_HZ is 100 on Linux
    WIN32_FIND_DATAW found{};
    const UniqueFindHandle search(FindFirstFileW(L"Z:\\proc\\*", &found));
    if (!search) {
        return std::nullopt;
    }
    // The service name as a whole word: after "-name=" for the host, after a space for the minimal
    // service.
    std::string word = ToUtf8(service);
    word += ' ';
    std::optional<double> result;
    do {
        const std::wstring process = found.cFileName;
        if (process.find_first_not_of(L"0123456789") != std::wstring::npos) {
            continue;
        }
        std::optional<std::string> commandLine = ReadWholeFile(L"Z:\\proc\\" + process + L"\\cmdline");
        if (!commandLine) {
            continue;
        }
        std::replace(commandLine->begin(), commandLine->end(), '\0', ' ');
        *commandLine += ' ';
        const std::size_t at = commandLine->find(word);
        if (at == std::string::npos || at == 0 || ((*commandLine)[at - 1] != ' ' && (*commandLine)[at - 1] != '=')) {
            continue;
        }
        const std::optional<std::string> stat = ReadWholeFile(L"Z:\\proc\\" + process + L"\\stat");
        const std::size_t afterName = stat ? stat->rfind(')') : std::string::npos;
        if (afterName == std::string::npos) {
            continue;
        }
        // After the name: state (3), then fields 4 to 13, then utime (14) and stime (15).
        const char* field = stat->c_str() + afterName + 2;
        for (int skipped = 3; skipped < 14; ++skipped) {
            field = std::strchr(field, ' ');
            if (field == nullptr) {
                break;
            }
            ++field;
        }
        if (field != nullptr) {
            char* end = nullptr;
            const double user = std::strtod(field, &end);
            const double kernel = std::strtod(end, nullptr);
            result = (user + kernel) * kMillisecondsPerTick;
        }
        break;
    } while (FindNextFileW(search.get(), &found) != 0);
    return result;
}

std::optional<double> CpuMilliseconds(HANDLE process, const std::wstring& service)
{
    if (const std::optional<double> fromProc = CpuFromProc(service)) {
        return fromProc;
    }
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (GetProcessTimes(process, &created, &exited, &kernel, &user) == 0) {
        return std::nullopt;
    }
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32u) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

class Benchmarks {
public:
    Benchmarks(Options options, std::wstring bin)
        : m_options(options), m_bin(std::move(bin)), m_folder(m_bin + L"Benchmarks\\"), m_names(ModuleNames()),
          m_prefix(L"QxBench" + std::to_wstring(GetCurrentProcessId()))
    {
    }
    Benchmarks(const Benchmarks&) = delete;
    Benchmarks& operator=(const Benchmarks&) = delete;
    ~Benchmarks()
    {
        for (const std::wstring& service : m_services) {
            Delete(service);
        }
    }

    bool Prepare();
    bool RunStartAndStop();
    bool RunIdle();
    bool RunCrash();
    void PrintGoals() const;

private:
    struct Variant {
        std::string label;
        UniqueServiceHandle service;
        std::vector<Sample> samples;
    };

    UniqueServiceHandle Install(const std::wstring& service, const std::wstring& binaryPath);
    UniqueServiceHandle InstallHost(const std::wstring& service, const std::wstring& modules, DWORD logLevel);
    UniqueServiceHandle InstallMinimal(const std::wstring& service, const std::wstring& modules,
                                       bool onAThread = false);
    void Delete(const std::wstring& service);
    static bool WaitForState(SC_HANDLE service, DWORD state, SERVICE_STATUS_PROCESS& status);
    static std::optional<Sample> RunOnce(SC_HANDLE service);
    std::optional<double> CrashHost(unsigned round);
    std::optional<double> CrashSelf();

    Options m_options;
    std::wstring m_bin;
    std::wstring m_folder;
    std::vector<std::wstring> m_names;
    std::wstring m_prefix;
    UniqueServiceHandle m_manager;
    std::vector<std::wstring> m_services;
    // Paired ratios host / loader per module count, and the 100-module host at level 3 / level 0.
    std::vector<double> m_startRatios;
    std::vector<double> m_exitRatios;
    std::vector<double> m_residentRatios;
    double m_levelRatio = 0;
    std::optional<double> m_idleExcessMs;
    std::optional<double> m_crashRatio;
    double m_dumpBytes = 0;
    double m_selfDumpBytes = 0;
};

bool Benchmarks::Prepare()
{
    m_manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!m_manager) {
        std::fprintf(stderr, "OpenSCManagerW failed: %lu\n", GetLastError());
        return false;
    }
    CreateDirectoryW(m_folder.c_str(), nullptr);
    // Every run starts from the same folder: no dumps or logs of earlier runs.
    DeleteFiles(m_folder, L"*.dmp");
    DeleteFiles(m_folder + L"Logs\\", L"*.log");
    for (const wchar_t* file : {L"QxServiceHost.exe", L"QxLogger.dll", L"QxMessages.dll", L"QxBenchMinimalService.exe",
                                L"QxBenchCrashSelf.exe", L"QxTestModuleA.dll"}) {
        if (!Copy(m_bin + file, m_folder + file)) {
            return false;
        }
    }
    return std::ranges::all_of(m_names, [this](const std::wstring& name) {
        return Copy(m_bin + L"QxBenchModule.dll", m_folder + name + L".dll");
    });
}

UniqueServiceHandle Benchmarks::Install(const std::wstring& service, const std::wstring& binaryPath)
{
    UniqueServiceHandle handle(CreateServiceW(m_manager.get(), service.c_str(), service.c_str(), SERVICE_ALL_ACCESS,
                                              SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                              binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!handle) {
        std::fprintf(stderr, "CreateServiceW %s failed: %lu\n", ToUtf8(service).c_str(), GetLastError());
        return handle;
    }
    m_services.push_back(service);
    return handle;
}

// The host's log level is set for the service alone, so that other runs in the prefix keep theirs.
UniqueServiceHandle Benchmarks::InstallHost(const std::wstring& service, const std::wstring& modules, DWORD logLevel)
{
    const std::wstring parameters = kServicesKey + service + L"\\Parameters";
    if (!SetString(parameters, L"ServiceModules", REG_SZ, modules) ||
        !SetDword(parameters, L"ServiceName", kDisplayNameMessage) ||
        !SetDword(kLoggerServicesKey + service, L"LogLevel", logLevel)) {
        std::fprintf(stderr, "cannot write the parameters of %s\n", ToUtf8(service).c_str());
        return {};
    }
    return Install(service, L"\"" + m_folder + L"QxServiceHost.exe\" -name=" + service);
}

UniqueServiceHandle Benchmarks::InstallMinimal(const std::wstring& service, const std::wstring& modules, bool onAThread)
{
    std::wstring binaryPath = L"\"" + m_folder + L"QxBenchMinimalService.exe\" " + service;
    if (!modules.empty()) {
        binaryPath += L" " + modules;
    }
    if (onAThread) {
        binaryPath += L" --on-a-thread";
    }
    return Install(service, binaryPath);
}

void Benchmarks::Delete(const std::wstring& service)
{
    const UniqueServiceHandle handle(OpenServiceW(m_manager.get(), service.c_str(), SERVICE_ALL_ACCESS));
    if (handle) {
        SERVICE_STATUS status{};
        ControlService(handle.get(), SERVICE_CONTROL_STOP, &status);
        DeleteService(handle.get());
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kServicesKey + service).c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kLoggerServicesKey + service).c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kServicesKey + service).c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kLoggerServicesKey + service).c_str());
    // The logs go too: a Logs folder that grows with every run would slow the host's later starts
    // under Wine, where a name that is not there costs a search of the whole folder.
    DeleteFiles(m_folder + L"Logs\\", (service + L"(*.log").c_str());
}

// Polls every millisecond; false when the service stops before reaching state, or on time-out.
bool Benchmarks::WaitForState(SC_HANDLE service, DWORD state, SERVICE_STATUS_PROCESS& status)
{
    const long long begin = Counter();
    for (;;) {
        DWORD needed = 0;
        if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                                 &needed) == 0) {
            return false;
        }
        if (status.dwCurrentState == state) {
            return true;
        }
        if (status.dwCurrentState == SERVICE_STOPPED || MillisecondsSince(begin) > kTimeoutMs) {
            std::fprintf(stderr, "the service did not reach state %lu: state %lu, exit code 0x%08lX\n", state,
                         status.dwCurrentState, status.dwWin32ExitCode);
            return false;
        }
        Sleep(1);
    }
}

// Returns as the process ends, so that its end is timed when it happens; false on time-out.
bool WaitForExit(HANDLE process)
{
    return WaitForSingleObject(process, static_cast<DWORD>(kTimeoutMs)) == WAIT_OBJECT_0;
}

std::optional<Sample> Benchmarks::RunOnce(SC_HANDLE service)
{
    Sample sample;
    SERVICE_STATUS_PROCESS status{};
    const long long started = Counter();
    if (StartServiceW(service, 0, nullptr) == 0) {
        std::fprintf(stderr, "StartServiceW failed: %lu\n", GetLastError());
        return std::nullopt;
    }
    sample.connectedMs = MillisecondsSince(started);
    if (!WaitForState(service, SERVICE_RUNNING, status)) {
        return std::nullopt;
    }
    sample.startMs = MillisecondsSince(started);
    const UniqueKernelHandle process(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, status.dwProcessId));
    if (!process) {
        std::fprintf(stderr, "OpenProcess failed: %lu\n", GetLastError());
        return std::nullopt;
    }
    PROCESS_MEMORY_COUNTERS memory{};
    if (GetProcessMemoryInfo(process.get(), &memory, sizeof(memory))) {
        sample.residentMb = static_cast<double>(memory.WorkingSetSize) / kBytesPerMegabyte;
    }
    sample.handles = static_cast<double>(Qx::Testing::CountProcessHandles(status.dwProcessId).value_or(0));
    const long long stopped = Counter();
    SERVICE_STATUS control{};
    if (ControlService(service, SERVICE_CONTROL_STOP, &control) == 0) {
        std::fprintf(stderr, "ControlService failed: %lu\n", GetLastError());
        return std::nullopt;
    }
    // A thread of its own waits for the process's end, so that an end that comes while the state
    // poll sleeps is timed when it happens, not at the next poll.
    std::optional<double> exitMs;
    std::thread exitWaiter([&] {
        if (WaitForExit(process.get())) {
            exitMs = MillisecondsSince(stopped);
        }
    });
    const bool stoppedSeen = WaitForState(service, SERVICE_STOPPED, status);
    sample.stoppedMs = MillisecondsSince(stopped);
    exitWaiter.join();
    if (!stoppedSeen) {
        return std::nullopt;
    }
    if (!exitMs) {
        std::fprintf(stderr, "the service process did not end\n");
        return std::nullopt;
    }
    sample.exitMs = *exitMs;
    return sample;
}

template <typename Field>
std::vector<double> Values(const std::vector<Sample>& samples, Field field)
{
    std::vector<double> values;
    values.reserve(samples.size());
    for (const Sample& sample : samples) {
        values.push_back(sample.*field);
    }
    return values;
}

// The median of the ratios a[i] / b[i] of samples taken in the same round.
template <typename Field>
double PairedRatio(const std::vector<Sample>& a, const std::vector<Sample>& b, Field field)
{
    std::vector<double> ratios;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        if (b[i].*field > 0) {
            ratios.push_back(a[i].*field / b[i].*field);
        }
    }
    return Median(ratios);
}

bool Benchmarks::RunStartAndStop()
{
    for (const std::size_t count : kModuleCounts) {
        const std::wstring modules = ModuleList(m_names, count);
        const std::wstring tag = std::to_wstring(count);
        std::vector<Variant> variants;
        variants.push_back({"minimal service, no module", InstallMinimal(m_prefix + L"Bare" + tag, {}), {}});
        variants.push_back({"minimal service + modules", InstallMinimal(m_prefix + L"Loader" + tag, modules), {}});
        variants.push_back({"host, log level 3", InstallHost(m_prefix + L"Host" + tag, modules, 3), {}});
        if (count == kMostModules) {
            variants.push_back({"host, log level 0", InstallHost(m_prefix + L"Quiet" + tag, modules, 0), {}});
        }
        variants.push_back(
            {"minimal, modules on a thread", InstallMinimal(m_prefix + L"Threaded" + tag, modules, true), {}});
        if (std::any_of(variants.begin(), variants.end(), [](const Variant& v) { return !v.service; })) {
            return false;
        }
        for (unsigned round = 0; round < m_options.rounds; ++round) {
            for (Variant& variant : variants) {
                const std::optional<Sample> sample = RunOnce(variant.service.get());
                if (!sample) {
                    std::fprintf(stderr, "%s with %zu modules failed in round %u\n", variant.label.c_str(), count,
                                 round + 1);
                    return false;
                }
                variant.samples.push_back(*sample);
            }
        }
        std::printf("\n%zu module(s), %u rounds: median / minimum\n", count, m_options.rounds);
        std::printf("  %-28s %21s %21s %21s %21s %15s %9s\n", "", "dispatcher in ms", "start to RUNNING ms",
                    "stop to STOPPED ms", "stop to exit ms", "resident MB", "handles");
        for (const Variant& variant : variants) {
            const auto row = [&](double Sample::*field) {
                const std::vector<double> values = Values(variant.samples, field);
                std::printf(" %10.2f / %8.2f", Median(values), Minimum(values));
            };
            std::printf("  %-28s", variant.label.c_str());
            row(&Sample::connectedMs);
            row(&Sample::startMs);
            row(&Sample::stoppedMs);
            row(&Sample::exitMs);
            std::printf(" %6.1f / %6.1f", Median(Values(variant.samples, &Sample::residentMb)),
                        Minimum(Values(variant.samples, &Sample::residentMb)));
            std::printf(" %9.0f\n", Median(Values(variant.samples, &Sample::handles)));
        }
        const std::vector<Sample>& bare = variants[0].samples;
        const std::vector<Sample>& loader = variants[1].samples;
        const std::vector<Sample>& host = variants[2].samples;
        std::printf("  paired ratios (median)       start      stop to exit   resident\n");
        std::printf("  host / minimal + modules  %8.3f %16.3f %10.3f\n", PairedRatio(host, loader, &Sample::startMs),
                    PairedRatio(host, loader, &Sample::exitMs), PairedRatio(host, loader, &Sample::residentMb));
        std::printf("  host / minimal, no module %8.3f %16.3f %10.3f\n", PairedRatio(host, bare, &Sample::startMs),
                    PairedRatio(host, bare, &Sample::exitMs), PairedRatio(host, bare, &Sample::residentMb));
        m_startRatios.push_back(PairedRatio(host, loader, &Sample::startMs));
        m_exitRatios.push_back(PairedRatio(host, loader, &Sample::exitMs));
        m_residentRatios.push_back(PairedRatio(host, loader, &Sample::residentMb));
        const std::vector<Sample>& threaded = variants.back().samples;
        std::printf("  host / modules on a thread%8.3f %16.3f %10.3f\n", PairedRatio(host, threaded, &Sample::startMs),
                    PairedRatio(host, threaded, &Sample::exitMs), PairedRatio(host, threaded, &Sample::residentMb));
        if (count == kMostModules) {
            m_levelRatio = PairedRatio(host, variants[3].samples, &Sample::startMs);
            std::printf("  host level 3 / level 0    %8.3f %16.3f %10.3f\n", m_levelRatio,
                        PairedRatio(host, variants[3].samples, &Sample::exitMs),
                        PairedRatio(host, variants[3].samples, &Sample::residentMb));
        }
        std::fflush(stdout);
    }
    return true;
}

bool Benchmarks::RunIdle()
{
    const std::wstring module = ModuleList(m_names, 1);
    const std::wstring names[] = {m_prefix + L"IdleHost", m_prefix + L"IdleLoader"};
    const UniqueServiceHandle host = InstallHost(names[0], module, 3);
    const UniqueServiceHandle minimal = InstallMinimal(names[1], module);
    if (!host || !minimal) {
        return false;
    }
    std::vector<UniqueKernelHandle> processes;
    for (const SC_HANDLE service : {host.get(), minimal.get()}) {
        SERVICE_STATUS_PROCESS status{};
        if ((StartServiceW(service, 0, nullptr) == 0) || !WaitForState(service, SERVICE_RUNNING, status)) {
            std::fprintf(stderr, "the idle services did not start\n");
            return false;
        }
        processes.emplace_back(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, status.dwProcessId));
    }
    const bool fromProc = CpuFromProc(names[0]).has_value();
    std::vector<double> before;
    for (std::size_t i = 0; i < processes.size(); ++i) {
        before.push_back(CpuMilliseconds(processes[i].get(), names[i]).value_or(0));
    }
    Sleep(m_options.idleSeconds * 1000);
    std::vector<double> used;
    for (std::size_t i = 0; i < processes.size(); ++i) {
        used.push_back(CpuMilliseconds(processes[i].get(), names[i]).value_or(0) - before[i]);
    }
    for (const SC_HANDLE service : {host.get(), minimal.get()}) {
        SERVICE_STATUS control{};
        SERVICE_STATUS_PROCESS status{};
        ControlService(service, SERVICE_CONTROL_STOP, &control);
        WaitForState(service, SERVICE_STOPPED, status);
    }
    std::printf("\nidle for %u s with one module: CPU used (%s)\n", m_options.idleSeconds,
                fromProc ? "user and system time of /proc/<pid>/stat, 10 ms ticks" : "GetProcessTimes");
    std::printf("  host                        %8.1f ms\n", used[0]);
    std::printf("  minimal service + module    %8.1f ms\n", used[1]);
    m_idleExcessMs = used[0] - used[1];
    std::fflush(stdout);
    return true;
}

std::wstring TempFolder()
{
    std::wstring path(MAX_PATH + 1, L'\0');
    path.resize(GetTempPathW(static_cast<DWORD>(path.size()), path.data()));
    return path;
}

// From the fault in the host's test module to the end of the host process, with the dump written.
// The host writes its dump into the temporary folder, named after the service.
std::optional<double> Benchmarks::CrashHost(unsigned round)
{
    const std::wstring service = m_prefix + L"Crash" + std::to_wstring(round);
    const std::wstring dumps = TempFolder();
    const std::wstring dumpPattern = service + L"_*.dmp";
    const std::wstring trace = m_folder + service + L".trace";
    const std::wstring serviceKey = kServicesKey + service;
    const UniqueServiceHandle handle = InstallHost(service, std::wstring(kCrashModule) + L".dll", 3);
    if (!handle || !SetString(serviceKey + L"\\TestModules", L"TraceFile", REG_SZ, trace) ||
        !SetDword(serviceKey + L"\\TestModules\\" + kCrashModule, L"Crash", 1)) {
        return std::nullopt;
    }
    std::optional<double> result;
    if (StartServiceW(handle.get(), 0, nullptr) != 0) {
        UniqueKernelHandle process;
        const long long begin = Counter();
        while (!process && MillisecondsSince(begin) < kTimeoutMs) {
            SERVICE_STATUS_PROCESS status{};
            DWORD needed = 0;
            if ((QueryServiceStatusEx(handle.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                      sizeof(status), &needed) != 0) &&
                status.dwProcessId != 0) {
                process.reset(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
            }
            if (!process) {
                Sleep(1);
            }
        }
        if (process && WaitForExit(process.get())) {
            const long long ended = Counter();
            const std::optional<std::string> lines = ReadWholeFile(trace);
            const std::optional<ULONGLONG> size = FirstFileSize(dumps, dumpPattern.c_str());
            if (lines && !lines->empty() && size && *size > 0) {
                result = MillisecondsBetween(std::strtoll(lines->c_str(), nullptr, 10), ended);
                m_dumpBytes = static_cast<double>(*size);
            }
        }
    }
    if (!result) {
        std::fprintf(stderr, "the host's crash in round %u left no dump or no trace\n", round + 1);
    }
    DeleteFiles(dumps, dumpPattern.c_str());
    DeleteFileW(trace.c_str());
    return result;
}

// From the fault in the bare program to its end, with its own dump written.
std::optional<double> Benchmarks::CrashSelf()
{
    const std::wstring dump = m_folder + m_prefix + L"Self.dmp";
    const std::wstring counter = m_folder + m_prefix + L"Self.counter";
    DeleteFileW(dump.c_str());
    DeleteFileW(counter.c_str());
    std::wstring commandLine = L"\"" + m_folder + L"QxBenchCrashSelf.exe\" \"" + dump + L"\" \"" + counter + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &created) ==
        0) {
        std::fprintf(stderr, "CreateProcessW failed: %lu\n", GetLastError());
        return std::nullopt;
    }
    const UniqueKernelHandle process(created.hProcess);
    const UniqueKernelHandle thread(created.hThread);
    std::optional<double> result;
    if (WaitForExit(process.get())) {
        const long long ended = Counter();
        const std::optional<std::string> text = ReadWholeFile(counter);
        const std::optional<ULONGLONG> size = FirstFileSize(m_folder, (m_prefix + L"Self.dmp").c_str());
        if (text && !text->empty() && size && *size > 0) {
            result = MillisecondsBetween(std::strtoll(text->c_str(), nullptr, 10), ended);
            m_selfDumpBytes = static_cast<double>(*size);
        }
    }
    if (!result) {
        std::fprintf(stderr, "the bare program left no dump or no counter\n");
    }
    DeleteFileW(dump.c_str());
    DeleteFileW(counter.c_str());
    return result;
}

bool Benchmarks::RunCrash()
{
    std::vector<double> host;
    std::vector<double> self;
    std::vector<double> ratios;
    for (unsigned round = 0; round < m_options.rounds; ++round) {
        const std::optional<double> hostMs = CrashHost(round);
        const std::optional<double> selfMs = CrashSelf();
        if (!hostMs || !selfMs) {
            return false;
        }
        host.push_back(*hostMs);
        self.push_back(*selfMs);
        ratios.push_back(*hostMs / *selfMs);
    }
    std::printf("\ncrash to dump complete (the faulting process ended, its dump written), %u rounds\n",
                m_options.rounds);
    std::printf("  host                        %8.2f ms median %8.2f ms minimum\n", Median(host), Minimum(host));
    std::printf("  bare program, own dump      %8.2f ms median %8.2f ms minimum\n", Median(self), Minimum(self));
    m_crashRatio = Median(ratios);
    std::printf("  paired ratio (median)       %8.3f\n", *m_crashRatio);
    std::printf("  dump size: host %.0f KB, bare program %.0f KB\n", m_dumpBytes / 1024, m_selfDumpBytes / 1024);
    std::fflush(stdout);
    return true;
}

std::string Ratios(const std::vector<double>& ratios)
{
    std::string text;
    for (const double ratio : ratios) {
        char buffer[32];
        std::snprintf(buffer, sizeof(buffer), "%s%.2f", text.empty() ? "" : " / ", ratio);
        text += buffer;
    }
    return text;
}

void Benchmarks::PrintGoals() const
{
    char buffer[64];
    std::printf("GOAL|start, 1 / 20 / 100 modules, against the minimal service that loads the same modules|%s|"
                "<= 1.10 / 1.10 / 1.05\n",
                Ratios(m_startRatios).c_str());
    std::printf("GOAL|stop -> process exit, 1 / 20 / 100 modules, same comparison|%s|<= 1.15\n",
                Ratios(m_exitRatios).c_str());
    std::printf("GOAL|resident memory at RUNNING, 1 / 20 / 100 modules, same comparison|%s|<= 1.15\n",
                Ratios(m_residentRatios).c_str());
    std::printf("GOAL|100 modules at log level 3, against level 0 (start)|%.2f|<= 1.05\n", m_levelRatio);
    if (m_idleExcessMs) {
        std::snprintf(buffer, sizeof(buffer), "%.1f ms CPU in %u s", *m_idleExcessMs, m_options.idleSeconds);
        std::printf("GOAL|idle CPU, host beyond the minimal service with one module|%s|0 beyond the 5 s worker\n",
                    buffer);
    }
    if (m_crashRatio) {
        std::printf("GOAL|crash -> dump complete, against a bare program writing its own dump|%.2f|-\n", *m_crashRatio);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) {
        std::fputs("usage: QxWineBenchmarks.exe [--rounds=<n>] [--idle-seconds=<s>]\n", stderr);
        return ERROR_BAD_ARGUMENTS;
    }
    Benchmarks benchmarks(*options, ExecutableDirectory());
    if (!benchmarks.Prepare() || !benchmarks.RunStartAndStop() || !benchmarks.RunIdle() || !benchmarks.RunCrash()) {
        return 1;
    }
    std::printf("\n");
    benchmarks.PrintGoals();
    return 0;
}
