// The service's life on the platform doubles: the dispatcher runs ServiceMain on a thread of its
// own, controls arrive through the registered handler, and the module, watchdog and compressor
// libraries record their calls. The host's components are process-wide objects, built anew on
// each test's doubles, and every start begins from the module's initial status.
#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "Common/AtlServiceEx.h"
#include "Common/LogCompressor/LogComprLoader.h"
#include "Common/ProductInfo.h"
#include "Common/ServiceHost/ServiceConfiguration.h"
#include "Common/ServiceState/ServiceInternalState.h"
#include "Common/WatchdogAgent.h"
#include "FakeModules.h"
#include "LoggedPlatformTest.h"

using namespace Qx;
using namespace Qx::Platform;
using namespace Qx::Testing;

namespace {

constexpr const wchar_t* kRoot = L"SOFTWARE\\Velquor\\Product";
constexpr const wchar_t* kInstallPath = L"C:\\Velquor\\";
constexpr const wchar_t* kService = L"QxUnit";
constexpr std::uint32_t kTimeoutMs = 10000;

using Calls = std::vector<std::string>;

class ServiceLifecycleTest : public LoggedPlatformTest {
protected:
    ServiceLifecycleTest()
    {
        Exports().Reset();
        platform.files.profileValues[L"C:\\Program Files\\Qx\\ProductInfo2.ini|ProductInfo|RegistryRoot"] = kRoot;
        platform.registry.SetString(kRoot, L"ProductInstallPath", kInstallPath);
        platform.text.messages[{nullptr, 0x80004005u, 0x0409}] = L"Call failed.\r\n";
        AddFakeWatchdogAgent(platform.libraries);
        AddFakeServiceModule(platform.libraries, L"A.dll", 0);
        AddFakeServiceModule(platform.libraries, L"B.dll", 1);
        AddFakeServiceModule(platform.libraries, L"C.dll", 2);
        compressor = &AddFakeLogCompressor(platform.libraries, std::wstring(kInstallPath) + L"QxLogCompr.dll");
        platform.serviceControl.dispatcherResult = kErrorSuccess;
    }

    // A start without a service thread handle returns before the service thread has ended; it
    // must be done before the logger it writes to goes.
    ~ServiceLifecycleTest() override { platform.serviceControl.JoinServiceThread(); }

    void Configure(const std::wstring& modules, std::uint32_t logCompressor = 0, std::uint32_t sdEnabled = 0)
    {
        const std::wstring key = ParametersKeyPath(kService);
        platform.registry.SetString(key, L"ServiceModules", modules);
        platform.registry.SetDword(key, L"ServiceName", 3);
        platform.registry.SetDword(key, L"LogCompressor", logCompressor);
        platform.registry.SetDword(key, L"SDEnabled", sdEnabled);
        CServiceModule::Instance().SetServiceName(kService);
        CServiceConfigurationImpl::Instance().Load(kService);
        logger.records.clear();
    }

    // Runs Start on a thread that plays the process's main thread.
    static std::future<std::uint32_t> StartService()
    {
        return std::async(std::launch::async, [] { return CServiceModule::Instance().Start(); });
    }

    // Until the service thread has finished its start and waits for a stop request.
    void WaitUntilRunning()
    {
        ASSERT_TRUE(platform.serviceControl.WaitForState(kServiceRunning, kTimeoutMs));
        ASSERT_TRUE(logger.WaitFor(L"Exiting CServiceModule::PreMessageLoop", kTimeoutMs));
    }

    std::uint32_t Stop(std::future<std::uint32_t>& service, std::uint32_t control = CServiceModule::kControlStop)
    {
        EXPECT_EQ(platform.serviceControl.SendControl(control), kErrorSuccess);
        EXPECT_EQ(service.wait_for(std::chrono::milliseconds(kTimeoutMs)), std::future_status::ready);
        return service.get();
    }

    [[nodiscard]] std::size_t IndexOf(const std::wstring& text) const
    {
        for (std::size_t i = 0; i < logger.records.size(); ++i) {
            if (logger.records[i].text.starts_with(text)) {
                return i;
            }
        }
        ADD_FAILURE() << "not logged: " << std::string(text.begin(), text.end());
        return logger.records.size();
    }

