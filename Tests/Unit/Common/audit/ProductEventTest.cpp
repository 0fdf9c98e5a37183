// ReportProductEvent through the process-wide registry and disabled-event state, bound to the
// registry root of the settings file; both, and the product information they take the root from,
// are built once on each test's doubles.
#include "Common/ProductInfo.h"
#include "Common/audit/EventReporters.h"
#include "FakeEventLibraries.h"
#include "LoggedPlatformTest.h"

using namespace Qx;
using namespace Qx::Testing;

namespace {

constexpr const wchar_t* kRoot = L"SOFTWARE\\Velquor\\Product";
constexpr const wchar_t* kSettingsRoot = L"C:\\Program Files\\Qx\\ProductInfo2.ini|ProductInfo|RegistryRoot";

using Names = std::vector<std::string>;
using Texts = std::vector<std::wstring>;

class ProductEventTest : public LoggedPlatformTest {
protected:
    ProductEventTest() { EventLibraries().Reset(); }

    static EventRecord StoppedEvent()
    {
        EventRecord event(EventRecord::kServiceStopped);
        event.SetString(4, L"%%3");
        return event;
    }
};

TEST_F(ProductEventTest, ReportsThroughTheChainOfTheProductSourceBuiltOnce)
{
    platform.files.profileValues[kSettingsRoot] = kRoot;
    platform.registry.SetString(kRoot, L"ProductInstallPath", L"C:\\Velquor\\");
    platform.registry.SetString(kRoot, L"EventSource", L"Velquor Audit");
    platform.registry.SetString(kRoot, L"DisabledEvents", L"x:1073807617");
    AddFakeEventReporter(platform.libraries, L"C:\\Velquor\\QxEventReporter.dll");
    AddFakeEventAgent(platform.libraries, L"C:\\Velquor\\QxEventAgentClient.dll");
    ASSERT_EQ(GetProductInfo().RegistryRoot(), kRoot);

    ReportProductEvent(EventRecord(EventRecord::kServiceStarted));
    ReportProductEvent(StoppedEvent());
    EXPECT_EQ(EventLibraries().Names(),
              (Names{"ErInitialize", "EcRegisterEventSource", "ErReportEvent3", "EcWriteEvent"}));
    EXPECT_EQ(EventLibraries().Calls()[2].eventId, EventRecord::kServiceStopped);
    EXPECT_EQ(EventLibraries().Calls()[2].alert, 0u) << "never an alert";
    EXPECT_EQ(logger.Texts(),
              (Texts{L"Event: [Audit] Type=Information Category=0x01 Id=0x40010102", L"       %4=%%3"}));

    const int opens = platform.registry.OpenCalls();
    ReportProductEvent(StoppedEvent());
    EXPECT_EQ(platform.registry.OpenCalls(), opens) << "name, chain and disabled list are all kept";
    EXPECT_EQ(EventLibraries().Names().size(), 6u);
    EXPECT_EQ(&EventReporterRegistry::Instance(), &EventReporterRegistry::Instance());
    EXPECT_EQ(EventReporterRegistry::Instance().GetDefaultReporter(),
              EventReporterRegistry::Instance().GetReporter(L"Audit", L""));
}

// Without a settings file the product registry root is empty: HKEY_LOCAL_MACHINE itself holds no
// event source, and every event goes to a raw dump without a source name.
TEST_F(ProductEventTest, WithoutRegistryRootEventsGoToARawDumpWithoutSourceName)
{
    const ProductInfo info = ProductInfo::ReadFile(ProductInfo::FilePathBeside(FakeProcess::kExecutablePath));
    ASSERT_EQ(info.RegistryRoot(), L"");
    DisabledEventState disabledEvents(info.RegistryRoot());
    EventReporterRegistry registry(info.RegistryRoot(), disabledEvents);
    registry.GetDefaultReporter()->Report(StoppedEvent(), false);
    ASSERT_EQ(logger.records.size(), 3u);
    EXPECT_TRUE(logger.records[0].text.starts_with(L"Failed to get product's event source name: "));
    EXPECT_TRUE(logger.records[0].text.ends_with(L" 0x80070002"));
    EXPECT_EQ(logger.records[1].text, L"Event: [] Type=Information Category=0x01 Id=0x40010102");
    EXPECT_EQ(logger.records[2].text, L"       %4=%%3");
    EXPECT_TRUE(EventLibraries().Calls().empty());
}

} // namespace
