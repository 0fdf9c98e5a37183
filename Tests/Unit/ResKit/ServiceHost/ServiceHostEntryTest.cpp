#include "ResKit/ServiceHost/ServiceHostEntry.h"

#include "Common/AtlServiceEx.h"
#include "Common/DumpGenImpl.h"
#include "Common/ServiceHost/ServiceConfiguration.h"
#include "LoggedPlatformTest.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Testing;

namespace {

class ServiceHostEntryTest : public LoggedPlatformTest {
protected:
    ServiceHostEntryTest()
    {
        g_fakeLoggerFactory = [] { return new RecordingLogger(); };
    }
    ~ServiceHostEntryTest() override { g_fakeLoggerFactory = nullptr; }

    void AddParameters(const std::wstring& service, std::uint32_t sdEnabled = 0)
    {
        const std::wstring key = ParametersKeyPath(service);
        platform.registry.SetString(key, L"ServiceModules", L"");
        platform.registry.SetDword(key, L"ServiceName", 3);
        platform.registry.SetDword(key, L"SDEnabled", sdEnabled);
    }

    int Run(const std::wstring& arguments)
    {
        platform.process.commandLine = L"\"C:\\Program Files\\Qx\\QxServiceHost.exe\" " + arguments;
        return RunServiceHostEntry(arguments.c_str());
    }
};

TEST_F(ServiceHostEntryTest, MissingValueFailsWithInvalidArgBeforeAnyServiceWork)
{
    EXPECT_EQ(Run(L"-name="), kEInvalidArg);
    EXPECT_EQ(logger.Texts().at(0), L"cmdLine: -name=");
    EXPECT_EQ(logger.Texts().at(1), L"CmdLine Param: name=");
    EXPECT_EQ(logger.Texts().at(2), L"Param 'name' found");
    EXPECT_EQ(logger.Texts().at(3), L"param value: empty");
    const LoggedRecord* failure = logger.Find(L"WinMain failed: ");
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->severity, L"ERROR");
    EXPECT_EQ(failure->level, 1);
    EXPECT_TRUE(failure->text.ends_with(L" 0x80070057")) << failure->text;
    EXPECT_TRUE(logger.inits.empty()) << "no module log for a missing value";
    EXPECT_TRUE(platform.serviceControl.dispatchedNames.empty());

    EXPECT_EQ(Run(L"-name"), kEInvalidArg);
    EXPECT_EQ(Run(L"-name=    "), kEInvalidArg) << "a value of only spaces names no service";
    EXPECT_EQ(logger.Texts().back().substr(0, 16), L"WinMain failed: ");
}

TEST_F(ServiceHostEntryTest, OverlongValueIsRejected)
{
    const std::wstring longest(255, L'a');
    AddParameters(longest);
    EXPECT_EQ(Run(L"-name=" + longest + L" -RegServer"), 0);
    EXPECT_EQ(CServiceModule::Instance().ServiceName(), longest);

    EXPECT_EQ(Run(L"-name=" + std::wstring(256, L'b')), kEInvalidArg);
    EXPECT_NE(logger.Find(L"param value: too long: 256"), nullptr);
    EXPECT_EQ(CServiceModule::Instance().ServiceName(), longest) << "a rejected value changes nothing";
}

// The name goes into the log and dump paths: a name that could lead them out of their folders is
// refused before any of them is built, and the log says which character.
TEST_F(ServiceHostEntryTest, NameThatCouldEscapeItsFoldersIsRejected)
{
    AddParameters(L"Foo");
    EXPECT_EQ(Run(L"-name=Foo -RegServer"), 0);
    const std::vector<std::pair<std::wstring, std::wstring>> refused = {
        {L"..\\..\\X", L"U+005C"}, {L"../X", L"U+002F"},  {L"C:X", L"U+003A"},
        {L"A\tB", L"U+0009"},      {L"A\x7F", L"U+007F"}, {L"A\x85", L"U+0085"}};
    for (const auto& [name, code] : refused) {
        EXPECT_EQ(Run(L"-name=" + name), kEInvalidArg) << code;
        EXPECT_NE(logger.Find(L"param value: invalid character: " + code), nullptr) << code;
    }
    EXPECT_EQ(logger.inits.size(), 1u) << "no module log for a refused name";
    EXPECT_EQ(std::wstring(CServiceModule::Instance().ServiceName()), L"Foo");
    EXPECT_EQ(DumpGenImpl::Instance().BaseName(), L"Foo");

    AddParameters(L"My Service.v2_(x)");
    EXPECT_EQ(Run(L"-name=My Service.v2_(x) -RegServer"), 0) << "what a file name can hold stays allowed";
}