    std::vector<std::uint32_t> States()
    {
        std::vector<std::uint32_t> states;
        for (const auto& report : platform.serviceControl.Reports()) {
            states.push_back(report.currentState);
        }
        return states;
    }

    FakeModule* compressor = nullptr;
};

TEST_F(ServiceLifecycleTest, StartsInOrderOnAnInitialisationThreadAndStopsInReverse)
{
    Configure(L"A.dll;B.dll", 1);
    auto service = StartService();
    WaitUntilRunning();
    const auto started = Exports().Calls();
    ASSERT_EQ(Exports().Names(), (Calls{"WAInitW", "Compressor.Initialize", "A.SmInitialize", "B.SmInitialize"}));
    EXPECT_EQ(started[0].argument, kService);
    EXPECT_EQ(started[2].threadId, started[3].threadId) << "one initialisation thread";
    EXPECT_NE(started[2].threadId, started[0].threadId) << "not the service thread";

    const auto reports = platform.serviceControl.Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].currentState, kServiceStartPending);
    EXPECT_EQ(reports[0].controlsAccepted, 0u) << "nothing is accepted while starting";
    EXPECT_EQ(reports[1].currentState, kServiceRunning);
    EXPECT_EQ(reports[1].controlsAccepted, kServiceAcceptStop | kServiceAcceptShutdown);
    const std::size_t startEvent = IndexOf(L"Event: [] Type=Information Category=0x01 Id=0x40010101");
    EXPECT_EQ(logger.records.at(startEvent + 1).text, L"       %4=%%3");
    EXPECT_LT(IndexOf(L"Service initialization completed with code: 0"), IndexOf(L"LogEvent: Service started/resumed"));

    EXPECT_EQ(Stop(service), 0u);
    EXPECT_EQ(Exports().Names(), (Calls{"WAInitW", "Compressor.Initialize", "A.SmInitialize", "B.SmInitialize",
                                        "B.SmShutdown", "A.SmShutdown", "Compressor.Shutdown", "WADeinit"}));
    EXPECT_EQ(States(), (std::vector<std::uint32_t>{kServiceStartPending, kServiceRunning, kServiceStopPending,
                                                    kServiceStopped}));
    EXPECT_EQ(platform.serviceControl.Reports().back().win32ExitCode, 0u);
    EXPECT_LT(IndexOf(L"Shutting down ServiceModule A.dll"), IndexOf(L"Event: [] Type=Information Category=0x01 "
                                                                     L"Id=0x40010102"));
    EXPECT_EQ(logger.records.back().text, L"LogEvent: Service stopped");
    EXPECT_GT(platform.threads.WaitsBegun(10000), 0u) << "Start waits for the service thread";
}

TEST_F(ServiceLifecycleTest, FailingModuleTakesTheFailurePath)
{
    Configure(L"A.dll,B.dll,C.dll", 1);
    Exports().results[1] = kEFail;
    // Its text must reach the service thread, which has COM error information of its own.
    Exports().during[1] = [this] { platform.process.threadErrorInfo = HostErrorInfo(L"B broke"); };
    auto service = StartService();
    ASSERT_EQ(service.wait_for(std::chrono::milliseconds(kTimeoutMs)), std::future_status::ready);
    EXPECT_EQ(service.get(), static_cast<std::uint32_t>(kEFail));

    EXPECT_EQ(Exports().Names(), (Calls{"WAInitW", "Compressor.Initialize", "A.SmInitialize", "B.SmInitialize",
                                        "A.SmShutdown", "WADeinit", "Compressor.Shutdown"}))
        << "C never starts; the compressor is unloaded last";
    EXPECT_EQ(States(), (std::vector<std::uint32_t>{kServiceStartPending, kServiceStopped}));
    EXPECT_EQ(platform.serviceControl.Reports().back().win32ExitCode, 0x80004005u);

    EXPECT_NE(logger.Find(L"CServiceModule__Initialization: B broke\x7F"), nullptr);
    const std::size_t completed = IndexOf(L"Service initialization completed with code: -2147467259");
    const std::size_t failed = IndexOf(L"Starting service modules failed: B broke\x7F[EIP: ");
    const std::size_t event = IndexOf(L"Event: [] Type=Error Category=0x01 Id=0xC0010103");
    EXPECT_LT(completed, failed);
    EXPECT_LT(failed, event);
    EXPECT_EQ(logger.records.at(failed).severity, L"ERROR");
    EXPECT_EQ(logger.records.at(event + 1).text, L"       %4=%%3");
    EXPECT_EQ(logger.records.at(event + 2).text, L"       %6=B broke");
    EXPECT_EQ(logger.Find(L"Entering CServiceModule::PostMessageLoop"), nullptr);
}

