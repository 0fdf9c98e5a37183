#include <windows.h>

#include <chrono>
#include <cwchar>
#include <exception>
#include <iterator>
#include <memory>

#include "CodeText.h"
#include "Commands.h"
#include "Common/DumpGenImpl.h"
#include "Common/RegistryValues.h"
#include "Common/ServiceHost/ModuleName.h"
#include "Common/ServiceHost/ServiceConfiguration.h"
#include "Common/ServiceHost/ServiceModuleManager.h"
#include "Common/UiLanguage.h"
#include "Console.h"
#include "HostFiles.h"
#include "InstallRules.h"
#include "ResKit/Logger/ExceptionHandlers.h"
#include "ServiceManager.h"
#include "Win32Support/WideText.h"

using namespace Qx;
using namespace Qx::Platform;

namespace QxServiceCtl {

namespace {

constexpr const wchar_t* kCommand = L"run";

struct LoadedModule {
    Library library;
    std::wstring name;
    ServiceModuleManager::SmInitializeFunction smInitialize = nullptr;
    ServiceModuleManager::SmShutdownFunction smShutdown = nullptr;
};

// Set by Ctrl+C or Ctrl+Break; the handler runs on a thread of its own.
UniqueKernelHandle& StopEvent()
{
    static UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return event;
}

BOOL WINAPI OnConsoleControl(DWORD control)
{
    if (control == CTRL_C_EVENT || control == CTRL_BREAK_EVENT) {
        SetEvent(StopEvent().get());
        return TRUE;
    }
    return FALSE;
}

bool IsModulePath(const std::wstring& target)
{
    constexpr std::wstring_view kExtension = L".dll";
    if (target.find_first_of(L"\\/") != std::wstring::npos) {
        return true;
    }
    return target.size() > kExtension.size() &&
           Qx::Win32Support::EqualIgnoringCase(std::wstring_view(target).substr(target.size() - kExtension.size()),
                                               kExtension);
}

// The service's module list as the host reads it.
bool ReadModuleList(const std::wstring& service, std::wstring& modules)
{
    if (const auto refusal = ServiceNameRefusal(service)) {
        Fail(kCommand, *refusal);
        return false;
    }
    RegistryKey key;
    const std::wstring path = ParametersKeyPath(service);
    if (const Win32Error error = Registry().OpenKey(path, kKeyRead, key); error != kErrorSuccess) {
        Fail(kCommand, L"HKLM\\" + path + L" cannot be opened" + Win32Reason(error));
        return false;
    }
    if (const Win32Error error = ReadServiceModulesValue(key.get(), modules); error != kErrorSuccess) {
        Fail(kCommand, L"HKLM\\" + path + L"\\" + kServiceModulesValue + L" cannot be read" + Win32Reason(error) +
                           L"; validate tells why");
        return false;
    }
    return true;
}

bool LoadModule(const std::wstring& name, LoadedModule& module)
{
    module.name = name;
    const std::optional<std::wstring> loadName = ModuleLoadName(name, ToolFolder());
    const Win32Error error =
        loadName ? Libraries().Load(*loadName, module.library) : static_cast<Win32Error>(kErrorInvalidParameter);
    if (error != kErrorSuccess) {
        Fail(kCommand, L"module " + name + L" cannot be loaded" + Win32Reason(error));
        return false;
    }
    auto& libraries = Libraries();
    module.smInitialize = reinterpret_cast<ServiceModuleManager::SmInitializeFunction>(
        libraries.GetProc(module.library.get(), "SmInitialize"));
    module.smShutdown = reinterpret_cast<ServiceModuleManager::SmShutdownFunction>(
        libraries.GetProc(module.library.get(), "SmShutdown"));
    if (module.smInitialize == nullptr || module.smShutdown == nullptr) {
        Fail(kCommand, L"module " + name + L" does not export " +
                           (module.smInitialize == nullptr ? L"SmInitialize" : L"SmShutdown"));
        return false;
    }
    return true;
}

// The host's crash handlers write the dump through this, as they do in the service; then the tool
// says what crashed where. The process ends right after, so allocating here risks nothing more.
LogUtils::CrashDumpResult WriteDumpAndReport(const ExceptionDescription* exception)
{
    const LogUtils::CrashDumpResult dump = WriteCrashDump(exception);
    const bool written = dump.path != nullptr;
    if (exception == nullptr) {
        Err(L"QxServiceCtl run: the process ends through std::terminate or abort()");
    } else {
        wchar_t site[MAX_PATH * 2];
        (void)LogUtils::FormatCrashSite(*exception, site);
        const std::optional<std::wstring> meaning = KnownMeaning(exception->code);
        Err(L"QxServiceCtl run: crash " + Hex8(exception->code) + (meaning ? L" (" + *meaning + L")" : L"") + site +
            L" on thread " + std::to_wstring(GetCurrentThreadId()));
    }
    Err(written ? L"QxServiceCtl run: crash dump: " + std::wstring(dump.path)
                : std::wstring(L"QxServiceCtl run: no crash dump could be written"));
    return dump;
}

// Dumps are named after the service, or after the module run on its own.
void InstallCrashReport(const std::wstring& target, bool isModulePath)
{
    std::wstring base = target;
    if (isModulePath) {
        base = base.substr(base.find_last_of(L"\\/") + 1);
        base = base.substr(0, base.rfind(L'.'));
    }
    DumpGenImpl::Instance().SetDumpBaseName(base);
    LogUtils::InstallCrashHandlers(&WriteDumpAndReport);
}

std::wstring Milliseconds(std::chrono::steady_clock::duration elapsed)
{
    wchar_t text[32];
    std::swprintf(text, std::size(text), L"%.1f ms", std::chrono::duration<double, std::milli>(elapsed).count());
    return text;
}

// What left a module's entry: nothing (empty), or the exception as "threw <type>: <what()>", with
// the error description the module set. Read while the module that threw is still loaded and before
// the exception object is gone.
template <typename Call>
std::wstring CallCatching(Call call)
{
    const auto wide = [](const std::string& text) { return std::wstring(text.begin(), text.end()); };
    const auto thrown = [&](const std::string& type, const std::string& what) {
        std::wstring text = L"threw " + (type.empty() ? std::wstring(L"an exception") : wide(type));
        if (!what.empty()) {
            text += L": " + wide(what);
        }
        if (const ErrorInfo info = Process().TakeThreadErrorInfo()) {
            text += L" (" + info->Description() + L")";
        }
        return text;
    };
    try {
        const ModuleEntryOutcome outcome = call();
        return outcome.foreignException ? thrown(outcome.foreignType, outcome.foreignWhat) : std::wstring();
    } catch (const std::exception& error) {
        return thrown(CurrentExceptionType(), error.what());
    } catch (...) {
        return thrown(CurrentExceptionType(), {});
    }
}

void ReportThrowingShutdown(const std::wstring& module, const std::wstring& thrown, const std::wstring& took)
{
    Out(L"SmShutdown " + module + L": " + thrown + L" after " + took);
    Fail(kCommand, L"module " + module + L" " + thrown +
                       L" out of SmShutdown: the service ends there through std::terminate (exit code 3, one crash "
                       L"dump), and the modules before it get no SmShutdown");
}

// Prints what failed the start of a module; gives it in short ("threw ...", "failed with ...").
std::wstring ReportFailedStart(const std::wstring& module, const std::wstring& thrown, HRESULT hr,
                               const std::wstring& took)
{
    std::wstring what = !thrown.empty() ? thrown : L"failed with " + Hex8(static_cast<std::uint32_t>(hr));
    const std::wstring text = !thrown.empty() ? L"" : GetErrorText(static_cast<std::uint32_t>(hr));
    Out(L"SmInitialize " + module + L": " + what + (text.empty() ? L"" : L" (" + text + L")") + L" after " + took);
    return what;
}

// Shuts the modules down, last first. A module that throws ends it there, as the service ends with
// std::terminate; false then.
bool ShutDown(std::vector<LoadedModule>& modules, std::size_t initialized)
{
    while (initialized > 0) {
        const LoadedModule& module = modules[--initialized];
        const auto started = std::chrono::steady_clock::now();
        const std::wstring thrown = CallCatching([&] { return Libraries().CallSmShutdown(module.smShutdown); });
        const std::wstring took = Milliseconds(std::chrono::steady_clock::now() - started);
        if (!thrown.empty()) {
            ReportThrowingShutdown(module.name, thrown, took);
            return false;
        }
        Out(L"SmShutdown " + module.name + L": returned in " + took);
    }
    return true;
}

// The start on its thread of its own: which module's SmInitialize runs, and whether the thread
// came back at all.
struct StartRun {
    std::vector<LoadedModule>* modules = nullptr;
    std::size_t entered = 0;
    bool returned = false;
    bool started = false;
};

// Initialises the modules in order; on a failure those before it are shut down, last first, as
// the host does.
bool Initialize(std::vector<LoadedModule>& modules, std::size_t& entered)
{
    for (std::size_t i = 0; i < modules.size(); ++i) {
        LoadedModule& module = modules[i];
        entered = i;
        std::uint32_t flags = 0;
        HRESULT hr = 0;
        const auto started = std::chrono::steady_clock::now();
        const std::wstring thrown = CallCatching([&] {
            ModuleEntryOutcome outcome = Libraries().CallSmInitialize(module.smInitialize, &flags);
            hr = outcome.result;
            return outcome;
        });
        const std::wstring took = Milliseconds(std::chrono::steady_clock::now() - started);
        if (!thrown.empty() || hr < 0) {
            const std::wstring what = ReportFailedStart(module.name, thrown, hr, took);
            ShutDown(modules, i);
            Fail(kCommand, L"module " + module.name + L" did not start: " + what);
            return false;
        }
        Out(L"SmInitialize " + module.name + L": " + Hex8(static_cast<std::uint32_t>(hr)) + L" in " + took +
            L", flags " + Hex8(flags));
    }
    return true;
}

std::uint32_t StartThread(void* argument)
{
    auto& run = *static_cast<StartRun*>(argument);
    run.started = Initialize(*run.modules, run.entered);
    run.returned = true;
    return 0;
}

// The modules start on a thread of their own, as in the service. A module that ends that thread
// inside its SmInitialize fails the start as it would fail the service's.
bool StartModules(std::vector<LoadedModule>& modules)
{
    StartRun run{&modules};
    Thread thread;
    if (const Win32Error error = Threads().CreateThread(&StartThread, &run, thread, nullptr); error != kErrorSuccess) {
        Fail(kCommand, L"the start thread cannot be created" + Win32Reason(error));
        return false;
    }
    (void)Threads().Wait(thread.get(), kWaitInfinite);
    if (run.returned) {
        return run.started;
    }
    std::uint32_t exitCode = 0;
    (void)Threads().GetExitCode(thread.get(), exitCode);
    const std::wstring& name = modules[run.entered].name;
    Out(L"SmInitialize " + name + L": ended its thread without returning (thread exit code " + Hex8(exitCode) + L")");
    ShutDown(modules, run.entered);
    Fail(kCommand, L"module " + name +
                       L" did not start: its SmInitialize ended the thread (ExitThread, or a stack overflow); the "
                       L"service's start fails there with E_ABORT (0x80004004)");
    return false;
}

void WaitForStop(const std::optional<std::uint32_t>& seconds)
{
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
    if (seconds) {
        Out(L"running for " + std::to_wstring(*seconds) + L" s (Ctrl+C stops sooner)");
    } else {
        Out(L"running until Ctrl+C");
    }
    const DWORD timeout = seconds ? *seconds * 1000u : INFINITE;
    WaitForSingleObject(StopEvent().get(), timeout);
    SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
}

int RunModules(const Command& command)
{
    std::vector<std::wstring> names;
    if (IsModulePath(command.target)) {
        names.push_back(command.target);
    } else {
        std::wstring list;
        if (!ReadModuleList(command.target, list)) {
            return kExitFailure;
        }
        names = SplitModuleList(list);
    }
    // The host's search order: its own folder, which is this tool's, and System32.
    (void)Libraries().RestrictSearchToSafeFolders();
    InstallCrashReport(command.target, IsModulePath(command.target));
    std::vector<LoadedModule> modules(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!LoadModule(names[i], modules[i])) {
            return kExitFailure;
        }
    }
    if (!StartModules(modules)) {
        return kExitFailure;
    }
    WaitForStop(command.Get<RunOptions>().seconds);
    if (!ShutDown(modules, modules.size())) {
        return kExitFailure;
    }
    Out(L"stopped: every module shut down");
    return kExitSuccess;
}

} // namespace

const CommandEntry kRunCommand{
    CommandKind::Run,
    {L"QxServiceCtl run <service>|<module path> [--seconds N]",
     L"    Loads the modules here, calls SmInitialize in order, waits for Ctrl+C or N seconds,",
     L"    then calls SmShutdown in reverse, on another thread, as the service does. A module that ends",
     L"    the start thread is named (exit 1). A crash inside a module prints its code, module and",
     L"    offset (a thrown C++ object: its type and the module that threw it), the host's crash handling",
     L"    writes the dump, and the tool ends with the crash's exception code."},
    &RunModules};

} // namespace QxServiceCtl