TEST_F(ServiceHostEntryTest, NamedServiceOpensItsModuleLogAndLoadsItsConfiguration)
{
    AddParameters(L"Foo");
    EXPECT_EQ(Run(L"-name=Foo -RegServer"), 0);
    ASSERT_EQ(logger.inits.size(), 1u);
    EXPECT_EQ(logger.inits[0].logName, L"Foo(4242).log");
    EXPECT_EQ(logger.inits[0].title, L"Module log");
    EXPECT_TRUE(logger.inits[0].flag);
    EXPECT_EQ(CServiceModule::Instance().ServiceName(), std::wstring(L"Foo"));
    EXPECT_EQ(CServiceConfigurationImpl::Instance().ServiceName(), 3u);
    EXPECT_TRUE(platform.serviceControl.dispatchedNames.empty()) << "a registration switch starts nothing";

    const auto texts = logger.Texts();
    const auto value = std::find(texts.begin(), texts.end(), L"param value: Foo");
    const auto moduleInfo = std::find(texts.begin(), texts.end(), L"*");
    const auto load = std::find(texts.begin(), texts.end(), L"Entering CServiceConfigurationImpl::Load");
    ASSERT_NE(value, texts.end());
    EXPECT_LT(moduleInfo, value) << "the module information follows the log's initialisation";
    EXPECT_LT(value, load);
}

TEST_F(ServiceHostEntryTest, ConfigurationErrorBecomesTheExitCode)
{
    EXPECT_EQ(Run(L"-name=NoSuchSvc"), kEFileNotFound);
    EXPECT_EQ(logger.inits.back().logName, L"NoSuchSvc(4242).log");
    EXPECT_NE(logger.Find(L"*** EXCEPTION Exiting CServiceConfigurationImpl::Load"), nullptr);
    const LoggedRecord* failure = logger.Find(L"WinMain failed: ");
    ASSERT_NE(failure, nullptr);
    EXPECT_TRUE(failure->text.ends_with(L"] 0x80070002")) << failure->text;
}

TEST_F(ServiceHostEntryTest, WithoutSwitchTheDispatcherDecidesTheExitCode)
{
    AddParameters(L"Bar", 1);
    EXPECT_EQ(Run(L"-name=Bar"), static_cast<int>(kErrorFailedServiceControllerConnect));
    EXPECT_EQ(platform.serviceControl.dispatchedNames, std::vector<std::wstring>{L"Bar"});
    const auto status = CServiceModule::Instance().Status();
    EXPECT_EQ(status.win32ExitCode, kErrorFailedServiceControllerConnect);
    EXPECT_EQ(status.controlsAccepted, Platform::kServiceAcceptShutdown) << "SDEnabled withholds stop";

    EXPECT_EQ(Run(L"/name=Ignored"), static_cast<int>(kErrorFailedServiceControllerConnect));
    EXPECT_EQ(platform.serviceControl.dispatchedNames.back(), L"Bar") << "/name is no service-name parameter";
}

TEST_F(ServiceHostEntryTest, RepeatedNameKeepsTheModuleLogAndTakesTheLaterName)
{
    AddParameters(L"First");
    AddParameters(L"Second");
    int destroyed = 0;
    g_fakeLoggerFactory = [&destroyed] { return new RecordingLogger(3, &destroyed); };
    EXPECT_EQ(Run(L"-name=First -name=Second -RegServer"), 0);
    ASSERT_EQ(logger.inits.size(), 2u);
    EXPECT_EQ(logger.inits[1].logName, L"Second(4242).log");
    EXPECT_EQ(destroyed, 2) << "each surplus logger from the library is destroyed";
    EXPECT_EQ(&LogUtils::GetLogger(), &logger) << "the installed logger survives the first log's release";
    EXPECT_EQ(CServiceModule::Instance().ServiceName(), std::wstring(L"Second"));
    EXPECT_NE(logger.Find(L"Exiting CServiceConfigurationImpl::Load"), nullptr);
}

using ServiceModuleTest = LoggedPlatformTest;

TEST_F(ServiceModuleTest, LockFailuresAtConstruction)
{
    CServiceModule healthy;
    EXPECT_FALSE(healthy.FrameworkLockFailed());
    EXPECT_EQ(healthy.Status().currentState, Platform::kServiceStopped);
    EXPECT_EQ(healthy.Status().controlsAccepted, 5u);
    EXPECT_EQ(healthy.ServiceName(), std::wstring(L"QxServiceHost"));

    platform.threads.lockFailures = {8};
    CServiceModule frameworkLockFailed;
    EXPECT_TRUE(frameworkLockFailed.FrameworkLockFailed()) << "recorded, and reported by the entry as -1";

    platform.threads.lockFailures = {0, 8};
    EXPECT_EQ(RaisedBy([] { CServiceModule statusLockFailed; }), HResultFromWin32(8))
        << "a status lock that cannot be initialised must raise";
}

TEST_F(ServiceModuleTest, LogEventCutsItsTextAt255Characters)
{
    CServiceModule::LogEvent(L"Service stopped");
    const std::wstring longText(300, L'x');
    CServiceModule::LogEvent(L"%ls", longText.c_str());
    ASSERT_EQ(logger.records.size(), 2u);
    EXPECT_EQ(logger.records[0].text, L"LogEvent: Service stopped");
    EXPECT_EQ(logger.records[0].level, 3);
    EXPECT_EQ(logger.records[0].severity, L"DBG");
    EXPECT_EQ(logger.records[1].text, L"LogEvent: " + std::wstring(255, L'x'));
}

} // namespace