// ExitThread inside SmInitialize, or a stack overflow there: the thread ends with an exit code that
// says nothing, here the 0 of a success. The start fails with E_ABORT, naming the module.
TEST_F(ServiceLifecycleTest, ModuleThatEndsTheInitialisationThreadFailsTheStart)
{
    Configure(L"A.dll,B.dll,C.dll");
    Exports().during[1] = [this] { platform.threads.EndCurrentThread(0); };
    auto service = StartService();
    ASSERT_EQ(service.wait_for(std::chrono::milliseconds(kTimeoutMs)), std::future_status::ready);
    EXPECT_EQ(service.get(), static_cast<std::uint32_t>(kEAbort));

    EXPECT_EQ(Exports().Names(), (Calls{"WAInitW", "A.SmInitialize", "B.SmInitialize", "A.SmShutdown", "WADeinit"}));
    const std::wstring ended = L"ServiceModule B.dll ended the initialisation thread without returning (thread exit "
                               L"code 0x00000000) in SmInitialize";
    const std::size_t named = IndexOf(L"ServiceModule B.dll failed the start after ");
    EXPECT_EQ(logger.records.at(named).severity, L"ERROR");
    EXPECT_NE(logger.records.at(named).text.find(L" ms: SmInitialize ended the initialisation thread without "
                                                 L"returning (thread exit code 0x00000000); file "),
              std::wstring::npos);
    EXPECT_LT(named, IndexOf(L"Starting service modules failed: " + ended + L"\x7F[EIP: "));
    const std::size_t event = IndexOf(L"Event: [] Type=Error Category=0x01 Id=0xC0010103");
    EXPECT_EQ(logger.records.at(event + 2).text, L"       %6=" + ended);
    EXPECT_EQ(States(), (std::vector<std::uint32_t>{kServiceStartPending, kServiceStopped}));
}

TEST_F(ServiceLifecycleTest, LongInitialisationReReportsStartPending)
{
    Configure(L"A.dll");
    platform.threads.timeScale = 0.002;
    Exports().during[0] = [this] {
        (void)Eventually([this] { return platform.serviceControl.Reports().size() >= 3; });
    };
    auto service = StartService();
    WaitUntilRunning();
    const auto states = States();
    const auto pending = std::count(states.begin(), states.end(), kServiceStartPending);
    const auto progress = std::count_if(logger.records.begin(), logger.records.end(), [](const LoggedRecord& r) {
        return r.text == L"Long time service initialization is in progress...";
    });
    EXPECT_GE(progress, 2);
    EXPECT_EQ(pending, progress + 1) << "one repeated pending report per progress record";
    EXPECT_EQ(states.back(), kServiceRunning);
    for (const auto& report : platform.serviceControl.Reports()) {
        EXPECT_EQ(report.checkPoint, 0u);
        EXPECT_EQ(report.waitHint, 0u);
    }
    EXPECT_EQ(Stop(service), 0u);
}

