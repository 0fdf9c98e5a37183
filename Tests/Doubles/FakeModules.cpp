#include "FakeModules.h"

#include <algorithm>

namespace Qx::Testing {

namespace {

constexpr const char* kModuleNames[] = {"A", "B", "C"};

// Runs the hook a test set for the call, copied under the lock so that the test may change it
// meanwhile.
void RunHook(const std::function<void()>& hook)
{
    std::function<void()> copy;
    {
        std::lock_guard guard(Exports().lock);
        copy = hook;
    }
    if (copy) {
        copy();
    }
}

template <std::size_t Index>
HRESULT SmInitialize(std::uint32_t* moduleFlags)
{
    auto& exports = Exports();
    exports.Record(std::string(kModuleNames[Index]) + ".SmInitialize");
    {
        std::lock_guard guard(exports.lock);
        *moduleFlags = exports.flags[Index];
    }
    RunHook(exports.during[Index]);
    std::lock_guard guard(exports.lock);
    return exports.results[Index];
}

template <std::size_t Index>
void SmShutdown()
{
    Exports().Record(std::string(kModuleNames[Index]) + ".SmShutdown");
    RunHook(Exports().duringShutdown[Index]);
}

template <std::size_t Index>
void AddModuleExports(FakeModule& module, bool withInitialize, bool withShutdown)
{
    if (withInitialize) {
        module.exports["SmInitialize"] = reinterpret_cast<void*>(&SmInitialize<Index>);
    }
    if (withShutdown) {
        module.exports["SmShutdown"] = reinterpret_cast<void*>(&SmShutdown<Index>);
    }
}

int WAInitW(const wchar_t* serviceName)
{
    Exports().Record("WAInitW", serviceName);
    return 0;
}

int WADeinit()
{
    Exports().Record("WADeinit");
    return 0;
}

int WAOnEnterOrExit()
{
    Exports().Record("WAOnEnterOrExit");
    return 0;
}

HRESULT CompressorInitialize()
{
    Exports().Record("Compressor.Initialize");
    std::lock_guard guard(Exports().lock);
    return Exports().compressorResult;
}

void CompressorShutdown()
{
    Exports().Record("Compressor.Shutdown");
}

} // namespace

void FakeExports::Reset()
{
    std::lock_guard guard(lock);
    calls.clear();
    results = {};
    flags = {};
    during = {};
    duringShutdown = {};
    compressorResult = kSOk;
}

void FakeExports::Record(std::string name, std::wstring argument)
{
    const std::uint32_t threadId = Platform::Process().CurrentThreadId();
    std::lock_guard guard(lock);
    calls.push_back({std::move(name), threadId, std::move(argument)});
}

FakeExports& Exports()
{
    static FakeExports exports;
    return exports;
}

FakeModule& AddFakeServiceModule(FakeLibraries& libraries, const std::wstring& path, std::size_t index,
                                 bool withInitialize, bool withShutdown)
{
    // Each module's exports are functions of their own, so that the calls tell the modules apart.
    constexpr std::array kAddExports{&AddModuleExports<0>, &AddModuleExports<1>, &AddModuleExports<2>};
    FakeModule& module = libraries.Add(path);
    kAddExports[std::min(index, kAddExports.size() - 1)](module, withInitialize, withShutdown);
    return module;
}

FakeModule& AddFakeWatchdogAgent(FakeLibraries& libraries, bool withOnExit)
{
    FakeModule& module = libraries.Add(L"C:\\Program Files\\Qx\\QxWatchdogAgent.dll");
    module.exports["WAInitW"] = reinterpret_cast<void*>(&WAInitW);
    module.exports["WADeinit"] = reinterpret_cast<void*>(&WADeinit);
    module.exports["WAOnEnter"] = reinterpret_cast<void*>(&WAOnEnterOrExit);
    if (withOnExit) {
        module.exports["WAOnExit"] = reinterpret_cast<void*>(&WAOnEnterOrExit);
    }
    return module;
}

FakeModule& AddFakeLogCompressor(FakeLibraries& libraries, const std::wstring& path, bool withShutdown)
{
    FakeModule& module = libraries.Add(path);
    module.exports["Initialize"] = reinterpret_cast<void*>(&CompressorInitialize);
    if (withShutdown) {
        module.exports["Shutdown"] = reinterpret_cast<void*>(&CompressorShutdown);
    }
    return module;
}

} // namespace Qx::Testing