TEST_F(ServiceLifecycleTest, ControlCodes)
{
    Configure(L"");
    auto service = StartService();
    WaitUntilRunning();
    const std::size_t reportsWhenRunning = platform.serviceControl.Reports().size();
    EXPECT_EQ(platform.serviceControl.SendControl(CServiceModule::kControlPause), kErrorSuccess);
    EXPECT_EQ(platform.serviceControl.SendControl(CServiceModule::kControlContinue), kErrorSuccess);
    logger.records.clear();
    EXPECT_EQ(platform.serviceControl.SendControl(6), kErrorSuccess);
    EXPECT_EQ(platform.serviceControl.SendControl(129), kErrorSuccess);
    EXPECT_EQ(logger.Texts(),
              (std::vector<std::wstring>{L"LogEvent: Bad service request", L"LogEvent: Bad service request"}))
        << "pause and continue are neither logged nor reported";
    logger.records.clear();
    EXPECT_EQ(platform.serviceControl.SendControl(CServiceModule::kControlInterrogate), kErrorSuccess);
    EXPECT_EQ(logger.Texts(), (std::vector<std::wstring>{L"Entering CServiceModule::OnInterrogate",
                                                         L"Exiting CServiceModule::OnInterrogate"}));
    EXPECT_EQ(platform.serviceControl.Reports().size(), reportsWhenRunning) << "interrogate reports nothing itself";

    auto controls = CServiceModule::Instance().GetControlsCallback();
    EXPECT_TRUE(controls(kServiceAcceptStop, false));
    EXPECT_EQ(platform.serviceControl.Reports().back().controlsAccepted, kServiceAcceptShutdown);
    EXPECT_TRUE(controls(kServiceAcceptStop, true));
    EXPECT_EQ(platform.serviceControl.Reports().back().controlsAccepted, kServiceAcceptStop | kServiceAcceptShutdown);

    EXPECT_EQ(Stop(service, CServiceModule::kControlShutdown), 0u) << "shutdown stops like stop";
    EXPECT_FALSE(controls(kServiceAcceptStop, true)) << "nothing changes once stopped";
    EXPECT_EQ(States().back(), kServiceStopped);
}

TEST_F(ServiceLifecycleTest, PreshutdownStopsLikeStop)
{
    Configure(L"A.dll");
    auto service = StartService();
    WaitUntilRunning();
    EXPECT_EQ(Stop(service, CServiceModule::kControlPreshutdown), 0u);
    EXPECT_EQ(States(), (std::vector<std::uint32_t>{kServiceStartPending, kServiceRunning, kServiceStopPending,
                                                    kServiceStopped}));
    EXPECT_EQ(Exports().Names(), (Calls{"WAInitW", "A.SmInitialize", "A.SmShutdown", "WADeinit"}));
}

TEST_F(ServiceLifecycleTest, ControlsCannotChangeWhileStartingAndSdEnabledWithholdsStop)
{
    Configure(L"A.dll", 0, 1);
    bool changedWhileStarting = true;
    Exports().during[0] = [&] {
        changedWhileStarting = CServiceModule::Instance().GetControlsCallback()(kServiceAcceptStop, true);
    };
    auto service = StartService();
    WaitUntilRunning();
    EXPECT_FALSE(changedWhileStarting);
    // The first RUNNING report: the stop-acceptance worker may grant stop at once after it.
    const auto reports = platform.serviceControl.Reports();
    const auto running = std::ranges::find(reports, kServiceRunning, &ServiceStatus::currentState);
    ASSERT_NE(running, reports.end());
    EXPECT_EQ(running->controlsAccepted, kServiceAcceptShutdown)
        << "with SDEnabled the service starts without accepting stop";
    EXPECT_EQ(Stop(service), 0u);
}

TEST_F(ServiceLifecycleTest, StartRemovesStopAcceptAndSurvivesAMissingThreadHandleAndRefusedReports)
{
    Configure(L"");
    platform.registry.SetDword(ParametersKeyPath(kService), L"StopAccept", 1);
    platform.threads.openThreadFailure = 6;
    platform.serviceControl.statusResult = 6;
    auto service = StartService();
    WaitUntilRunning();
    EXPECT_FALSE(platform.registry.HasValue(ParametersKeyPath(kService), L"StopAccept"));
    const LoggedRecord* removed = logger.Find(L"StopAccept registry flag removed");
    ASSERT_NE(removed, nullptr);
    EXPECT_EQ(removed->level, 3);
    const LoggedRecord* noHandle = logger.Find(L"Failed to open current thread handle: 6");
    ASSERT_NE(noHandle, nullptr);
    EXPECT_EQ(noHandle->severity, L"ERROR");
    const LoggedRecord* refused = logger.Find(L"SetServiceStatus failed Error:6");
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(refused->severity, L"ERROR");
    EXPECT_EQ(Stop(service), 0u);
    EXPECT_EQ(platform.threads.WaitsBegun(10000), 0u) << "no handle, no wait";
}

// Run by hand, the process is no service: it says so, and the guard of the service of that name,
// which runs, stays after it; without such a service it removes the guard it made.
TEST_F(ServiceLifecycleTest, HandRunLeavesTheGuardOfTheServiceItFinds)
{
    Configure(L"A.dll");
    platform.serviceControl.dispatcherResult = kErrorFailedServiceControllerConnect;
    const std::wstring guard = L"SYSTEM\\CurrentControlSet\\services\\" + std::wstring(kService) + L"\\WatchDogGuard";
    for (const bool serviceRuns : {false, true}) {
        if (serviceRuns) {
            platform.registry.CreateKey(guard);
        }
        EXPECT_EQ(CServiceModule::Instance().Start(), kErrorFailedServiceControllerConnect);
        EXPECT_EQ(WatchDogGuard::RemovedAtExit(), !serviceRuns);
        EXPECT_EQ(logger.records.back().text, L"StartServiceCtrlDispatcherW failed Error:1063");
        EXPECT_EQ(logger.records.back().severity, L"ERROR");
    }
}

TEST_F(ServiceLifecycleTest, InitialisationThreadThatCannotStartFailsTheStart)
{
    Configure(L"A.dll");
    platform.threads.createThreadFailure = 8;
    auto service = StartService();
    ASSERT_EQ(service.wait_for(std::chrono::milliseconds(kTimeoutMs)), std::future_status::ready);
    EXPECT_EQ(service.get(), 0x80070008u);
    EXPECT_EQ(Exports().Names(), (Calls{"WAInitW", "WADeinit"}));
}

TEST_F(ServiceLifecycleTest, StopSignalThatCannotBeCreatedFailsTheStartBeforeAnyModule)
{
    Configure(L"A.dll");
    InternalState::Instance(); // its worker's event is not the one that fails
    platform.threads.createEventFailure = 1450;
    auto service = StartService();
    ASSERT_EQ(service.wait_for(std::chrono::milliseconds(kTimeoutMs)), std::future_status::ready);
    EXPECT_EQ(service.get(), 0x800705AAu);
    EXPECT_EQ(Exports().Names(), (Calls{"WAInitW", "WADeinit"}));
    EXPECT_EQ(States(), (std::vector<std::uint32_t>{kServiceStartPending, kServiceStopped}));
}

TEST_F(ServiceLifecycleTest, HandlerThatCannotRegisterReportsNothing)
{
    Configure(L"A.dll");
    platform.serviceControl.registerResult = 5;
    auto service = StartService();
    ASSERT_EQ(service.wait_for(std::chrono::milliseconds(kTimeoutMs)), std::future_status::ready);
    (void)service.get();
    EXPECT_TRUE(platform.serviceControl.Reports().empty());
    EXPECT_TRUE(Exports().Names().empty()) << "no component starts";
    EXPECT_TRUE(logger.Contains(L"LogEvent: Handler not installed"));
}

TEST_F(ServiceLifecycleTest, SelfDefenceGrantsStopOnceRunning)
{
    Configure(L"A.dll", 0, 1);
    platform.threads.timeScale = 0.01;
    auto service = StartService();
    WaitUntilRunning();
    EXPECT_TRUE(platform.registry.HasKey(L"SYSTEM\\CurrentControlSet\\services\\QxUnit\\WatchDogGuard"))
        << "the key exists while the service runs";
    EXPECT_NE(logger.Find(L"Initializing singleton InternalStateSgt"), nullptr);
    ASSERT_TRUE(logger.WaitFor(L"SERVICE_ACCEPT_STOP changed to: 1", kTimeoutMs)) << "no driver: stop is accepted";
    EXPECT_EQ(platform.serviceControl.Reports().back().controlsAccepted, kServiceAcceptStop | kServiceAcceptShutdown);

    const int queries = platform.selfDefenceDriver.queries;
    EXPECT_EQ(platform.serviceControl.SendControl(CServiceModule::kControlInterrogate), kErrorSuccess);
    EXPECT_GT(platform.selfDefenceDriver.queries, queries) << "an interrogate decides again";

    EXPECT_EQ(Stop(service), 0u);
    EXPECT_NE(logger.Find(L"InternalState::Shutdown - succeeded ("), nullptr);
    EXPECT_LT(IndexOf(L"InternalState::Shutdown - starting"), IndexOf(L"Event: [] Type=Information Category=0x01 "
                                                                      L"Id=0x40010102"));
}

TEST_F(ServiceLifecycleTest, FailedStartShutsTheInternalStateDownToo)
{
    Configure(L"A.dll", 0, 0);
    Exports().results[0] = kEFail;
    auto service = StartService();
    ASSERT_EQ(service.wait_for(std::chrono::milliseconds(kTimeoutMs)), std::future_status::ready);
    EXPECT_EQ(service.get(), static_cast<std::uint32_t>(kEFail));
    EXPECT_EQ(logger.Find(L"Initializing singleton InternalStateSgt"), nullptr) << "without SDEnabled";
    EXPECT_LT(IndexOf(L"InternalState::Shutdown - starting"), IndexOf(L"Starting service modules failed: "));
}

class LogCompressorTest : public ServiceLifecycleTest {
protected:
    HRESULT Load()
    {
        return RaisedBy([this] { loader.Load(); });
    }

    [[nodiscard]] bool CompressorLoaded() const
    {
        const auto live = platform.libraries.LivePaths();
        return std::find(live.begin(), live.end(), std::wstring(kInstallPath) + L"QxLogCompr.dll") != live.end();
    }

    CLogComprLdr loader;
};

TEST_F(LogCompressorTest, LoadsFromTheInstallPathAndUnloadsOnce)
{
    EXPECT_EQ(Load(), kSOk);
    EXPECT_TRUE(loader.IsLoaded());
    EXPECT_TRUE(logger.Contains(L"loading log compressor module"));
    EXPECT_EQ(Load(), kSOk) << "a second load unloads the first";
    loader.Unload();
    loader.Unload();
    EXPECT_EQ(Exports().Names(),
              (Calls{"Compressor.Initialize", "Compressor.Shutdown", "Compressor.Initialize", "Compressor.Shutdown"}));
    EXPECT_FALSE(CompressorLoaded());
}

TEST_F(LogCompressorTest, FailuresLeaveNothingLoaded)
{
    Exports().compressorResult = MakeHResult(0x80070005u);
    EXPECT_EQ(Load(), MakeHResult(0x80070005u));
    EXPECT_FALSE(loader.IsLoaded());
    EXPECT_FALSE(CompressorLoaded());

    compressor->exports.erase("Initialize");
    EXPECT_EQ(Load(), MakeHResult(0x8007007Fu));
    EXPECT_FALSE(CompressorLoaded());

    platform.registry.SetString(kRoot, L"ProductInstallPath", L"C:\\Velquor");
    EXPECT_EQ(Load(), MakeHResult(0x8007007Eu)) << "the name is glued to the path without a separator";
    platform.registry.SetDword(kRoot, L"ProductInstallPath", 1);
    EXPECT_EQ(Load(), kEInvalidArg);
    platform.registry.SetRaw(kRoot, L"ProductInstallPath", kRegSz, {});
    EXPECT_EQ(Load(), kEInvalidArg) << "no data";
    platform.registry.SetRaw(kRoot, L"ProductInstallPath", kRegSz, {'C', 0, ':', 0});
    EXPECT_EQ(Load(), MakeHResult(0x8007000Du)) << "not NUL-terminated";
    EXPECT_EQ(platform.registry.DeleteKey(kRoot), kErrorSuccess);
    EXPECT_EQ(Load(), kEFileNotFound);
}

TEST_F(LogCompressorTest, LibraryWithoutShutdownIsFreedWithoutTheCall)
{
    compressor->exports.erase("Shutdown");
    EXPECT_EQ(Load(), kSOk);
    loader.Unload();
    EXPECT_EQ(Exports().Names(), Calls{"Compressor.Initialize"});
    EXPECT_FALSE(CompressorLoaded());
}

} // namespace
